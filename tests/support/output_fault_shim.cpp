// Preloaded into a child run by the frame-transaction tests: the output whose path ends with
// $VANTO_FAIL_PATH takes $VANTO_FAIL_AFTER_BYTES bytes (default 0) and then fails every write
// with ENOSPC, as a full disk does; with $VANTO_FAIL_AT_OPEN set, opening it fails instead.
// Every other file is untouched.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

extern "C" {

enum { kMaxFds = 4096 };
static long long remaining[kMaxFds];
static char watched[kMaxFds];

static int matches(const char* path) {
    const char* suffix = getenv("VANTO_FAIL_PATH");
    if (!suffix || !*suffix || !path) return 0;
    const size_t n = strlen(path), m = strlen(suffix);
    return n >= m && strcmp(path + n - m, suffix) == 0;
}

static int track(int fd, const char* path) {
    if (fd >= 0 && fd < kMaxFds) {
        watched[fd] = static_cast<char>(matches(path));
        const char* after = getenv("VANTO_FAIL_AFTER_BYTES");
        remaining[fd] = after ? atoll(after) : 0;
    }
    return fd;
}

static int refusedOpen(const char* path, int flags) {
    if ((flags & (O_WRONLY | O_RDWR)) && matches(path) && getenv("VANTO_FAIL_AT_OPEN")) {
        errno = ENOSPC;
        return 1;
    }
    return 0;
}

#define OPEN_WRAPPER(name, ...)                                                   \
    int name(const char* path, int flags, ...) {                                  \
        mode_t mode = 0;                                                          \
        if (flags & (O_CREAT | O_TMPFILE)) {                                      \
            va_list ap;                                                           \
            va_start(ap, flags);                                                  \
            mode = static_cast<mode_t>(va_arg(ap, int));                                            \
            va_end(ap);                                                           \
        }                                                                         \
        if (refusedOpen(path, flags)) return -1;                                  \
        auto real = reinterpret_cast<int (*)(const char*, int, ...)>(dlsym(RTLD_NEXT, #name));             \
        return track(real(path, flags, mode), path);                              \
    }
OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)

int openat(int dir, const char* path, int flags, ...) {
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list ap;
        va_start(ap, flags);
        mode = static_cast<mode_t>(va_arg(ap, int));
        va_end(ap);
    }
    if (refusedOpen(path, flags)) return -1;
    auto real = reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, "openat"));
    return track(real(dir, path, flags, mode), path);
}

ssize_t write(int fd, const void* data, size_t bytes) {
    auto real = reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(dlsym(RTLD_NEXT, "write"));
    if (fd >= 0 && fd < kMaxFds && watched[fd]) {
        if (remaining[fd] <= 0) {
            errno = ENOSPC;
            return -1;
        }
        if (static_cast<long long>(bytes) > remaining[fd]) bytes = static_cast<size_t>(remaining[fd]);
        const ssize_t n = real(fd, data, bytes);
        if (n > 0) remaining[fd] -= n;
        return n;
    }
    return real(fd, data, bytes);
}

int close(int fd) {
    auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "close"));
    if (fd >= 0 && fd < kMaxFds) watched[fd] = 0;
    return real(fd);
}

}  // extern "C"
