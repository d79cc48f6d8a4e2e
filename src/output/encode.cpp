// Frame encoding: sample values to the bytes of the run's frame layout.
#include "output.h"
#include "settings.h"

namespace output {

namespace {

// Unsigned 8-bit with 128 as the zero line: the high byte of v with its top
// bit flipped.
inline void put_u8(unsigned char* p, int32_t v) {
    p[0] = static_cast<unsigned char>((v >> 8) - 128);
}

// Signed 16-bit little-endian.  Two byte stores, which compilers merge into
// one store on a little-endian machine and a byte-swapped one on a
// big-endian machine, so the bytes are the same everywhere.
inline void put_s16(unsigned char* p, int32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

bool stereo() {
    return cli::settings.left == 1 || cli::settings.right == 1;
}

} // namespace

int32_t frame_bytes() {
    const int32_t sample = sample_format == 8 ? 1 : 2;
    return stereo() ? 2 * sample : sample;
}

// One plain loop per sample width and channel count; the format is fixed
// for the run, so each loop holds nothing but the stores.  In a stereo
// frame a channel without the tone gets the encoding of 0: the value is
// masked with all ones for a channel that carries the tone, and with zero
// for one that does not.
void encode(unsigned char* p, const int32_t* v, int32_t count) {
    const int32_t first = cli::settings.left == 1 ? -1 : 0;
    const int32_t second = cli::settings.right == 1 ? -1 : 0;
    if (sample_format == 8 && !stereo()) {
        for (int32_t i = 0; i < count; ++i)
            put_u8(p + i, v[i]);
    } else if (sample_format == 8) {
        for (int32_t i = 0; i < count; ++i) {
            put_u8(p + 2 * i, v[i] & first);
            put_u8(p + 2 * i + 1, v[i] & second);
        }
    } else if (!stereo()) {
        for (int32_t i = 0; i < count; ++i)
            put_s16(p + 2 * i, v[i]);
    } else {
        for (int32_t i = 0; i < count; ++i) {
            put_s16(p + 4 * i, v[i] & first);
            put_s16(p + 4 * i + 2, v[i] & second);
        }
    }
}

} // namespace output
