// Option values of one run, shared by every subsystem.
#pragma once

#include <cstdint>

namespace cli {

// The output when --output-dev is not given.  Settings starts pointing at
// this very array, which has one address in the whole program, so comparing
// pointers tells a path the user named (even one spelled the same) from the
// default.  A string literal would not do: copies of one need not share an
// address, and under AddressSanitizer they do not.
inline constexpr char default_output_dev[] = "/dev/dsp";

// Every field holds its default until the command line changes it.  All but
// output_dev are 32-bit: the accepted ranges keep later products below 2^31.
struct Settings {
    int32_t tone_time = 100;
    int32_t silent_time = 50;
    int32_t sleep_time = 500;
    const char* output_dev = default_output_dev; // borrowed from argv, or the default
    int32_t use_audio = 1;
    int32_t bufsize = 4096;
    int32_t speed = 8000; // replaced by the rate the device grants
    int32_t bits = 8;
    int32_t table_size = 256;
    int32_t volume = 100;
    int32_t left = 0;
    int32_t right = 0;
};

inline Settings settings;

} // namespace cli
