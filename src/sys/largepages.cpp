// SPDX-License-Identifier: MIT
#include "sys/largepages_p.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#ifndef MADV_COLLAPSE
#define MADV_COLLAPSE 25
#endif
#endif

namespace ravix {
namespace largepages {

namespace {

#ifdef Q_OS_LINUX
// A short sysfs file, or nothing.
std::string readSmallFile(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string();
    char text[256];
    ssize_t n;
    do {
        n = ::read(fd, text, sizeof text - 1);
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 ? std::string(text, std::size_t(n)) : std::string();
}

// The size of a large page, or 0 when the administrator switched them off (or the system has
// none): then nothing is asked for.
std::size_t readPageSize()
{
    const std::string mode = readSmallFile("/sys/kernel/mm/transparent_hugepage/enabled");
    if (mode.find("[always]") == std::string::npos && mode.find("[madvise]") == std::string::npos)
        return 0;
    const std::string size = readSmallFile("/sys/kernel/mm/transparent_hugepage/hpage_pmd_size");
    const unsigned long long bytes = std::strtoull(size.c_str(), nullptr, 10);
    const bool powerOfTwo = bytes >= 4096 && (bytes & (bytes - 1)) == 0;
    return powerOfTwo && bytes <= (1ull << 30) ? std::size_t(bytes) : 0;
}
#else
std::size_t readPageSize()
{
    return 0;
}
#endif

std::size_t pageSize()
{
    static const std::size_t size = readPageSize();
    return size;
}

} // namespace

std::size_t capacityFor(std::size_t size, std::size_t limit)
{
    const std::size_t page = pageSize();
    if (page == 0 || size < page / 2 || size > limit)
        return size;
    const std::size_t whole = (size + HEADERS + page - 1) / page * page;
    return whole - HEADERS <= limit ? whole - HEADERS : size;
}

void advise(void *data, std::size_t size, std::size_t expected)
{
    const std::size_t page = pageSize();
    if (page == 0 || size < page / 2)
        return;
#ifdef Q_OS_LINUX
    const std::uintptr_t mask = ~std::uintptr_t(page - 1);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = start & mask;
    // The large pages of the buffer's own block, whose headers may stand in front and behind.
    const std::uintptr_t from = start - first <= HEADERS ? first : (start + page - 1) & mask;
    const std::uintptr_t to = (start + size + HEADERS) & mask;
    if (to <= from)
        return;
    // The headers were written when the block was allocated, so its first large page already
    // holds a small one and would fault page by page: it is assembled at once instead, when
    // the data fill a good part of it.
    const bool collapse = from == first && first != start &&
                          std::min<std::size_t>(expected, first + page - start) >= page / 4;
    // Failures change nothing but speed: an older kernel lacks the collapse, for one.
    if (::madvise(reinterpret_cast<void *>(from), to - from, MADV_HUGEPAGE) == 0 && collapse)
        ::madvise(reinterpret_cast<void *>(first), page, MADV_COLLAPSE);
#else
    Q_UNUSED(data);
    Q_UNUSED(expected);
#endif
}

} // namespace largepages
} // namespace ravix
