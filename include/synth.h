// Keypad tone synthesis: cosine table, key table, tone and silence.
#pragma once

#include <cstdint>

namespace synth {

inline int16_t* costab = nullptr;  // table_size entries, one cosine period
inline bool last_was_tone = false; // set by a tone, cleared by a silence

[[nodiscard]] bool build_costab();
[[nodiscard]] bool play_key(char c);
[[nodiscard]] bool play_tone(int32_t f1, int32_t f2, int32_t ms);
[[nodiscard]] bool play_silence(int32_t ms);

void reset_synth();

} // namespace synth
