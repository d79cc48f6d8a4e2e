// The cosine table and the integer dual-tone generator, in-process.
#include "output.h"
#include "reference.h"
#include "run_binary.h"
#include "settings.h"
#include "synth.h"
#include "synth/costab.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// A run with 16-bit mono output, so that each frame shows its sample value
// exactly, written to a file of the test's own.
class Synth : public in_temp_dir {
  protected:
    void start(int32_t table_size = 256, int32_t volume = 100, int32_t speed = 8000,
               int32_t bufsize = 65536) {
        output::reset_output();
        synth::reset_synth();
        cli::settings = cli::Settings{};
        cli::settings.table_size = table_size;
        cli::settings.volume = volume;
        cli::settings.speed = speed;
        cli::settings.bufsize = bufsize;
        cli::settings.use_audio = 0;
        path = dir + "/out";
        cli::settings.output_dev = path.c_str();
        output::sample_format = 16;
        ASSERT_TRUE(output::open_output());
        ASSERT_TRUE(synth::build_costab());
        ASSERT_TRUE(output::alloc_buf());
    }

    // Every sample written so far, the block being filled included.
    std::vector<int32_t> samples() {
        EXPECT_TRUE(output::flush_rest());
        const std::string pcm = read_file(path);
        std::vector<int32_t> v;
        for (size_t i = 0; i + 1 < pcm.size(); i += 2)
            v.push_back(static_cast<int16_t>(static_cast<unsigned char>(pcm[i]) |
                                             static_cast<unsigned char>(pcm[i + 1]) << 8));
        return v;
    }

    void TearDown() override {
        output::reset_output();
        synth::reset_synth();
        in_temp_dir::TearDown();
    }

    std::string path;
};

TEST_F(Synth, CostabEntries) {
    start();
    EXPECT_EQ(synth::costab[0], 16383);
    EXPECT_EQ(synth::costab[1], 16378);
    EXPECT_EQ(synth::costab[2], 16363);
    EXPECT_EQ(synth::costab[3], 16338);
    EXPECT_EQ(synth::costab[64], 0);
    EXPECT_EQ(synth::costab[128], -16383);
    EXPECT_EQ(synth::costab[192], 0);

    start(2);
    EXPECT_EQ(synth::costab[0], 16383);
    EXPECT_EQ(synth::costab[1], -16383);

    start(256, 50);
    EXPECT_EQ(synth::costab[0], 8191); // 0.5 * 16383, truncated

    start(65536, 0);
    for (int32_t i = 0; i < 65536; ++i)
        ASSERT_EQ(synth::costab[i], 0) << i;
}

// Every entry, at sizes and volumes where rounding could go either way.
TEST_F(Synth, CostabEveryEntryAsTheFormulaGives) {
    for (const int32_t n : {2, 3, 256, 1021, 4000, 65536})
        for (const int32_t volume : {0, 1, 37, 100}) {
            start(n, volume);
            const std::vector<int16_t> want = reference_costab(n, volume);
            for (int32_t i = 0; i < n; ++i)
                ASSERT_EQ(synth::costab[i], want[static_cast<size_t>(i)])
                    << "entry " << i << " of " << n << " at volume " << volume;
        }
}

// Key "1" at the defaults: the index pairs of the first six frames are
// (0,0) (22,38) (44,77) (67,115) (89,154) (111,193).
TEST_F(Synth, TonePhaseStepsOfTheWorkedExample) {
    start();
    ASSERT_TRUE(synth::play_key('1'));
    const std::vector<int32_t> v = samples();
    ASSERT_EQ(v.size(), 800u);
    const int pairs[6][2] = {{0, 0}, {22, 38}, {44, 77}, {67, 115}, {89, 154}, {111, 193}};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(v[i], synth::costab[pairs[i][0]] + synth::costab[pairs[i][1]]) << "frame " << i;
    EXPECT_EQ(v[0], 32766);
}

