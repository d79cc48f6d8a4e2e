// The cosine table: built once at start-up, read by every tone.
#pragma once

#include <cstdint>

namespace synth {

inline int16_t* costab = nullptr; // table_size entries, one cosine period

} // namespace synth
