// PCM output, as the run sequence and the synthesis see it: opening the
// output, negotiation, and frames handed over for encoding and writing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace output {

// The encoding in force: 8 is unsigned 8-bit, anything else signed 16-bit
// little-endian.  The run sequence sets it from --bits; the device's answer
// to the format request replaces it.
inline int32_t sample_format = 8;

[[nodiscard]] bool open_output();
[[nodiscard]] bool setup_audio();
[[nodiscard]] bool alloc_buf();
[[nodiscard]] bool flush_rest();
[[nodiscard]] bool close_output();

// Drops what an earlier in-process run left behind, so that tests and the
// fuzzer can run the program more than once in one process.
void reset_output();

// Bytes per frame: 1 or 2 per sample, one or two samples.
int32_t frame_bytes();

// Encodes count sample values as count frames at p.  A value is at most
// 32766 in magnitude.
void encode(unsigned char* p, const int32_t* v, int32_t count);

// Appends the frames of count sample values to the block, writing each
// block out as it fills.
[[nodiscard]] bool put_frames(const int32_t* v, int32_t count);

[[nodiscard]] inline bool put_frame(int32_t v) {
    return put_frames(&v, 1);
}

// Appends whole frames already encoded, as put_frames would have them.
[[nodiscard]] bool put_bytes(const unsigned char* p, size_t n);

} // namespace output
