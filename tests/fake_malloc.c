/* Preloaded into numtone by the tests: malloc of exactly FAKE_MALLOC_FAIL
 * bytes fails with ENOMEM, and every other call goes to glibc's.  Not for a
 * sanitised build, whose free would be handed glibc's memory.
 */
#include <errno.h>
#include <stddef.h>
#include <stdlib.h>

extern void* __libc_malloc(size_t);

void* malloc(size_t n) {
    static long fail = -2; /* -2: not read yet */
    if (fail == -2) {
        const char* s = getenv("FAKE_MALLOC_FAIL");
        fail = s != NULL ? atol(s) : -1;
    }
    if (fail >= 0 && n == (size_t)fail) {
        errno = ENOMEM;
        return NULL;
    }
    return __libc_malloc(n);
}
