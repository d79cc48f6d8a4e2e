// The block buffer and the writes that empty it.
#include "output.h"
#include "report.h"
#include "settings.h"
#include "state.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

namespace output {

// A block is bufsize rounded down to whole frames: an OSS device (ALSA's
// emulation among them) takes whole frames only, and a write that ended
// inside a frame would never be accepted.  The frame size is fixed once
// negotiation has settled sample_format.
bool alloc_buf() {
    block = cli::settings.bufsize - cli::settings.bufsize % frame_bytes();
    buf = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(block)));
    fill = 0;
    return buf != nullptr || fail_sys("malloc buf");
}

// A non-blocking descriptor (a shell may hand us one as standard output)
// answers EAGAIN while its reader lags; wait for room instead of dropping
// the block.
[[nodiscard]] static bool wait_writable() {
    pollfd p{out_fd, POLLOUT, 0};
    int r;
    do
        r = poll(&p, 1, -1);
    while (r < 0 && errno == EINTR);
    return r >= 0 || fail_sys("poll");
}

// Every byte reaches the descriptor or the run fails: a short write goes on
// with the rest.  A write that takes nothing of a non-empty request makes no
// progress and never will, so it is the end of the device, as dd has it.
[[nodiscard]] static bool write_all(const unsigned char* p, size_t n) {
    while (n > 0) {
        const ssize_t r = write(out_fd, p, n);
        if (r > 0) {
            p += r;
            n -= static_cast<size_t>(r);
        } else if (r == 0) {
            errno = ENOSPC;
            return fail_sys("write");
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!wait_writable())
                return false;
        } else if (errno != EINTR) {
            return fail_sys("write");
        }
    }
    return true;
}

// Counts bytes just stored in buf, and writes the block once it is full.
[[nodiscard]] static bool stored(int32_t bytes) {
    fill += bytes;
    if (fill < block)
        return true;
    fill = 0;
    return write_all(buf, static_cast<size_t>(block));
}

// Frames are encoded straight into the block.  A block holds whole frames,
// so there is always room for at least one.
bool put_frames(const int32_t* v, int32_t count) {
    const int32_t frame = frame_bytes();
    while (count > 0) {
        const int32_t n = std::min(count, (block - fill) / frame);
        encode(buf + fill, v, n);
        if (!stored(n * frame))
            return false;
        v += n;
        count -= n;
    }
    return true;
}

// A whole block that is already in memory goes out as it stands, without a
// copy into buf; the blocks written are the same either way.
bool put_bytes(const unsigned char* p, size_t n) {
    const auto whole = static_cast<size_t>(block);
    while (n > 0) {
        if (fill == 0 && n >= whole) {
            if (!write_all(p, whole))
                return false;
            p += whole;
            n -= whole;
            continue;
        }
        const size_t k = std::min(n, static_cast<size_t>(block - fill));
        std::memcpy(buf + fill, p, k);
        if (!stored(static_cast<int32_t>(k)))
            return false;
        p += k;
        n -= k;
    }
    return true;
}

bool flush_rest() {
    const auto n = static_cast<size_t>(fill);
    fill = 0;
    return n == 0 || write_all(buf, n);
}

} // namespace output
