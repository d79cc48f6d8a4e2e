// PCM output: the descriptor, the block buffer and the frame encodings.
#pragma once

#include "settings.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace output {

inline int out_fd = -1;
inline int32_t sample_format = 8; // 8 is unsigned 8-bit; anything else s16le
inline unsigned char* buf = nullptr;
inline int32_t fill = 0;
inline int32_t block = 0; // bytes per write: bufsize in whole frames

[[nodiscard]] bool open_output();
[[nodiscard]] bool setup_audio();
[[nodiscard]] bool alloc_buf();
[[nodiscard]] bool put_frame(int32_t v);
// Appends frames already encoded, as put_frame would one by one.
[[nodiscard]] bool put_bytes(const unsigned char* p, size_t n);
[[nodiscard]] bool flush_rest();
[[nodiscard]] bool close_output();

// Drops what an earlier in-process run left behind, so that tests and the
// fuzzer can run the program more than once in one process.
void reset_output();

// The two sample encodings.  v is at most 32766 in magnitude.
struct u8_sample {
    static constexpr int32_t bytes = 1;
    static void put(unsigned char* p, int32_t v) {
        p[0] = static_cast<unsigned char>((v >> 8) - 128);
    }
};

struct s16le_sample {
    static constexpr int32_t bytes = 2;
    static void put(unsigned char* p, int32_t v) {
        if constexpr (std::endian::native == std::endian::little) {
            const auto le = static_cast<uint16_t>(v); // one store, not two
            std::memcpy(p, &le, sizeof le);
        } else {
            p[0] = static_cast<unsigned char>(v);
            p[1] = static_cast<unsigned char>(v >> 8);
        }
    }
};

enum class channels : uint8_t { mono, left, right, both };

// One frame of sample type S in channel layout C; the silent side of a
// one-sided stereo frame is the encoding of 0.
template <class S, channels C>
struct frame {
    static constexpr int32_t bytes = C == channels::mono ? S::bytes : 2 * S::bytes;
    static void store(unsigned char* p, int32_t v) {
        S::put(p, C == channels::right ? 0 : v);
        if constexpr (C != channels::mono)
            S::put(p + S::bytes, C == channels::left ? 0 : v);
    }
};

// The frame layout is fixed for the run once negotiation has settled
// sample_format; callers pick one specialised loop per tone from this.
enum class layout : uint8_t {
    u8_mono,
    u8_left,
    u8_right,
    u8_both,
    s16_mono,
    s16_left,
    s16_right,
    s16_both
};

inline int32_t frame_bytes() {
    const int32_t sample = sample_format == 8 ? 1 : 2;
    return cli::settings.left == 1 || cli::settings.right == 1 ? 2 * sample : sample;
}

inline layout frame_layout() {
    const int wide = sample_format == 8 ? 0 : 4;
    const int side = cli::settings.left + 2 * cli::settings.right;
    return static_cast<layout>(wide + side);
}

// The one place where the run's layout becomes a frame type: body is a
// template lambda, instantiated once per layout, so the loop it holds has no
// format test inside.
template <class Body>
decltype(auto) with_frame(Body&& body) {
    using enum channels;
    switch (frame_layout()) {
    case layout::u8_mono:
        return body.template operator()<frame<u8_sample, mono>>();
    case layout::u8_left:
        return body.template operator()<frame<u8_sample, left>>();
    case layout::u8_right:
        return body.template operator()<frame<u8_sample, right>>();
    case layout::u8_both:
        return body.template operator()<frame<u8_sample, both>>();
    case layout::s16_mono:
        return body.template operator()<frame<s16le_sample, mono>>();
    case layout::s16_left:
        return body.template operator()<frame<s16le_sample, left>>();
    case layout::s16_right:
        return body.template operator()<frame<s16le_sample, right>>();
    case layout::s16_both:
        return body.template operator()<frame<s16le_sample, both>>();
    }
    __builtin_unreachable();
}

// Whole-frame access to the block being filled, for the synthesis loops:
// room() bytes are free at cursor(); advance() accounts for the bytes stored
// there and writes the block out once it is full.
inline int32_t room() {
    return block - fill;
}
inline unsigned char* cursor() {
    return buf + fill;
}
[[nodiscard]] bool advance(int32_t bytes);

} // namespace output
