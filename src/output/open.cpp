// Opening and closing the output descriptor.
#include "output.h"
#include "report.h"
#include "settings.h"
#include "state.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace output {

// A sound device is opened, never created: with the device requests to come
// the path must name a device, and a missing one is an error rather than a
// new regular file that would swallow the audio of later runs.  Nor is an
// existing file truncated when the first request is bound to refuse it.
bool open_output() {
    const char* path = cli::settings.output_dev;
    if (std::strcmp(path, "-") == 0) {
        out_fd = 1;
        return true;
    }
    const int flags = cli::settings.use_audio == 1 ? O_WRONLY : O_WRONLY | O_CREAT | O_TRUNC;
    do
        out_fd = open(path, flags, 0644);
    while (out_fd < 0 && errno == EINTR);
    return out_fd >= 0 || fail_sys(path);
}

// Closing is where a file system reports delayed write errors, and where an
// OSS emulation layer plays the last block, so it is checked like a write.
// EINTR is not retried: Linux and the BSDs have released the descriptor by
// then, and a second close could only fail.
bool close_output() {
    const int fd = out_fd;
    out_fd = -1;
    return close(fd) == 0 || errno == EINTR || fail_sys("close");
}

void reset_output() {
    if (out_fd > 2)
        close(out_fd);
    out_fd = -1;
    sample_format = 8;
    std::free(buf);
    buf = nullptr;
    fill = 0;
    block = 0;
}

} // namespace output
