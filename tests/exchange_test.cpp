// A telephone exchange's DTMF receiver judges the output: spandsp's
// dtmf_rx (tests/dtmf_judge.c), the Q.24 receiver of soft switches, must
// hear exactly the keys dialled on every channel that carries the tone and
// nothing on a silent one, across the settings users pick and just inside
// each limit that README.md publishes for it.
#include "run_binary.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

const std::string all_keys = "0123456789*#ABCD";
// Repeated keys, which only the gap between them parts.
const std::string pairs = "00112233445566778899**##AABBCCDD";

struct exchange_case {
    std::vector<std::string> args;
    std::string number = all_keys;
};

class Exchange : public in_temp_dir {
  protected:
    void SetUp() override {
        in_temp_dir::SetUp();
        if (std::string(DTMF_JUDGE).empty()) {
            if (std::getenv("CI") != nullptr)
                FAIL() << "dtmf_judge was not built: spandsp (libspandsp-dev) is missing";
            GTEST_SKIP() << "dtmf_judge was not built: spandsp (libspandsp-dev) is missing";
        }
        REQUIRE_TOOLS("sox");
    }

    void expect_heard(const std::vector<exchange_case>& cases) {
        for (const auto& c : cases) {
            const std::string raw = dir + "/out.raw";
            std::vector<std::string> args{"--use-audio", "0", "--output-dev", raw};
            args.insert(args.end(), c.args.begin(), c.args.end());
            args.push_back(c.number);
            const run_result r = run_numtone(args);
            ASSERT_EQ(r.status, 0) << show_args(c.args) << "\n" << excerpt(r.err);
            const raw_format f(c.args);
            for (int ch = 1; ch <= f.channels; ++ch)
                EXPECT_EQ(exchange_hears(raw, f, ch), f.carries(ch) ? keys_of({c.number}) : "")
                    << show_args(c.args) << " " << c.number << ", channel " << ch;
        }
    }
};

TEST_F(Exchange, HearsEveryKeyInEveryFormat) {
    expect_heard({
        {{}},
        {{"--bits", "16"}},
        {{"--left", "1"}},
        {{"--right", "1"}},
        {{"--left", "1", "--right", "1"}},
        {{"--bits", "16", "--left", "1"}},
        {{"--bits", "16", "--right", "1", "--speed", "44100"}},
        {{"--bits", "16", "--left", "1", "--right", "1", "--speed", "48000"}},
        {{"--speed", "5000"}},
        {{"--speed", "6007", "--bits", "16"}},
        {{"--speed", "7919", "--right", "1"}},
        {{"--speed", "11025", "--table-size", "65536"}},
        {{"--speed", "22050", "--bits", "16", "--table-size", "1021", "--volume", "50"}},
        {{"--speed", "32000", "--volume", "25", "--left", "1"}},
        {{"--speed", "47999", "--bits", "16", "--table-size", "64"}},
        {{"--tone-time", "60", "--silent-time", "30"}, pairs},
        {{"--bits", "16", "--speed", "16000", "--tone-time", "50", "--silent-time", "50"}, pairs},
        {{"--sleep-time", "60"}, "00,11 2-2 3x3"},
        {{"--tone-time", "2500", "--silent-time", "100", "--speed", "44100"}, "00"},
    });
}

// Each limit on its own, the other settings at their defaults: the lowest
// volume in each width, the smallest table at low and high rates, the
// shortest tone and the shortest gap.
TEST_F(Exchange, HearsJustInsideEachLimit) {
    expect_heard({
        {{"--bits", "16", "--volume", "2"}},
        {{"--bits", "16", "--volume", "2", "--speed", "5000"}},
        {{"--bits", "16", "--volume", "2", "--speed", "44100", "--right", "1"}},
        {{"--volume", "3"}},
        {{"--volume", "3", "--speed", "11025", "--left", "1"}},
        {{"--volume", "3", "--speed", "48000"}},
        {{"--table-size", "5", "--speed", "5000"}},
        {{"--table-size", "5", "--speed", "8000", "--bits", "16"}},
        {{"--table-size", "5", "--speed", "9973"}},
        {{"--table-size", "4", "--speed", "11025", "--bits", "16"}},
        {{"--table-size", "4", "--speed", "48000"}},
        {{"--tone-time", "34"}},
        {{"--tone-time", "34", "--speed", "7919", "--bits", "16"}},
        {{"--tone-time", "34", "--speed", "44100"}},
        {{"--silent-time", "18"}, pairs},
        {{"--silent-time", "18", "--speed", "5000", "--bits", "16"}, pairs},
        {{"--silent-time", "18", "--speed", "48000", "--left", "1"}, pairs},
    });
}

// All the limits at once, where they compound: table 16, volume 10, tone
// 40 ms, gap 20 ms, at odd rates, in both widths and every layout.
TEST_F(Exchange, HearsAtTheCornerOfAllLimits) {
    const std::vector<std::string> corner{"--table-size", "16", "--volume",      "10",
                                          "--tone-time",  "40", "--silent-time", "20"};
    std::vector<exchange_case> cases;
    const std::vector<std::vector<std::string>> others{
        {"--speed", "5000"},
        {"--speed", "7919", "--bits", "16"},
        {"--speed", "8000", "--left", "1"},
        {"--speed", "11025", "--right", "1", "--bits", "16"},
        {"--speed", "30011", "--left", "1", "--right", "1"},
        {"--speed", "48000", "--bits", "16"},
    };
    for (auto args : others) {
        args.insert(args.end(), corner.begin(), corner.end());
        cases.push_back({args, pairs});
    }
    expect_heard(cases);
}

} // namespace
