// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace ravix {

/// Whole-buffer deflate coding (raw, zlib or gzip framing) in one call, safe from any thread.
/// Compressors and decompressors are kept for reuse between calls, since allocating one costs
/// far more than coding a small buffer. Plain C++ types only.
class RAVIXCORE_EXPORT DeflateCodec
{
public:
    enum Format { Raw, Zlib, Gzip };

    enum Status {
        Ok,
        BadData,     ///< corrupt, truncated or unsupported input
        ShortOutput, ///< decodes to fewer bytes than declared
        NoSpace,     ///< decodes to more bytes than the buffer, or the bound, holds
        OutOfMemory, ///< no decompressor, or no buffer from the caller
    };

    static constexpr int MinLevel = 0; ///< stored blocks only
    static constexpr int MaxLevel = 12;

    /// Room that compress() may need for any input of @p size bytes at any level.
    static std::size_t compressBound(Format format, std::size_t size);

    /// Compresses @p size bytes at @p level (1 to 9 as zlib's, 10 to 12 slower and smaller).
    /// Returns the compressed size, or 0 when the output did not fit @p capacity, the level is
    /// out of range or no compressor could be allocated. Give compressBound() bytes to be sure:
    /// with less, a result that would fit within 8 bytes of the end is refused as well.
    static std::size_t compress(Format format, int level, const void *in, std::size_t size,
                                void *out, std::size_t capacity);

    /// Decodes a stream that must produce exactly @p size bytes into @p out. Input after the
    /// stream is ignored; @p consumed, if given, receives the length of the stream on success.
    static Status decompressExact(Format format, const void *in, std::size_t inSize, void *out,
                                  std::size_t size, std::size_t *consumed = nullptr);

    /// Decodes a stream of unknown length. @p buffer is asked for room of a given size and
    /// returns it or nullptr; it starts at @p firstGuess and grows fourfold, up to @p bound
    /// bytes, each time the output did not fit, and the stream is decoded anew into it (what an
    /// earlier buffer held need not be kept). On Ok the last buffer holds @p produced bytes.
    static Status decompressGrowing(Format format, const void *in, std::size_t inSize,
                                    std::size_t firstGuess, std::size_t bound,
                                    const std::function<void *(std::size_t)> &buffer,
                                    std::size_t *produced, std::size_t *consumed = nullptr);

    /// Continues a CRC-32 (start with 0), as stored in ZIP and gzip records.
    static std::uint32_t crc32(std::uint32_t crc, const void *data, std::size_t size);
};

} // namespace ravix
