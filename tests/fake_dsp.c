/* A stand-in for an OSS sound device, preloaded into numtone by the tests.
 *
 * It answers SNDCTL_DSP_CHANNELS, SNDCTL_DSP_SETFMT and SNDCTL_DSP_SPEED on
 * any descriptor, as the environment says, and can make write and close
 * misbehave.  Every request, write and close is recorded in FAKE_DSP_LOG.
 *
 *   FAKE_DSP_CHANNELS, FAKE_DSP_SETFMT, FAKE_DSP_SPEED
 *       the answer to write back (default: the value asked for)
 *   FAKE_DSP_FAIL      CHANNELS, SETFMT or SPEED: that request fails
 *   FAKE_DSP_ERRNO     errno for the failing request (default EINVAL)
 *   FAKE_WRITE_MAX     a write takes at most this many bytes
 *   FAKE_WRITE_EINTR   every other write fails with EINTR first
 *   FAKE_WRITE_EAGAIN  every other write fails with EAGAIN first
 *   FAKE_WRITE_ZERO    every write to the output takes nothing and returns 0
 *   FAKE_CLOSE_ERRNO   close really closes, then fails with this errno
 *   FAKE_DSP_PATH      an open of /dev/dsp opens this path instead, with the
 *                      same flags, so that a test can see what the default
 *                      output does where there is no device, without a
 *                      private /dev
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/soundcard.h>
#include <sys/types.h>
#include <unistd.h>

static int log_fd = -1;

static void note(const char* fmt, ...) {
    if (log_fd < 0) {
        const char* path = getenv("FAKE_DSP_LOG");
        if (path == NULL)
            return;
        log_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log_fd < 0)
            return;
    }
    va_list ap;
    va_start(ap, fmt);
    vdprintf(log_fd, fmt, ap);
    va_end(ap);
}

static int env_int(const char* name, int fallback) {
    const char* s = getenv(name);
    return s != NULL && *s != '\0' ? atoi(s) : fallback;
}

static int answer(const char* name, int* arg) {
    note("ioctl %s %d\n", name, *arg);
    const char* failing = getenv("FAKE_DSP_FAIL");
    if (failing != NULL && strcmp(failing, name) == 0) {
        errno = env_int("FAKE_DSP_ERRNO", EINVAL);
        return -1;
    }
    char var[32];
    snprintf(var, sizeof var, "FAKE_DSP_%s", name);
    *arg = env_int(var, *arg);
    return 0;
}

static int open_as_asked(const char* name, const char* path, int flags, va_list ap) {
    int (*real)(const char*, int, ...) = (int (*)(const char*, int, ...))dlsym(RTLD_NEXT, name);
    const char* instead = getenv("FAKE_DSP_PATH");
    if (instead != NULL && strcmp(path, "/dev/dsp") == 0)
        path = instead;
    if (flags & (O_CREAT | O_TMPFILE))
        return real(path, flags, va_arg(ap, mode_t));
    return real(path, flags);
}

int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int r = open_as_asked("open", path, flags, ap);
    va_end(ap);
    return r;
}

int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    int r = open_as_asked("open64", path, flags, ap);
    va_end(ap);
    return r;
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    switch (request) {
    case SNDCTL_DSP_CHANNELS:
        return answer("CHANNELS", arg);
    case SNDCTL_DSP_SETFMT:
        return answer("SETFMT", arg);
    case SNDCTL_DSP_SPEED:
        return answer("SPEED", arg);
    }
    int (*real)(int, unsigned long, ...) =
        (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    return real(fd, request, arg);
}

ssize_t write(int fd, const void* p, size_t n) {
    static unsigned calls;
    ssize_t (*real)(int, const void*, size_t) =
        (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (fd == log_fd)
        return real(fd, p, n);
    ++calls;
    if (getenv("FAKE_WRITE_EINTR") != NULL && calls % 2 == 1) {
        note("write %zu EINTR\n", n);
        errno = EINTR;
        return -1;
    }
    if (getenv("FAKE_WRITE_EAGAIN") != NULL && calls % 2 == 1) {
        note("write %zu EAGAIN\n", n);
        errno = EAGAIN;
        return -1;
    }
    if (getenv("FAKE_WRITE_ZERO") != NULL && fd != 2 && n > 0) {
        note("write %zu ZERO\n", n);
        return 0;
    }
    size_t max = (size_t)env_int("FAKE_WRITE_MAX", 0);
    if (max > 0 && n > max)
        n = max;
    ssize_t r = real(fd, p, n);
    note("write %zu\n", n);
    return r;
}

int close(int fd) {
    int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int r = real(fd);
    note("close\n");
    int e = env_int("FAKE_CLOSE_ERRNO", 0);
    if (e != 0) {
        errno = e;
        return -1;
    }
    return r;
}
