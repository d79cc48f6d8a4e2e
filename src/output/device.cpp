// Negotiation with an OSS sound device.
#include "output.h"
#include "report.h"
#include "settings.h"
#include "state.h"

#include <cerrno>
#include <cstdlib>
#include <sys/ioctl.h>
#include <sys/soundcard.h>

namespace output {

// The device writes its answer back through arg.
[[nodiscard]] static bool request(unsigned long req, int& arg, const char* name) {
    int r;
    do
        r = ioctl(out_fd, req, &arg);
    while (r == -1 && errno == EINTR);
    return r == 0 || fail_sys(name);
}

// A device may round the rate; within this many frames per second of the
// request the output still sounds right and we go on with its rate.
constexpr int rate_tolerance = 500;

bool setup_audio() {
    auto& s = cli::settings;
    if (s.use_audio == 0)
        return true;
    // The frame layout follows left and right whatever channel count the
    // device grants, so its answer is not read.
    int chans = s.left == 1 || s.right == 1 ? 2 : 1;
    if (!request(SNDCTL_DSP_CHANNELS, chans, "ioctl(SNDCTL_DSP_CHANNELS)"))
        return false;
    // 8 and 16 are AFMT_U8 and AFMT_S16_LE; the answer decides the encoding.
    static_assert(AFMT_U8 == 8 && AFMT_S16_LE == 16);
    if (!request(SNDCTL_DSP_SETFMT, sample_format, "ioctl(SNDCTL_DSP_SETFMT)"))
        return false;
    int rate = s.speed;
    if (!request(SNDCTL_DSP_SPEED, rate, "ioctl(SNDCTL_DSP_SPEED)"))
        return false;
    const long long d = std::llabs(static_cast<long long>(rate) - s.speed);
    if (d > rate_tolerance)
        return fail("Your sound card does not support the requested speed\n");
    if (d > 0)
        std::fprintf(stderr, "Setting speed to %d\n", rate);
    s.speed = rate;
    return true;
}

} // namespace output
