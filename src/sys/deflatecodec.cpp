// SPDX-License-Identifier: MIT
#include "sys/deflatecodec_p.h"

#include <libdeflate.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace ravix {

namespace {

// Coders left idle between calls, for any thread to take: allocating one costs far more than
// coding a small buffer. A pool rather than objects per thread, because thread-local objects
// with destructors crash at thread exit with MinGW-w64's static runtime. Each call holds its
// coder alone; a few idle ones of each kind are kept, the rest freed.
class CoderPool
{
public:
    libdeflate_compressor *takeCompressor(int level)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto &idle = m_compressors[level];
            if (!idle.empty()) {
                libdeflate_compressor *c = idle.back();
                idle.pop_back();
                return c;
            }
        }
        return libdeflate_alloc_compressor(level);
    }
    void giveBack(int level, libdeflate_compressor *c)
    {
        if (!c)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            auto &idle = m_compressors[level];
            if (idle.size() < KEPT) {
                idle.push_back(c);
                return;
            }
        }
        libdeflate_free_compressor(c);
    }
    libdeflate_decompressor *takeDecompressor()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_decompressors.empty()) {
                libdeflate_decompressor *d = m_decompressors.back();
                m_decompressors.pop_back();
                return d;
            }
        }
        return libdeflate_alloc_decompressor();
    }
    void giveBack(libdeflate_decompressor *d)
    {
        if (!d)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_decompressors.size() < KEPT) {
                m_decompressors.push_back(d);
                return;
            }
        }
        libdeflate_free_decompressor(d);
    }

private:
    static constexpr std::size_t KEPT = 8;
    std::mutex m_mutex;
    std::vector<libdeflate_compressor *> m_compressors[DeflateCodec::MaxLevel + 1];
    std::vector<libdeflate_decompressor *> m_decompressors;
};

// Never destroyed: a thread may still code while the process exits. What it holds stays
// reachable, so it is no leak.
CoderPool &pool()
{
    static CoderPool *const p = new CoderPool;
    return *p;
}

struct CompressorLease
{
    explicit CompressorLease(int level) : level(level), c(pool().takeCompressor(level)) {}
    ~CompressorLease() { pool().giveBack(level, c); }
    CompressorLease(const CompressorLease &) = delete;
    CompressorLease &operator=(const CompressorLease &) = delete;
    const int level;
    libdeflate_compressor *const c;
};

struct DecompressorLease
{
    DecompressorLease() : d(pool().takeDecompressor()) {}
    ~DecompressorLease() { pool().giveBack(d); }
    DecompressorLease(const DecompressorLease &) = delete;
    DecompressorLease &operator=(const DecompressorLease &) = delete;
    libdeflate_decompressor *const d;
};

libdeflate_result decode(DeflateCodec::Format format, libdeflate_decompressor *d, const void *in,
                         std::size_t inSize, void *out, std::size_t room, std::size_t *consumed,
                         std::size_t *produced)
{
    // libdeflate writes nothing when there is no room, but wants a pointer all the same.
    unsigned char none;
    if (!out)
        out = &none;
    switch (format) {
    case DeflateCodec::Raw:
        return libdeflate_deflate_decompress_ex(d, in, inSize, out, room, consumed, produced);
    case DeflateCodec::Zlib:
        return libdeflate_zlib_decompress_ex(d, in, inSize, out, room, consumed, produced);
    case DeflateCodec::Gzip:
        return libdeflate_gzip_decompress_ex(d, in, inSize, out, room, consumed, produced);
    }
    return LIBDEFLATE_BAD_DATA;
}

DeflateCodec::Status statusOf(libdeflate_result r)
{
    switch (r) {
    case LIBDEFLATE_SUCCESS:
        return DeflateCodec::Ok;
    case LIBDEFLATE_SHORT_OUTPUT:
        return DeflateCodec::ShortOutput;
    case LIBDEFLATE_INSUFFICIENT_SPACE:
        return DeflateCodec::NoSpace;
    default:
        return DeflateCodec::BadData;
    }
}

} // namespace

std::size_t DeflateCodec::compressBound(Format format, std::size_t size)
{
    // A null compressor gives the bound over every level.
    switch (format) {
    case Raw:
        return libdeflate_deflate_compress_bound(nullptr, size);
    case Zlib:
        return libdeflate_zlib_compress_bound(nullptr, size);
    case Gzip:
        return libdeflate_gzip_compress_bound(nullptr, size);
    }
    return 0;
}

std::size_t DeflateCodec::compress(Format format, int level, const void *in, std::size_t size,
                                   void *out, std::size_t capacity)
{
    if (level < MinLevel || level > MaxLevel || !out)
        return 0;
    const CompressorLease lease(level);
    libdeflate_compressor *c = lease.c;
    if (!c)
        return 0;
    switch (format) {
    case Raw:
        return libdeflate_deflate_compress(c, in, size, out, capacity);
    case Zlib:
        return libdeflate_zlib_compress(c, in, size, out, capacity);
    case Gzip:
        return libdeflate_gzip_compress(c, in, size, out, capacity);
    }
    return 0;
}

DeflateCodec::Status DeflateCodec::decompressExact(Format format, const void *in,
                                                   std::size_t inSize, void *out, std::size_t size,
                                                   std::size_t *consumed)
{
    const DecompressorLease lease;
    libdeflate_decompressor *d = lease.d;
    if (!d)
        return OutOfMemory;
    // Without a place for the produced length libdeflate insists on exactly `size` bytes.
    return statusOf(decode(format, d, in, inSize, out, size, consumed, nullptr));
}

DeflateCodec::Status DeflateCodec::decompressGrowing(
    Format format, const void *in, std::size_t inSize, std::size_t firstGuess, std::size_t bound,
    const std::function<void *(std::size_t)> &buffer, std::size_t *produced, std::size_t *consumed)
{
    const DecompressorLease lease;
    libdeflate_decompressor *d = lease.d;
    if (!d)
        return OutOfMemory;
    // Each retry decodes from the start again; growing fourfold keeps the work wasted on
    // buffers that were too small below a third of the whole.
    constexpr std::size_t smallest = 4096;
    std::size_t room = std::min(firstGuess, bound);
    std::size_t out = 0;
    for (;;) {
        void *where = buffer(room);
        if (!where && room != 0)
            return OutOfMemory;
        const libdeflate_result r = decode(format, d, in, inSize, where, room, consumed, &out);
        if (r != LIBDEFLATE_INSUFFICIENT_SPACE) {
            if (r == LIBDEFLATE_SUCCESS && produced)
                *produced = out;
            return statusOf(r);
        }
        if (room >= bound)
            return NoSpace;
        room = room > bound / 4 ? bound : std::min(bound, std::max(room * 4, smallest));
    }
}

std::uint32_t DeflateCodec::crc32(std::uint32_t crc, const void *data, std::size_t size)
{
    return libdeflate_crc32(crc, data, size);
}

} // namespace ravix
