// Frame encoding and the block buffer, driven in-process.
#include "output.h"
#include "run_binary.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bytes = std::vector<unsigned char>;

// Sets up the buffer for one layout, as start-up would.
void start(int32_t format, int32_t left, int32_t right, int32_t bufsize = 4096) {
    output::reset_output();
    cli::settings = cli::Settings{};
    cli::settings.left = left;
    cli::settings.right = right;
    cli::settings.bufsize = bufsize;
    output::sample_format = format;
    ASSERT_TRUE(output::alloc_buf());
}

bytes held() {
    return bytes(output::buf, output::buf + output::fill);
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
        start(c.format, 0, 0);
        ASSERT_TRUE(output::put_frame(c.v));
        EXPECT_EQ(held(), c.want) << "format " << c.format << " v " << c.v;
    }
}

struct layout_case {
    int32_t format, left, right;
    bytes want; // the frame of v = 32766
};

TEST(Encoding, FrameLayouts) {
    const std::vector<layout_case> cases{
        {8, 0, 0, {0xFF}},
        {8, 1, 0, {0xFF, 0x80}},
        {8, 0, 1, {0x80, 0xFF}},
        {8, 1, 1, {0xFF, 0xFF}},
        {16, 0, 0, {0xFE, 0x7F}},
        {16, 1, 0, {0xFE, 0x7F, 0x00, 0x00}},
        {16, 0, 1, {0x00, 0x00, 0xFE, 0x7F}},
        {16, 1, 1, {0xFE, 0x7F, 0xFE, 0x7F}},
    };
    for (const auto& c : cases) {
        start(c.format, c.left, c.right);
        ASSERT_TRUE(output::put_frame(32766));
        EXPECT_EQ(held(), c.want) << c.format << " left " << c.left << " right " << c.right;
        start(c.format, c.left, c.right);
        ASSERT_TRUE(output::put_frame(0));
        const bytes silent(c.want.size(), c.format == 8 ? 0x80 : 0x00);
        EXPECT_EQ(held(), silent);
    }
}

// A block holds whole frames: with 4-byte frames and bufsize 11 each block
// is 8 bytes, written as soon as it is full.
TEST(Buffer, BlocksAreWholeFrames) {
    const std::string dir = temp_dir();
    const std::string path = dir + "/out";
    start(16, 1, 1, 11);
    output::out_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(output::out_fd, 0);
    ASSERT_TRUE(output::put_frame(0x0102));
    EXPECT_EQ(output::fill, 4);
    ASSERT_TRUE(output::put_frame(0x0304)); // a full block of two frames
    EXPECT_EQ(output::fill, 0);
    EXPECT_EQ(read_file(path), std::string("\x02\x01\x02\x01\x04\x03\x04\x03"));
    ASSERT_TRUE(output::put_frame(0x0506));
    EXPECT_EQ(held(), (bytes{0x06, 0x05, 0x06, 0x05}));
    ASSERT_TRUE(output::flush_rest());
    ASSERT_TRUE(output::close_output());
    EXPECT_EQ(read_file(path).size(), 12u);
    std::filesystem::remove_all(dir);
}

TEST(Buffer, FullBlockIsWrittenAndEmptied) {
    const std::string dir = temp_dir();
    const std::string path = dir + "/out";
    start(8, 0, 0, 4);
    output::out_fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int i = 0; i < 4; ++i)
        ASSERT_TRUE(output::put_frame(0));
    EXPECT_EQ(output::fill, 0);
    EXPECT_EQ(read_file(path), std::string(4, '\x80'));
    ASSERT_TRUE(output::flush_rest()); // nothing left: no write
    ASSERT_TRUE(output::close_output());
    EXPECT_EQ(read_file(path).size(), 4u);
    std::filesystem::remove_all(dir);
}

} // namespace
