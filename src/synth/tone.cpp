// Key tones and silences, as frames handed to the output.
#include "output.h"
#include "settings.h"
#include "synth.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <numeric>

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

// The same component stepped a group of four frames at a time, one frame
// per lane, held in a vector register.  A group moves the index by
// 4*f*N / R entries with remainder drop.  Past frame 0, err stays within
// [-rem, R - rem), so a group carries at most one entry more, exactly when
// err < drop - rem; the indices and error terms come out as four single
// steps would leave them.
constexpr int32_t lanes = 4;
using lane_vec = int32_t __attribute__((vector_size(lanes * sizeof(int32_t))));

struct lane_phase {
    lane_vec at;
    lane_vec err;
    int32_t jump;  // 4*f*N / R, less whole table periods
    int32_t drop;  // 4*f*N mod R
    int32_t limit; // drop - rem

    // 4 * 1633 * 65536 is still below 2^31.
    lane_phase(int32_t hz, int32_t n, int32_t r)
        : at{}, err{}, jump(lanes * hz * n / r % n), drop(lanes * hz * n % r),
          limit(drop - hz * n % r) {}

    void advance(int32_t n, int32_t r) {
        const lane_vec carry = err < limit; // all ones where it carries
        at += jump - carry;
        err += (carry & r) - drop;
        at -= (at >= n) & n; // jump < n, so one wrap is enough
    }
};

// Both components start at the cosine peak: phase is never carried over
// from one tone to the next.  The first group of frames comes from single
// steps, which also set the lanes up at the second group; from there on the
// lanes go a group at a time.
struct tone_source {
    const int16_t* tab;
    int32_t n;
    int32_t r;
    lane_phase low;
    lane_phase high;
    int32_t first[lanes];
    bool started = false;

    tone_source(int32_t f1, int32_t f2, int32_t n_, int32_t r_)
        : tab(costab), n(n_), r(r_), low(f1, n_, r_), high(f2, n_, r_) {
        phase lo(f1, n, r);
        phase hi(f2, n, r);
        for (int32_t i = 0; i < lanes; ++i) {
            first[i] = tab[lo.at] + tab[hi.at];
            lo.advance(n, r);
            hi.advance(n, r);
        }
        for (int32_t i = 0; i < lanes; ++i) {
            low.at[i] = lo.at;
            low.err[i] = lo.err;
            high.at[i] = hi.at;
            high.err[i] = hi.err;
            lo.advance(n, r);
            hi.advance(n, r);
        }
    }

    // Writes the next samples into v, whole groups up to count rounded up.
    void fill(int32_t* v, int32_t count) {
        int32_t i = 0;
        if (!started) {
            std::copy(first, first + lanes, v);
            started = true;
            i = lanes;
        }
        for (; i < count; i += lanes) {
            for (int32_t j = 0; j < lanes; ++j)
                v[i + j] = tab[low.at[j]] + tab[high.at[j]];
            low.advance(n, r);
            high.advance(n, r);
        }
    }
};

struct silence_source {
    static void fill(int32_t* v, int32_t count) { std::fill(v, v + count, 0); }
};

template <class F>
void store_frames(unsigned char* p, const int32_t* v, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        F::store(p + i * F::bytes, v[i]);
}

// Encodes samples straight into the block, so that the loop holds only the
// store: one instantiation per frame layout, with no format test and no
// bounds test inside.  A block holds whole frames, so there is always room
// for at least one.
template <class F>
[[nodiscard]] bool put_samples(const int32_t* v, int32_t count) {
    while (count > 0) {
        const int32_t n = std::min(count, output::room() / F::bytes);
        store_frames<F>(output::cursor(), v, n);
        if (!output::advance(n * F::bytes))
            return false;
        v += n;
        count -= n;
    }
    return true;
}

// Synthesis and encoding take turns over a chunk of samples on the stack,
// so that each runs as its own tight loop.
constexpr int32_t chunk = 256; // a whole number of lane groups

template <class F, class Source>
[[nodiscard]] bool put_run(Source& src, int32_t frames) {
    int32_t v[chunk];
    while (frames > 0) {
        const int32_t count = std::min(frames, chunk);
        src.fill(v, count);
        if (!put_samples<F>(v, count))
            return false;
        frames -= count;
    }
    return true;
}

// The frames of one tone period, encoded, kept for the next long tone.
unsigned char* period_buf = nullptr;
size_t period_size = 0;

[[nodiscard]] unsigned char* period_room(size_t bytes) {
    if (bytes > period_size) {
        std::free(period_buf);
        period_buf = static_cast<unsigned char*>(std::malloc(bytes));
        period_size = period_buf != nullptr ? bytes : 0;
    }
    return period_buf;
}

// After its first frame a tone repeats exactly every `period` frames: by
// then each index has moved a whole number of table periods and each error
// term is back where it was.  A tone longer than two periods (a period is
// at most a second) is synthesised for one period, which is then repeated.
// Without memory for the period it is synthesised throughout.
template <class F>
[[nodiscard]] bool put_tone(tone_source& src, int32_t frames, int32_t period) {
    const size_t frame = F::bytes;
    unsigned char* p = frames > 2 * period ? period_room((1 + period) * frame) : nullptr;
    if (p == nullptr)
        return put_run<F>(src, frames);
    int32_t v[chunk];
    for (int32_t i = 0; i < 1 + period; i += chunk) {
        const int32_t count = std::min(1 + period - i, chunk);
        src.fill(v, count);
        store_frames<F>(p + i * frame, v, count);
    }
    if (!output::put_bytes(p, (1 + period) * frame))
        return false;
    int32_t left = frames - 1 - period;
    for (; left > period; left -= period)
        if (!output::put_bytes(p + frame, period * frame))
            return false;
    return output::put_bytes(p + frame, left * frame);
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
    tone_source src(f1, f2, n, r);
    // Each index is back in step after R / gcd(f, R) frames.
    const int32_t period = std::lcm(r / std::gcd(f1, r), r / std::gcd(f2, r));
    const int32_t frames = frames_for(ms);
    if (!output::with_frame([&]<class F>() { return put_tone<F>(src, frames, period); }))
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
