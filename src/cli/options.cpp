// Option parsing and the usage text.
#include "options.h"
#include "report.h"
#include "settings.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace cli {

namespace {

struct int_option {
    const char* name;
    int32_t Settings::*field;
    int32_t min;
    int32_t max;
};

// Names are matched whole and case-sensitively.  The ranges keep every later
// product (ms * rate, Hz * table size) inside 32 bits.
constexpr std::array<int_option, 11> int_options{{
    {"--table-size", &Settings::table_size, 2, 65536},
    {"--tone-time", &Settings::tone_time, 10, 10000},
    {"--sleep-time", &Settings::sleep_time, 10, 10000},
    {"--silent-time", &Settings::silent_time, 10, 10000},
    {"--volume", &Settings::volume, 0, 100},
    {"--speed", &Settings::speed, 5000, 48000},
    {"--bits", &Settings::bits, 8, 16},
    {"--bufsize", &Settings::bufsize, 4, 65536},
    {"--use-audio", &Settings::use_audio, 0, 1},
    {"--right", &Settings::right, 0, 1},
    {"--left", &Settings::left, 0, 1},
}};

constexpr const char usage_text[] = "usage: numtone [options] number ...\n"
                                    " Valid options with their default values are:\n"
                                    "   Duration options:\n"
                                    "     --tone-time   100\n"
                                    "     --silent-time 50\n"
                                    "     --sleep-time  500\n"
                                    "   Audio output  options:\n"
                                    "     --output-dev  /dev/dsp\n"
                                    "     --use-audio   1\n"
                                    "     --bufsize     4096\n"
                                    "     --speed       8000\n"
                                    "     --bits        8\n"
                                    "   Audio generation options:\n"
                                    "     --table-size  256\n"
                                    "     --volume      100\n"
                                    "     --left        0\n"
                                    "     --right       0\n";

constexpr bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
constexpr bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Reads s as atoi does (leading white space, one sign, digits up to the first
// non-digit, no digits is 0), but where atoi would wrap a value past 32 bits
// this reports it instead, so that it can be refused as out of range.
[[nodiscard]] bool read_int(const char* s, int32_t& value) {
    while (is_space(*s))
        ++s;
    const bool negative = *s == '-';
    if (*s == '-' || *s == '+')
        ++s;
    int64_t magnitude = 0;
    for (; is_digit(*s); ++s) {
        magnitude = magnitude * 10 + (*s - '0');
        if (magnitude > INT64_C(2147483648))
            return false;
    }
    if (negative)
        magnitude = -magnitude;
    if (magnitude > INT32_MAX)
        return false;
    value = static_cast<int32_t>(magnitude);
    return true;
}

} // namespace

bool print_usage() {
    std::fputs(usage_text, stderr);
    return false;
}

bool parse_int_option(int32_t& target, int& index, int argc, char** argv, int32_t min,
                      int32_t max) {
    if (index + 1 >= argc)
        return print_usage();
    const bool fits = read_int(argv[index + 1], target);
    if (!fits || target < min || target > max)
        return fail("Value for %s should be in the range %d..%d\n", argv[index] + 2, min, max);
    ++index;
    return true;
}

// Parses the option at index, leaving index on its value.
[[nodiscard]] static bool parse_option(int& index, int argc, char** argv) {
    const char* a = argv[index];
    for (const int_option& o : int_options)
        if (std::strcmp(a, o.name) == 0)
            return parse_int_option(settings.*o.field, index, argc, argv, o.min, o.max);
    if (std::strcmp(a, "--output-dev") == 0) {
        if (index + 1 >= argc)
            return print_usage();
        settings.output_dev = argv[++index]; // whatever it holds, even "--..."
        return true;
    }
    return print_usage();
}

bool parse_options(int argc, char** argv, int& first) {
    int i = 1;
    if (i >= argc)
        return print_usage();
    while (std::strncmp(argv[i], "--", 2) == 0) {
        if (!parse_option(i, argc, argv))
            return false;
        if (++i >= argc) // at least one number must follow the options
            return print_usage();
    }
    first = i;
    return true;
}

} // namespace cli
