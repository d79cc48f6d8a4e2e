// Key tones and silences, as frames handed to the output.
#include "costab.h"
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
};

phase start_phase(int32_t hz, int32_t n, int32_t r) {
    return {0, hz * n / r, hz * n % r, r / 2};
}

// The carry looks at err before this frame's subtraction, so the first
// frame never carries.  The step is far below n, so one wrap is enough.
void step(phase& p, int32_t n, int32_t r) {
    p.at += p.step;
    if (p.err < 0) {
        p.err += r;
        ++p.at;
    }
    if (p.at >= n)
        p.at -= n;
    p.err -= p.rem;
}

// The same component stepped four frames at a time, one frame per lane of
// a vector register.  Four frames move the index by jump = 4*f*N / R
// entries with remainder drop.  Past frame 0, err stays within
// [-rem, R - rem), so four frames carry at most one entry more than jump,
// exactly when err < drop - rem; indices and error terms come out as four
// single steps would leave them.
constexpr int32_t lanes = 4;
using lane_vec = int32_t __attribute__((vector_size(lanes * sizeof(int32_t))));

struct lane_phase {
    lane_vec at;
    lane_vec err;
    int32_t jump;  // 4*f*N / R, less whole table periods
    int32_t drop;  // 4*f*N mod R
    int32_t limit; // drop - rem
};

// Lanes for the four frames that p is at and the three after it; p is left
// four frames on.  4 * 1633 * 65536 is still below 2^31.
lane_phase start_lanes(phase& p, int32_t hz, int32_t n, int32_t r) {
    lane_phase l{};
    l.jump = lanes * hz * n / r % n;
    l.drop = lanes * hz * n % r;
    l.limit = l.drop - p.rem;
    for (int32_t j = 0; j < lanes; ++j) {
        l.at[j] = p.at;
        l.err[j] = p.err;
        step(p, n, r);
    }
    return l;
}

void step_lanes(lane_phase& l, int32_t n, int32_t r) {
    const lane_vec carry = l.err < l.limit; // all ones where it carries
    l.at += l.jump - carry;
    l.err += (carry & r) - l.drop;
    l.at -= (l.at >= n) & n; // jump < n, so one wrap is enough
}

// A tone being synthesised.  Both components start at the cosine peak:
// phase is never carried over from one tone to the next.  The first four
// frames come from single steps, which also set the lanes up at the next
// four; from there on the lanes go four frames at a time.  Samples worked
// out ahead of what was asked wait in pending.
struct tone {
    const int16_t* tab;
    int32_t n;
    int32_t r;
    lane_phase low;
    lane_phase high;
    int32_t pending[lanes];
    int32_t next; // pending[next..lanes) are still to be handed out
};

tone start_tone(int32_t f1, int32_t f2) {
    tone t{};
    t.tab = costab;
    t.n = cli::settings.table_size;
    t.r = cli::settings.speed;
    phase lo = start_phase(f1, t.n, t.r);
    phase hi = start_phase(f2, t.n, t.r);
    for (int32_t j = 0; j < lanes; ++j) {
        t.pending[j] = t.tab[lo.at] + t.tab[hi.at];
        step(lo, t.n, t.r);
        step(hi, t.n, t.r);
    }
    t.low = start_lanes(lo, f1, t.n, t.r);
    t.high = start_lanes(hi, f2, t.n, t.r);
    return t;
}

// Four frames from the lanes into out, and the lanes four frames on.
inline void next_group(const int16_t* tab, lane_phase& low, lane_phase& high, int32_t n, int32_t r,
                       int32_t* out) {
    for (int32_t j = 0; j < lanes; ++j)
        out[j] = tab[low.at[j]] + tab[high.at[j]];
    step_lanes(low, n, r);
    step_lanes(high, n, r);
}

// Writes the next count samples of the tone into v.  The lanes are copied
// into locals for the loop, so that the compiler keeps them in registers
// rather than reloading them after every store into v.
void next_samples(tone& t, int32_t* v, int32_t count) {
    int32_t i = 0;
    for (; i < count && t.next < lanes; ++i)
        v[i] = t.pending[t.next++];
    const int16_t* tab = t.tab;
    const int32_t n = t.n, r = t.r;
    lane_phase low = t.low, high = t.high;
    const int32_t whole = i + (count - i) / lanes * lanes; // end of the whole groups
    for (; i < whole; i += lanes)
        next_group(tab, low, high, n, r, v + i);
    if (i < count) {
        next_group(tab, low, high, n, r, t.pending);
        for (t.next = 0; i < count; ++i)
            v[i] = t.pending[t.next++];
    }
    t.low = low;
    t.high = high;
}

// Synthesis and output take turns over a chunk of samples on the stack, so
// that each runs as its own tight loop; a chunk of a thousand or so keeps
// what each turn costs to set up small next to the loop itself.
constexpr int32_t chunk = 1024;

// Silence is the frames of a chunk of zero samples, as often as it takes.
constexpr int32_t zeros[chunk] = {};

[[nodiscard]] bool put_synthesised(tone& t, int32_t frames) {
    int32_t v[chunk];
    while (frames > 0) {
        const int32_t count = std::min(frames, chunk);
        next_samples(t, v, count);
        if (!output::put_frames(v, count))
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
// term is back where it was.  So the first frame and one period are
// synthesised and encoded once, and the period is then written again and
// again, whole blocks straight from it.  Without memory for the period the
// tone is synthesised throughout.
[[nodiscard]] bool put_repeated(tone& t, int32_t frames, int32_t period) {
    const auto frame = static_cast<size_t>(output::frame_bytes());
    unsigned char* p = period_room((1 + static_cast<size_t>(period)) * frame);
    if (p == nullptr)
        return put_synthesised(t, frames);
    int32_t v[chunk];
    for (int32_t i = 0; i < 1 + period; i += chunk) {
        const int32_t count = std::min(1 + period - i, chunk);
        next_samples(t, v, count);
        output::encode(p + static_cast<size_t>(i) * frame, v, count);
    }
    if (!output::put_bytes(p, (1 + static_cast<size_t>(period)) * frame))
        return false;
    int32_t left = frames - 1 - period;
    for (; left > period; left -= period)
        if (!output::put_bytes(p + frame, static_cast<size_t>(period) * frame))
            return false;
    return output::put_bytes(p + frame, static_cast<size_t>(left) * frame);
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

// A tone longer than two periods (a period is at most a second) has its
// period repeated; a shorter one is synthesised throughout.
bool play_tone(int32_t f1, int32_t f2, int32_t ms) {
    if (ms <= 0)
        return true;
    const int32_t r = cli::settings.speed;
    // Each index is back in step after R / gcd(f, R) frames.
    const int32_t period = std::lcm(r / std::gcd(f1, r), r / std::gcd(f2, r));
    const int32_t frames = frames_for(ms);
    tone t = start_tone(f1, f2);
    const bool ok =
        frames > 2 * period ? put_repeated(t, frames, period) : put_synthesised(t, frames);
    if (!ok)
        return false;
    last_was_tone = true;
    return true;
}

bool play_silence(int32_t ms) {
    if (ms <= 0)
        return true;
    for (int32_t frames = frames_for(ms); frames > 0; frames -= chunk)
        if (!output::put_frames(zeros, std::min(frames, chunk)))
            return false;
    last_was_tone = false;
    return true;
}

void reset_synth() {
    std::free(costab);
    costab = nullptr;
    std::free(period_buf);
    period_buf = nullptr;
    period_size = 0;
    last_was_tone = false;
}

} // namespace synth
