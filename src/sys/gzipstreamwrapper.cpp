// SPDX-License-Identifier: MIT
#include "sys/gzipstreamwrapper.h"

#include "sys/deflatecodec_p.h"
#include "sys/largepages_p.h"

#include <QtDebug>
#include <QtEndian>

#include <cstring>
#include <limits>
#include <new>
#include <zlib.h>

namespace ravix {

namespace {
// The largest QByteArray.
constexpr qint64 MAX_RESULT = std::numeric_limits<int>::max() - int(sizeof(QByteArrayData)) - 1;

// zlib's default is 6. libdeflate's level 6 writes 2 to 8 percent more than zlib's on text and
// logs; its level 7 writes about as much as zlib's level 6, still in less time.
constexpr int LEVEL = 7;
constexpr int ZLIB_LEVEL = 6;

// Qt reports a failed allocation by throwing, which must not leave the library.
bool tryResize(QByteArray &array, qint64 size)
{
    try {
        array.resize(int(size));
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

bool resizeOrWarn(QByteArray &array, qint64 size, const char *who)
{
    if (tryResize(array, size))
        return true;
    qWarning("%s: Out of memory", who);
    return false;
}

// zlib's step-by-step inflate gives its verdict on what the one-call decoder refused: nothing
// for corrupt input, the bytes decoded so far for a stream cut short.
QByteArray inflateStepwise(const QByteArray &data)
{
    z_stream strm;
    std::memset(&strm, 0, sizeof(strm));
    strm.avail_in = static_cast<uInt>(data.size());
    strm.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    // 15 + 32: the zlib or gzip header is detected automatically.
    if (inflateInit2(&strm, 15 + 32) != Z_OK)
        return QByteArray();

    QByteArray result;
    const qint64 in = data.size();
    qint64 capacity =
        qBound<qint64>(4096, qMin(in * 8, qMax<qint64>(32 << 20, in * 4)), MAX_RESULT);
    qint64 produced = 0;
    bool failed = false;
    for (;;) {
        if (!resizeOrWarn(result, capacity, "gzuncompress")) {
            failed = true;
            break;
        }
        strm.next_out = reinterpret_cast<Bytef *>(result.data()) + produced;
        strm.avail_out = static_cast<uInt>(capacity - produced);
        int ret = inflate(&strm, Z_NO_FLUSH);
        produced = capacity - strm.avail_out;
        if (strm.avail_out == 0 && ret != Z_STREAM_END && capacity == MAX_RESULT) {
            // A full array may hold the whole result: it is too large only if more follows.
            Bytef probe;
            strm.next_out = &probe;
            strm.avail_out = 1;
            ret = inflate(&strm, Z_NO_FLUSH);
            failed = strm.avail_out == 0;
        }
        if (failed || ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR ||
            ret == Z_STREAM_ERROR) {
            failed = true;
            break;
        }
        if (strm.avail_out != 0 || ret == Z_STREAM_END)
            break;
        capacity = qMin<qint64>(capacity * 2, MAX_RESULT);
    }
    inflateEnd(&strm);
    if (failed)
        return QByteArray();
    result.resize(int(produced));
    result.squeeze();
    return result;
}
} // namespace

GzipStreamWrapper::GzipStreamWrapper() = default;
GzipStreamWrapper::~GzipStreamWrapper() = default;

QByteArray GzipStreamWrapper::gzcompress(const QByteArray &data)
{
    // zlib's bound decides what is too large, as it always has.
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    if (qint64(length) > MAX_RESULT) {
        qWarning("gzcompress: Input data is too large");
        return QByteArray();
    }
    const qint64 room = qMin<qint64>(
        qint64(DeflateCodec::compressBound(DeflateCodec::Zlib, std::size_t(data.size()))),
        MAX_RESULT);
    QByteArray out;
    if (!resizeOrWarn(out, qint64(largepages::capacityFor(std::size_t(room), MAX_RESULT)),
                      "gzcompress"))
        return QByteArray();
    largepages::advise(out.data(), std::size_t(out.size()), std::size_t(data.size() / 4));
    std::size_t packed =
        DeflateCodec::compress(DeflateCodec::Zlib, LEVEL, data.constData(),
                               std::size_t(data.size()), out.data(), std::size_t(room));
    // Only an input of nearly 2 GiB that does not compress can miss the one-call route's
    // room; zlib's own bound, checked above, always fits.
    if (packed == 0) {
        if (!resizeOrWarn(out, qint64(length), "gzcompress"))
            return QByteArray();
        if (compress2(reinterpret_cast<Bytef *>(out.data()), &length,
                      reinterpret_cast<const Bytef *>(data.constData()),
                      static_cast<uLong>(data.size()), ZLIB_LEVEL) != Z_OK) {
            qWarning("gzcompress: Compression failed");
            return QByteArray();
        }
        packed = length;
    }
    out.resize(int(packed));
    out.squeeze();
    return out;
}

QByteArray GzipStreamWrapper::gzuncompress(const QByteArray &data)
{
    if (data.size() <= 4) {
        qWarning("gzuncompress: Input data is truncated");
        return QByteArray();
    }
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    const bool gzip = bytes[0] == 0x1f && bytes[1] == 0x8b;
    // A gzip header that carries its own checksum is left to zlib, which checks it.
    if (gzip && (bytes[3] & 0x02))
        return inflateStepwise(data);

    // A zlib stream does not tell its length; text shrinks three- to fivefold, and pages of the
    // guess that are never written cost nothing. A gzip member ends with its length (modulo
    // 4 GiB), unless other bytes follow; deflate expands no more than 1032-fold.
    const qint64 in = data.size();
    qint64 guess = qBound<qint64>(4096, in * 8, MAX_RESULT);
    qint64 expected = in * 4;
    if (gzip) {
        const qint64 said = qFromLittleEndian<quint32>(bytes + in - 4);
        if (said <= in * 1032)
            expected = guess = qMin(said, MAX_RESULT);
    }
    QByteArray result;
    // Growing in place keeps the pages an earlier attempt touched; large blocks move without
    // being copied.
    const auto room = [&result, expected](std::size_t size) -> void * {
        if (!tryResize(result, qint64(largepages::capacityFor(size, MAX_RESULT))))
            return nullptr;
        largepages::advise(result.data(), std::size_t(result.size()), std::size_t(expected));
        return result.data();
    };
    std::size_t produced = 0;
    switch (DeflateCodec::decompressGrowing(gzip ? DeflateCodec::Gzip : DeflateCodec::Zlib, bytes,
                                            std::size_t(in), std::size_t(guess),
                                            std::size_t(MAX_RESULT), room, &produced)) {
    case DeflateCodec::Ok:
        result.resize(int(produced));
        result.squeeze();
        return result;
    case DeflateCodec::NoSpace:
        return QByteArray();
    default:
        // Refused or short of memory for a generous guess: zlib decides and grows step by step.
        result = QByteArray();
        return inflateStepwise(data);
    }
}

} // namespace ravix
