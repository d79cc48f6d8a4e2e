// Command line and run sequence.
#pragma once

#include <cstdint>

namespace cli {

// Reads the options into settings; first becomes the index of the first
// number argument.
[[nodiscard]] bool parse_options(int argc, char** argv, int& first);
[[nodiscard]] bool parse_int_option(int32_t& target, int& index, int argc, char** argv, int32_t min,
                                    int32_t max);
[[nodiscard]] bool print_usage();
[[nodiscard]] bool run_numbers(int first, int argc, char** argv);

// The whole program; returns the exit status.  It can run again in the same
// process: each call starts from the defaults.
int numtone_main(int argc, char** argv);

} // namespace cli
