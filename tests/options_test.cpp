// Option parsing, in-process: which values land where.
#include "cli/options.h"
#include "settings.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct parsed {
    bool ok;
    int first;
};

parsed parse(std::vector<std::string> args) {
    cli::settings = cli::Settings{};
    args.insert(args.begin(), "numtone");
    static std::vector<std::string> keep; // output_dev borrows from argv
    keep = args;
    std::vector<char*> argv;
    for (auto& a : keep)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int first = -1;
    const bool ok = cli::parse_options(static_cast<int>(keep.size()), argv.data(), first);
    return {ok, first};
}

struct value_case {
    std::vector<std::string> args;
    int32_t cli::Settings::*field;
    int32_t want;
};

TEST(Options, ValuesReadAsAtoiWould) {
    using S = cli::Settings;
    const std::vector<value_case> cases{
        {{"--volume", "50", "1"}, &S::volume, 50},
        {{"--volume", "  50", "1"}, &S::volume, 50},
        {{"--volume", "\t\n+50", "1"}, &S::volume, 50},
        {{"--volume", "50abc", "1"}, &S::volume, 50},
        {{"--volume", "abc", "1"}, &S::volume, 0},
        {{"--volume", "-0", "1"}, &S::volume, 0},
        {{"--volume", "", "1"}, &S::volume, 0},
        {{"--speed", "8000Hz", "1"}, &S::speed, 8000},
        {{"--speed", "00000000000000000000011025", "1"}, &S::speed, 11025},
        {{"--volume", "10", "--volume", "20", "1"}, &S::volume, 20},
        {{"--volume", "--left", "1", "5"}, &S::volume, 0},
        {{"--volume", "--left", "1", "5"}, &S::left, 0},
        {{"--table-size", "2", "1"}, &S::table_size, 2},
        {{"--table-size", "65536", "1"}, &S::table_size, 65536},
        {{"--bufsize", "4", "1"}, &S::bufsize, 4},
        {{"--tone-time", "10000", "1"}, &S::tone_time, 10000},
        {{"--silent-time", "10", "1"}, &S::silent_time, 10},
        {{"--sleep-time", "77", "1"}, &S::sleep_time, 77},
        {{"--bits", "12", "1"}, &S::bits, 12}, // refused later, after open
        {{"--use-audio", "0", "1"}, &S::use_audio, 0},
        {{"--left", "1", "--right", "1", "1"}, &S::right, 1},
        {{"1"}, &S::tone_time, 100},
    };
    for (const auto& c : cases) {
        const parsed p = parse(c.args);
        ASSERT_TRUE(p.ok) << c.args[0] << " " << c.args[1];
        EXPECT_EQ(cli::settings.*c.field, c.want) << c.args[0] << " " << c.args[1];
    }
}

TEST(Options, FirstNumberArgument) {
    EXPECT_EQ(parse({"1"}).first, 1);
    EXPECT_EQ(parse({"--volume", "--left", "1", "5"}).first, 3);
    // After the first number everything is a number, "--" or not.
    EXPECT_EQ(parse({"12", "--volume", "5"}).first, 1);
    EXPECT_EQ(parse({"-v"}).first, 1);
}

TEST(Options, OutputDevTakesAnything) {
    ASSERT_TRUE(parse({"--output-dev", "--left", "1"}).ok);
    EXPECT_STREQ(cli::settings.output_dev, "--left");
    ASSERT_TRUE(parse({"--output-dev", "-", "1"}).ok);
    EXPECT_STREQ(cli::settings.output_dev, "-");
    ASSERT_TRUE(parse({"1"}).ok);
    EXPECT_STREQ(cli::settings.output_dev, "/dev/dsp");
}

TEST(Options, Refused) {
    const std::vector<std::vector<std::string>> cases{
        {},
        {"--volume", "50"},
        {"--speed"},
        {"--output-dev"},
        {"--output-dev", "x"},
        {"--frobnicate", "1"},
        {"--", "1"},
        {"--Volume", "5", "1"},
        {"--volume=5", "1"},
        {"--vol", "5", "1"},
        {"--volume", "101", "1"},
        {"--volume", "-1", "1"},
        {"--volume", "4294967396", "1"},  // wraps to 100 under atoi
        {"--volume", "-4294967296", "1"}, // wraps to 0
        {"--speed", "2147483648", "1"},
        {"--speed", "99999999999999999999999", "1"},
        {"--bits", "24", "1"},
        {"--bufsize", "3", "1"},
        {"--table-size", "65537", "1"},
        {"--use-audio", "2", "1"},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(parse(c).ok) << (c.empty() ? "" : c[0]);
}

} // namespace
