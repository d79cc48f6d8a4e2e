// Frame encoding and the block buffer, driven in-process.
#include "output.h"
#include "run_binary.h"
#include "settings.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

// The frame layout of one run, as start-up would leave it.
void layout(int32_t format, int32_t left, int32_t right) {
    output::reset_output();
    cli::settings = cli::Settings{};
    cli::settings.left = left;
    cli::settings.right = right;
    output::sample_format = format;
}

bytes encoded(int32_t v) {
    unsigned char f[4];
    output::encode(f, &v, 1);
    return bytes(f, f + output::frame_bytes());
}

struct encoding_case {
    int32_t format;
    int32_t v;
    bytes want;
};

TEST(Encoding, SampleValues) {
    const std::vector<encoding_case> cases{
        {8, 32766, {0xFF}},
        {8, 0, {0x80}},
        {8, -32766, {0x00}},
        {8, 255, {0x80}},
        {8, -1, {0x7F}},
        {8, 256, {0x81}},
        {16, -2, {0xFE, 0xFF}},
        {16, 32766, {0xFE, 0x7F}},
        {16, 0, {0x00, 0x00}},
        {16, -32766, {0x02, 0x80}},
        // The device may answer a format other than 8 or 16: it means 16-bit.
        {9, 32766, {0xFE, 0x7F}},
        {0, -2, {0xFE, 0xFF}},
    };
    for (const auto& c : cases) {
        layout(c.format, 0, 0);
        EXPECT_EQ(encoded(c.v), c.want) << "format " << c.format << " v " << c.v;
    }
}

struct layout_case {
    int32_t format, left, right;
    bytes want; // the frame of v = -32766
};

TEST(Encoding, FrameLayouts) {
    const std::vector<layout_case> cases{
        {8, 0, 0, {0x00}},
        {8, 1, 0, {0x00, 0x80}},
        {8, 0, 1, {0x80, 0x00}},
        {8, 1, 1, {0x00, 0x00}},
        {16, 0, 0, {0x02, 0x80}},
        {16, 1, 0, {0x02, 0x80, 0x00, 0x00}},
        {16, 0, 1, {0x00, 0x00, 0x02, 0x80}},
        {16, 1, 1, {0x02, 0x80, 0x02, 0x80}},
    };
    for (const auto& c : cases) {
        layout(c.format, c.left, c.right);
        EXPECT_EQ(encoded(-32766), c.want)
            << c.format << " left " << c.left << " right " << c.right;
        const bytes silent(c.want.size(), c.format == 8 ? 0x80 : 0x00);
        EXPECT_EQ(encoded(0), silent);
    }
}

// A run of frames written to a file, with the buffer of that run.
class Buffer : public in_temp_dir {
  protected:
    void start(int32_t bufsize) {
        layout(16, 1, 1);
        path = dir + "/out";
        cli::settings.output_dev = path.c_str();
        cli::settings.use_audio = 0;
        cli::settings.bufsize = bufsize;
        ASSERT_TRUE(output::open_output());
        ASSERT_TRUE(output::alloc_buf());
    }
    void TearDown() override {
        output::reset_output();
        in_temp_dir::TearDown();
    }
    std::string path;
};

// A block holds whole frames: with 4-byte frames and bufsize 11 each block
// is 8 bytes, written as soon as it is full.
TEST_F(Buffer, BlocksAreWholeFrames) {
    start(11);
    ASSERT_TRUE(output::put_frame(0x0102));
    EXPECT_EQ(read_file(path), "");
    ASSERT_TRUE(output::put_frame(0x0304)); // a full block of two frames
    EXPECT_EQ(read_file(path), std::string("\x02\x01\x02\x01\x04\x03\x04\x03"));
    ASSERT_TRUE(output::put_frame(0x0506));
    EXPECT_EQ(read_file(path).size(), 8u);
    ASSERT_TRUE(output::flush_rest());
    EXPECT_EQ(read_file(path).substr(8), std::string("\x06\x05\x06\x05"));
    ASSERT_TRUE(output::close_output());
}

// Frames handed over many at a time fill blocks across their ends, and the
// bytes are those of one frame at a time.
TEST_F(Buffer, RunsOfFramesCrossBlockEnds) {
    start(4 * 3 + 2);
    const std::vector<int32_t> v{1, -2, 300, -400, 5000, -6000, 32766};
    ASSERT_TRUE(output::put_frames(v.data(), static_cast<int32_t>(v.size())));
    EXPECT_EQ(read_file(path).size(), 24u); // two blocks of three frames
    ASSERT_TRUE(output::flush_rest());
    ASSERT_TRUE(output::flush_rest()); // nothing left: no write
    ASSERT_TRUE(output::close_output());
    std::string want;
    for (int32_t x : v) {
        const bytes f = encoded(x);
        want.append(f.begin(), f.end());
    }
    EXPECT_EQ(read_file(path), want);
}

} // namespace