// With two entries both steps are 0 and the indices move only by carries:
// worked by hand from err = 4000, rem = 1394 and 2418.
TEST_F(Synth, ToneTableOfTwoMovesOnlyByCarries) {
    start(2);
    ASSERT_TRUE(synth::play_tone(697, 1209, 100));
    const std::vector<int32_t> v = samples();
    const std::vector<int32_t> want{32766, 32766, 32766, 0, -32766, -32766, 0};
    EXPECT_EQ(std::vector<int32_t>(v.begin(), v.begin() + 7), want);
}

TEST_F(Synth, ToneFrameCountsAndTheFlag) {
    start(256, 100, 5000);
    cli::settings.tone_time = 10;
    ASSERT_TRUE(synth::play_key('D'));
    EXPECT_EQ(samples().size(), 50u);
    EXPECT_TRUE(synth::last_was_tone);

    ASSERT_TRUE(synth::play_silence(50)); // 250 frames at 5000
    EXPECT_EQ(samples().size(), 300u);
    EXPECT_FALSE(synth::last_was_tone);

    ASSERT_TRUE(synth::play_key('d')); // not a key: nothing, flag untouched
    EXPECT_EQ(samples().size(), 300u);
    EXPECT_FALSE(synth::last_was_tone);

    ASSERT_TRUE(synth::play_tone(697, 1209, 0)); // no frames, flag untouched
    EXPECT_FALSE(synth::last_was_tone);
}

TEST_F(Synth, ToneSilentAtVolumeZeroButStillATone) {
    start(256, 0);
    ASSERT_TRUE(synth::play_key('5'));
    EXPECT_TRUE(synth::last_was_tone);
    const std::vector<int32_t> v = samples();
    EXPECT_EQ(v.size(), 800u);
    for (int32_t s : v)
        ASSERT_EQ(s, 0);
}

// Key D is 941 Hz with 1633 Hz: its second frame reads entries
// 941*256/8000 = 30 and 1633*256/8000 = 52.
TEST_F(Synth, ToneKeyD) {
    start();
    ASSERT_TRUE(synth::play_key('D'));
    const std::vector<int32_t> v = samples();
    EXPECT_EQ(v[1], synth::costab[30] + synth::costab[52]);
}

struct tone_case {
    int32_t f1, f2, n, r, ms;
};

TEST_F(Synth, ToneMatchesTheRecurrenceFrameByFrame) {
    const std::vector<tone_case> cases{
        {697, 1209, 256, 8000, 100},    {941, 1633, 2, 8000, 100},
        {941, 1633, 3, 5000, 1000},     {852, 1336, 65536, 48500, 250},
        {770, 1477, 256, 7999, 3000},   {697, 1633, 1000, 44100, 2500},
        {941, 1477, 65536, 4500, 5000}, {697, 1209, 17, 48000, 2100},
        {852, 1209, 255, 11025, 10},    {770, 1336, 4096, 22050, 4001},
    };
    // Odd buffer sizes make blocks that end short of bufsize and fall
    // anywhere in a period, on both the synthesised and the repeated
    // stretches of a long tone.
    for (const int32_t bufsize : {65536, 4093, 5})
        for (const auto& c : cases) {
            start(c.n, 100, c.r, bufsize);
            ASSERT_TRUE(synth::play_tone(c.f1, c.f2, c.ms));
            const std::vector<int32_t> got = samples();
            const std::vector<int32_t> want =
                reference_tone(reference_costab(c.n, 100), c.f1, c.f2, c.r, c.ms * c.r / 1000);
            ASSERT_EQ(got.size(), want.size())
                << c.f1 << "+" << c.f2 << " N=" << c.n << " R=" << c.r << " bufsize " << bufsize;
            const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
            EXPECT_TRUE(diff.first == got.end())
                << c.f1 << "+" << c.f2 << " N=" << c.n << " R=" << c.r << " bufsize " << bufsize
                << ": first differs at frame " << (diff.first - got.begin());
        }
}

} // namespace
