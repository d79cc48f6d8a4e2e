#include "reference.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

const char* const reference_usage = "usage: numtone [options] number ...\n"
                                    " Valid options with their default values are:\n"
                                    "   Duration options:\n"
                                    "     --tone-time   100\n"
                                    "     --silent-time 50\n"
                                    "     --sleep-time  500\n"
                                    "   Audio output  options:\n"
                                    "     --output-dev  /dev/dsp\n"
                                    "     --use-audio   1\n"
                                    "     --bufsize     4096\n"
                                    "     --speed       8000\n"
                                    "     --bits        8\n"
                                    "   Audio generation options:\n"
                                    "     --table-size  256\n"
                                    "     --volume      100\n"
                                    "     --left        0\n"
                                    "     --right       0\n";

namespace {

struct settings {
    long tone_time = 100, silent_time = 50, sleep_time = 500;
    std::string output_dev = "/dev/dsp";
    long use_audio = 1, bufsize = 4096, speed = 8000, bits = 8, table_size = 256, volume = 100,
         left = 0, right = 0;
};

struct numeric {
    const char* name;
    long settings::*field;
    long min, max;
};

// In the order the names are tried.
const numeric numerics[] = {
    {"--table-size", &settings::table_size, 2, 65536},
    {"--tone-time", &settings::tone_time, 10, 10000},
    {"--sleep-time", &settings::sleep_time, 10, 10000},
    {"--silent-time", &settings::silent_time, 10, 10000},
    {"--volume", &settings::volume, 0, 100},
    {"--speed", &settings::speed, 5000, 48000},
    {"--bits", &settings::bits, 8, 16},
    {"--bufsize", &settings::bufsize, 4, 65536},
    {"--use-audio", &settings::use_audio, 0, 1},
    {"--right", &settings::right, 0, 1},
    {"--left", &settings::left, 0, 1},
};

reference_run failed(const std::string& err) {
    reference_run r;
    r.status = 1;
    r.err = err;
    return r;
}

// Parses the options; returns the index of the first number, or -1 with
// the failure in r.
long parse(const std::vector<std::string>& args, settings& s, reference_run& r) {
    size_t i = 0;
    if (i >= args.size())
        return r = failed(reference_usage), -1;
    while (args[i].compare(0, 2, "--") == 0) {
        const std::string& a = args[i];
        bool known = false;
        for (const numeric& o : numerics) {
            if (a != o.name)
                continue;
            known = true;
            if (i + 1 >= args.size())
                return r = failed(reference_usage), -1;
            // atoi's reading; strtoll saturates where a value has more
            // digits than fit, which lands outside every range.
            const long long v = std::strtoll(args[i + 1].c_str(), nullptr, 10);
            if (v < o.min || v > o.max) {
                char msg[128];
                std::snprintf(msg, sizeof msg, "Value for %s should be in the range %ld..%ld\n",
                              a.c_str() + 2, o.min, o.max);
                return r = failed(msg), -1;
            }
            s.*o.field = static_cast<long>(v);
        }
        if (a == "--output-dev") {
            known = true;
            if (i + 1 >= args.size())
                return r = failed(reference_usage), -1;
            s.output_dev = args[i + 1];
        }
        if (!known)
            return r = failed(reference_usage), -1;
        i += 2;
        if (i >= args.size())
            return r = failed(reference_usage), -1;
    }
    return static_cast<long>(i);
}

// One stretch of output: a tone of two frequencies, or silence (f1 = 0).
struct stretch {
    long f1, f2, frames;
};

long frames_of(long ms, const settings& s) {
    return ms * s.speed / 1000;
}

bool is_key(char c, long& row, long& col) {
    const char* const pad = "123A456B789C*0#D";
    const long rows[] = {697, 770, 852, 941}, cols[] = {1209, 1336, 1477, 1633};
    for (int k = 0; k < 16; ++k)
        if (pad[k] == c) {
            row = rows[k / 4];
            col = cols[k % 4];
            return true;
        }
    return false;
}

std::vector<stretch> walk(const std::vector<std::string>& args, long first, const settings& s) {
    std::vector<stretch> w;
    bool tone_last = false;
    auto silence = [&](long ms) {
        w.push_back({0, 0, frames_of(ms, s)});
        tone_last = false;
    };
    for (size_t n = static_cast<size_t>(first); n < args.size(); ++n) {
        if (tone_last)
            silence(s.sleep_time);
        for (char c : args[n]) {
            if (c == ',' || c == ' ') {
                silence(s.sleep_time);
                continue;
            }
            if (tone_last)
                silence(s.silent_time);
            long row, col;
            if (is_key(c, row, col)) {
                w.push_back({row, col, frames_of(s.tone_time, s)});
                tone_last = true;
            }
        }
    }
    return w;
}

struct output {
    size_t frame_bytes;
    size_t block;
    std::string buf;
    reference_run run;
};

void put_frame(output& o, const settings& s, long v) {
    auto sample = [&](long x) {
        if (s.bits == 8) {
            o.buf += static_cast<char>(((x >> 8) - 128) & 0xFF);
        } else {
            o.buf += static_cast<char>(x & 0xFF);
            o.buf += static_cast<char>((x >> 8) & 0xFF);
        }
    };
    if (s.left == 0 && s.right == 0) {
        sample(v);
    } else {
        sample(s.left == 1 ? v : 0);
        sample(s.right == 1 ? v : 0);
    }
    if (o.buf.size() >= o.block) {
        o.run.out += o.buf;
        o.run.writes.push_back(o.buf.size());
        o.buf.clear();
    }
}

} // namespace

