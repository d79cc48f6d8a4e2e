// Option parsing and the usage text, for the run sequence.
#pragma once

#include <cstdint>

namespace cli {

// Reads the options into settings; first becomes the index of the first
// number argument.
[[nodiscard]] bool parse_options(int argc, char** argv, int& first);
[[nodiscard]] bool parse_int_option(int32_t& target, int& index, int argc, char** argv, int32_t min,
                                    int32_t max);
[[nodiscard]] bool print_usage();

} // namespace cli
