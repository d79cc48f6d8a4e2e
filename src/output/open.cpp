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

// Which open flags a run needs.  A sound device is opened, never created:
// with the device requests to come the path must name a device, and a
// missing one is an error rather than a new regular file that would swallow
// the audio of later runs.  Nor is an existing file truncated when the first
// request is bound to refuse it.  Without the requests a path the user
// named is created or truncated like any output file; the default device
// path, which the user did not name, is still never created.
[[nodiscard]] static int open_flags() {
    const auto& s = cli::settings;
    if (s.use_audio == 1)
        return O_WRONLY;
    if (s.output_dev == cli::default_output_dev)
        return O_WRONLY | O_TRUNC;
    return O_WRONLY | O_CREAT | O_TRUNC;
}

bool open_output() {
    const char* path = cli::settings.output_dev;
    if (std::strcmp(path, "-") == 0) {
        out_fd = 1;
        return true;
    }
    const int flags = open_flags();
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
