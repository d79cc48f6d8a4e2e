// Key tones and silences, as frames handed to the output.
#include "output.h"
#include "settings.h"
#include "synth.h"

#include <algorithm>
#include <array>

namespace synth {

namespace {

struct key {
    char c;
    int16_t row_hz;
    int16_t col_hz;
};

// The DTMF matrix: rows 697, 770, 852, 941 Hz; columns 1209, 1336, 1477,
// 1633 Hz.  Only these 16 bytes are keys; lower-case a to d are not.
constexpr std::array<key, 16> keys{{
    {'1', 697, 1209},
    {'2', 697, 1336},
    {'3', 697, 1477},
    {'A', 697, 1633},
    {'4', 770, 1209},
    {'5', 770, 1336},
    {'6', 770, 1477},
    {'B', 770, 1633},
    {'7', 852, 1209},
    {'8', 852, 1336},
    {'9', 852, 1477},
    {'C', 852, 1633},
    {'*', 941, 1209},
    {'0', 941, 1336},
    {'#', 941, 1477},
    {'D', 941, 1633},
}};

// One component of a tone: an index into costab that moves f*N/R entries a
// frame, with the remainder f*N mod R gathered in err.  Integer only, so the
// per-frame path never touches floating point.
struct phase {
    int32_t at;
    int32_t step;
    int32_t rem;
    int32_t err;

    phase(int32_t hz, int32_t n, int32_t r)
        : at(0), step(hz * n / r), rem(hz * n % r), err(r / 2) {}

    void advance(int32_t n, int32_t r) {
        at += step;
        // The carry looks at err before this frame's subtraction, so the
        // first frame never carries.
        if (err < 0) {
            err += r;
            ++at;
        }
        if (at >= n) // step is far below n, so one wrap is enough
            at -= n;
        err -= rem;
    }
};

// Both components start at the cosine peak: phase is never carried over
// from one tone to the next.
struct tone_source {
    const int16_t* tab;
    int32_t n;
    int32_t r;
    phase low;
    phase high;

    int32_t next() {
        const int32_t v = tab[low.at] + tab[high.at];
        low.advance(n, r);
        high.advance(n, r);
        return v;
    }
};

struct silence_source {
    static int32_t next() { return 0; }
};

// Stores runs of whole frames straight into the block, so that the loop
// over one run holds only the synthesis and the store.  A frame that would
// straddle the end of the block goes through put_frame, which splits it.
template <class F, class Source>
[[nodiscard]] bool put_run(Source& src, int32_t frames) {
    while (frames > 0) {
        const int32_t n = std::min(frames, output::room() / F::bytes);
        if (n == 0) {
            if (!output::put_frame(src.next()))
                return false;
            --frames;
            continue;
        }
        unsigned char* p = output::cursor();
        for (int32_t i = 0; i < n; ++i, p += F::bytes)
            F::store(p, src.next());
        if (!output::advance(n * F::bytes))
            return false;
        frames -= n;
    }
    return true;
}

template <class Source>
[[nodiscard]] bool put_frames(Source& src, int32_t frames) {
    return output::with_frame([&]<class F>() { return put_run<F>(src, frames); });
}

int32_t frames_for(int32_t ms) {
    return ms * cli::settings.speed / 1000;
}

} // namespace

bool play_key(char c) {
    for (const key& k : keys)
        if (k.c == c)
            return play_tone(k.row_hz, k.col_hz, cli::settings.tone_time);
    return true;
}

bool play_tone(int32_t f1, int32_t f2, int32_t ms) {
    if (ms <= 0)
        return true;
    const int32_t n = cli::settings.table_size;
    const int32_t r = cli::settings.speed;
    tone_source src{costab, n, r, phase(f1, n, r), phase(f2, n, r)};
    if (!put_frames(src, frames_for(ms)))
        return false;
    last_was_tone = true;
    return true;
}

bool play_silence(int32_t ms) {
    if (ms <= 0)
        return true;
    silence_source src;
    if (!put_frames(src, frames_for(ms)))
        return false;
    last_was_tone = false;
    return true;
}

} // namespace synth
