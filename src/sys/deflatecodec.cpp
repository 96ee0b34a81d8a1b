#include "sys/deflatecodec_p.h"

#include <libdeflate.h>

#include <algorithm>
#include <memory>

namespace ravix {

namespace {

struct CompressorFree
{
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};
struct DecompressorFree
{
    void operator()(libdeflate_decompressor *d) const { libdeflate_free_decompressor(d); }
};

// A thread rarely uses more than one or two levels; only those are ever allocated.
struct ThreadCoders
{
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressors[DeflateCodec::MaxLevel + 1];
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> decompressor;
};

ThreadCoders &threadCoders()
{
    thread_local ThreadCoders coders;
    return coders;
}

libdeflate_compressor *compressorFor(int level)
{
    auto &slot = threadCoders().compressors[level];
    if (!slot)
        slot.reset(libdeflate_alloc_compressor(level));
    return slot.get();
}

libdeflate_decompressor *threadDecompressor()
{
    auto &slot = threadCoders().decompressor;
    if (!slot)
        slot.reset(libdeflate_alloc_decompressor());
    return slot.get();
}

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
    libdeflate_compressor *c = compressorFor(level);
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
    libdeflate_decompressor *d = threadDecompressor();
    if (!d)
        return OutOfMemory;
    // Without a place for the produced length libdeflate insists on exactly `size` bytes.
    return statusOf(decode(format, d, in, inSize, out, size, consumed, nullptr));
}

DeflateCodec::Status DeflateCodec::decompressGrowing(
    Format format, const void *in, std::size_t inSize, std::size_t firstGuess, std::size_t bound,
    const std::function<void *(std::size_t)> &buffer, std::size_t *produced, std::size_t *consumed)
{
    libdeflate_decompressor *d = threadDecompressor();
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
