// The one way a failure is reported: print the message, carry false back.
// Only main turns that into an exit status.
#pragma once

#include <cstdarg>
#include <cstdio>

[[nodiscard]] inline bool fail(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

inline bool fail(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
    return false;
}

// For system calls: the prefix names the call or the path, then errno's text.
[[nodiscard]] inline bool fail_sys(const char* what) {
    std::perror(what);
    return false;
}