std::vector<int32_t> reference_tone(const std::vector<int16_t>& costab, long f1, long f2, long rate,
                                    long frames) {
    const long n = static_cast<long>(costab.size()), r = rate;
    const long step1 = f1 * n / r, rem1 = f1 * n % r;
    const long step2 = f2 * n / r, rem2 = f2 * n % r;
    long err1 = r / 2, err2 = r / 2, h = 0, l = 0;
    std::vector<int32_t> v;
    for (long i = 0; i < frames; ++i) {
        v.push_back(costab[static_cast<size_t>(h)] + costab[static_cast<size_t>(l)]);
        h += step1;
        if (err1 < 0) {
            err1 += r;
            h += 1;
        }
        if (h >= n)
            h -= n;
        l += step2;
        if (err2 < 0) {
            err2 += r;
            l += 1;
        }
        if (l >= n)
            l -= n;
        err1 -= rem1;
        err2 -= rem2;
    }
    return v;
}

std::vector<int16_t> reference_costab(long table_size, long volume) {
    std::vector<int16_t> costab(static_cast<size_t>(table_size));
    for (long i = 0; i < table_size; ++i) {
        const double x = std::cos((i * 6.283185307179586) / table_size);
        const double y = ((volume / 100.0) * 16383.0) * x;
        costab[static_cast<size_t>(i)] = static_cast<int16_t>(y); // toward zero
    }
    return costab;
}

reference_run reference(const std::vector<std::string>& args, bool device, size_t max_bytes) {
    settings s;
    reference_run r;
    const long first = parse(args, s, r);
    if (first < 0)
        return r;
    if (s.bits != 8 && s.bits != 16)
        return failed("Value for bits should be 8 or 16\n");
    if (s.use_audio == 1 && !device)
        return failed("ioctl(SNDCTL_DSP_CHANNELS): Inappropriate ioctl for device\n");

    output o;
    o.frame_bytes = (s.bits == 8 ? 1 : 2) * (s.left == 1 || s.right == 1 ? 2 : 1);
    o.block = static_cast<size_t>(s.bufsize) - static_cast<size_t>(s.bufsize) % o.frame_bytes;
    const std::vector<stretch> w = walk(args, first, s);
    size_t total = 0;
    for (const stretch& x : w)
        total += static_cast<size_t>(x.frames) * o.frame_bytes;
    if (total > max_bytes) {
        r.too_long = true;
        return r;
    }

    const std::vector<int16_t> costab = reference_costab(s.table_size, s.volume);
    for (const stretch& x : w) {
        if (x.f1 == 0)
            for (long i = 0; i < x.frames; ++i)
                put_frame(o, s, 0);
        else
            for (int32_t v : reference_tone(costab, x.f1, x.f2, s.speed, x.frames))
                put_frame(o, s, v);
    }
    if (!o.buf.empty()) {
        o.run.out += o.buf;
        o.run.writes.push_back(o.buf.size());
    }
    return o.run;
}
