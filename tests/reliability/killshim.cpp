// SPDX-License-Identifier: MIT
// Preloaded into a child process (LD_PRELOAD) to kill it at an exact point: every call that
// changes a file (a write to a regular file, a truncating or creating open, rename, unlink,
// truncate, sync) is one point. RAVIX_KILL_AT=n sends SIGKILL to the process just before the
// n-th point; RAVIX_KILL_REPORT=<file> receives the number of points at a normal exit.
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

std::atomic<long> g_points{0};

long killAt()
{
    static const long at = [] {
        const char *v = std::getenv("RAVIX_KILL_AT");
        return v ? std::atol(v) : 0L;
    }();
    return at;
}

void point()
{
    const long n = ++g_points;
    const long at = killAt();
    if (at > 0 && n >= at)
        ::kill(::getpid(), SIGKILL);
}

bool regular(int fd)
{
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

template <typename F> F next(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

bool changesFile(int flags)
{
    return (flags & (O_CREAT | O_TRUNC)) != 0;
}

struct Report
{
    ~Report()
    {
        if (const char *path = std::getenv("RAVIX_KILL_REPORT")) {
            if (FILE *f = std::fopen(path, "w")) {
                std::fprintf(f, "%ld\n", g_points.load());
                std::fclose(f);
            }
        }
    }
} g_report;

} // namespace

extern "C" {

ssize_t write(int fd, const void *buf, size_t n)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t)>("write");
    if (regular(fd))
        point();
    return real(fd, buf, n);
}

ssize_t pwrite64(int fd, const void *buf, size_t n, off64_t off)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t, off64_t)>("pwrite64");
    if (regular(fd))
        point();
    return real(fd, buf, n, off);
}

ssize_t pwrite(int fd, const void *buf, size_t n, off_t off)
{
    static const auto real = next<ssize_t (*)(int, const void *, size_t, off_t)>("pwrite");
    if (regular(fd))
        point();
    return real(fd, buf, n, off);
}

ssize_t writev(int fd, const struct iovec *iov, int count)
{
    static const auto real = next<ssize_t (*)(int, const struct iovec *, int)>("writev");
    if (regular(fd))
        point();
    return real(fd, iov, count);
}

int open(const char *path, int flags, ...)
{
    static const auto real = next<int (*)(const char *, int, ...)>("open");
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = va_arg(ap, int);
    va_end(ap);
    if (changesFile(flags))
        point();
    return real(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    static const auto real = next<int (*)(const char *, int, ...)>("open64");
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = va_arg(ap, int);
    va_end(ap);
    if (changesFile(flags))
        point();
    return real(path, flags, mode);
}

int rename(const char *from, const char *to)
{
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    point();
    return real(from, to);
}

int renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    static const auto real =
        next<int (*)(int, const char *, int, const char *, unsigned)>("renameat2");
    point();
    return real(fromDir, from, toDir, to, flags);
}

int link(const char *from, const char *to)
{
    static const auto real = next<int (*)(const char *, const char *)>("link");
    point();
    return real(from, to);
}

int unlink(const char *path)
{
    static const auto real = next<int (*)(const char *)>("unlink");
    point();
    return real(path);
}

int ftruncate64(int fd, off64_t len)
{
    static const auto real = next<int (*)(int, off64_t)>("ftruncate64");
    point();
    return real(fd, len);
}

int ftruncate(int fd, off_t len)
{
    static const auto real = next<int (*)(int, off_t)>("ftruncate");
    point();
    return real(fd, len);
}

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    point();
    return real(fd);
}

int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    point();
    return real(fd);
}

} // extern "C"
