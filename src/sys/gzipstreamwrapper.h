// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>

namespace ravix {

/// Compresses and decompresses whole byte arrays in memory, in the zlib format.
class RAVIXCORE_EXPORT GzipStreamWrapper
{
public:
    GzipStreamWrapper();
    ~GzipStreamWrapper();

    /// A zlib stream (2-byte header, Adler-32 trailer) at the default level. An input whose
    /// compressed form could not fit a byte array, or a failed compression, gives an empty array.
    static QByteArray gzcompress(const QByteArray &data);
    /// Decodes a zlib stream or a gzip member. Corrupt input gives an empty array; a stream
    /// cut short gives the bytes decoded so far; a result that does not fit in memory gives an
    /// empty array and a warning.
    static QByteArray gzuncompress(const QByteArray &data);
};

} // namespace ravix
