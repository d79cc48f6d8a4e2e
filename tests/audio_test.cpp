// Tools we did not write judge the output: multimon-ng decodes the digits,
// sox measures lengths and silences.
#include "run_binary.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string all_keys = "0123456789*#ABCD";

std::string decode(const std::string& path, const raw_format& f, int channel) {
    return decode_dtmf(f.sox_input(path), channel);
}

double sox_stat(const std::string& path, const raw_format& f, int channel, const std::string& field,
                const std::string& trim = "") {
    return ::sox_stat(f.sox_input(path), channel, field, trim);
}

struct setting {
    std::vector<std::string> args;
    std::vector<std::string> numbers = {all_keys};
};

class Decoded : public in_temp_dir {};

TEST_F(Decoded, EveryKeyInEveryFormat) {
    REQUIRE_TOOLS("sox", "multimon-ng");
    const std::vector<setting> settings{
        {{}},
        {{"--bits", "16"}},
        {{"--left", "1"}},
        {{"--right", "1"}},
        {{"--left", "1", "--right", "1"}},
        {{"--bits", "16", "--left", "1", "--speed", "44100"}},
        {{"--bits", "16", "--right", "1", "--speed", "11025", "--volume", "50"}},
        {{"--bits", "16", "--left", "1", "--right", "1", "--speed", "48000"}},
        {{"--speed", "5000", "--table-size", "16"}},
        {{"--speed", "8000", "--volume", "50"}},
        {{"--speed", "11025", "--volume", "3", "--table-size", "65536"}},
        {{"--speed", "22050", "--bits", "16", "--volume", "5", "--table-size", "64"}},
        {{"--speed", "44100", "--tone-time", "40", "--silent-time", "40"}},
        {{"--speed", "48000", "--table-size", "65536", "--tone-time", "40", "--silent-time", "40",
          "--bits", "16", "--volume", "10"}},
        {{"--speed", "5000", "--tone-time", "40", "--silent-time", "40", "--table-size", "16",
          "--right", "1"}},
        {{"--tone-time", "2500", "--silent-time", "60", "--speed", "22050"}, {"19#D"}},
        {{}, {"555,1212"}},
        {{"--sleep-time", "100"}, {"555", "1212"}},
        {{"--sleep-time", "60", "--bits", "16"}, {"1-800 555-0199", "*72#"}},
    };
    for (const auto& s : settings) {
        const std::string raw = dir + "/out.raw";
        std::vector<std::string> args{"--use-audio", "0", "--output-dev", raw};
        args.insert(args.end(), s.args.begin(), s.args.end());
        args.insert(args.end(), s.numbers.begin(), s.numbers.end());
        const run_result r = run_numtone(args);
        ASSERT_EQ(r.status, 0) << "\n" << excerpt(r.err);

        const std::string want = keys_of(s.numbers);
        const raw_format f(s.args);
        const std::string what = show_args(s.args);
        for (int ch = 1; ch <= f.channels; ++ch) {
            if (f.carries(ch)) {
                EXPECT_EQ(decode(raw, f, ch), want) << what << " channel " << ch;
            } else {
                EXPECT_EQ(sox_stat(raw, f, ch, "Maximum amplitude"), 0.0) << what;
                EXPECT_EQ(sox_stat(raw, f, ch, "Minimum amplitude"), 0.0) << what;
                EXPECT_EQ(decode(raw, f, ch), "") << what;
            }
        }
        const double seconds = static_cast<double>(walk_frames(s.numbers, s.args)) / f.rate;
        EXPECT_NEAR(sox_stat(raw, f, 1, "Length (seconds)"), seconds, 1e-5) << what;
    }
}

// Volume 0 plays silent tones of the full length.
TEST_F(Decoded, VolumeZeroIsSilentButTimed) {
    REQUIRE_TOOLS("sox", "multimon-ng");
    const std::string raw = dir + "/out.raw";
    ASSERT_EQ(run_numtone({"--use-audio", "0", "--output-dev", raw, "--volume", "0", "123"}).status,
              0);
    const raw_format f({});
    EXPECT_EQ(decode(raw, f, 1), "");
    EXPECT_EQ(sox_stat(raw, f, 1, "Maximum amplitude"), 0.0);
    EXPECT_NEAR(sox_stat(raw, f, 1, "Length (seconds)"), 0.4, 1e-6);
}

// Each stretch the walk puts between tones is silent, and each tone is not:
// 1, gap, 2, pause, pause, 3, gap (from the x), pause, 4.
TEST_F(Decoded, SilenceExactlyWhereTheWalkPutsIt) {
    REQUIRE_TOOLS("sox");
    const std::string raw = dir + "/out.raw";
    const std::vector<std::string> opts{"--bits",       "16",  "--speed",       "8000",
                                        "--tone-time",  "100", "--silent-time", "30",
                                        "--sleep-time", "70"};
    std::vector<std::string> args{"--use-audio", "0", "--output-dev", raw};
    args.insert(args.end(), opts.begin(), opts.end());
    args.insert(args.end(), {"12,,3x,", "4"});
    ASSERT_EQ(run_numtone(args).status, 0);
    const raw_format f(opts);
    struct stretch {
        long frames;
        bool silent;
    };
    const std::vector<stretch> walk{{800, false}, {240, true}, {800, false},
                                    {560, true},  {560, true}, {800, false},
                                    {240, true},  {560, true}, {800, false}};
    long at = 0;
    for (const auto& s : walk) {
        const std::string trim =
            "trim " + std::to_string(at) + "s " + std::to_string(s.frames) + "s";
        const double peak = sox_stat(raw, f, 1, "Maximum amplitude", trim);
        if (s.silent)
            EXPECT_EQ(peak, 0.0) << "frames " << at << " to " << at + s.frames;
        else
            EXPECT_GT(peak, 0.5) << "frames " << at << " to " << at + s.frames;
        at += s.frames;
    }
    EXPECT_NEAR(sox_stat(raw, f, 1, "Length (seconds)"), at / 8000.0, 1e-6);
}

} // namespace
