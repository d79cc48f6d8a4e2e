// Keypad tone synthesis, as the run sequence sees it.
#pragma once

#include <cstdint>

namespace synth {

inline bool last_was_tone = false; // set by a tone, cleared by a silence

[[nodiscard]] bool build_costab();
[[nodiscard]] bool play_key(char c);
[[nodiscard]] bool play_tone(int32_t f1, int32_t f2, int32_t ms);
[[nodiscard]] bool play_silence(int32_t ms);

// Frees what an earlier in-process run built, as reset_output does.
void reset_synth();

} // namespace synth
