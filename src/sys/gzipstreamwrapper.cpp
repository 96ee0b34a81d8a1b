#include "sys/gzipstreamwrapper.h"

#include <QtDebug>

#include <cstring>
#include <limits>
#include <new>
#include <zlib.h>

namespace ravix {

namespace {
// The largest QByteArray.
constexpr qint64 MAX_RESULT = std::numeric_limits<int>::max() - int(sizeof(QByteArrayData)) - 1;

// Qt reports a failed allocation by throwing, which must not leave the library.
bool resizeOrWarn(QByteArray &array, qint64 size, const char *who)
{
    try {
        array.resize(int(size));
        return true;
    } catch (const std::bad_alloc &) {
        qWarning("%s: Out of memory", who);
        return false;
    }
}
} // namespace

GzipStreamWrapper::GzipStreamWrapper() = default;
GzipStreamWrapper::~GzipStreamWrapper() = default;

QByteArray GzipStreamWrapper::gzcompress(const QByteArray &data)
{
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    if (qint64(length) > MAX_RESULT) {
        qWarning("gzcompress: Input data is too large");
        return QByteArray();
    }
    QByteArray out;
    if (!resizeOrWarn(out, qint64(length), "gzcompress"))
        return QByteArray();
    if (compress(reinterpret_cast<Bytef *>(out.data()), &length,
                 reinterpret_cast<const Bytef *>(data.constData()),
                 static_cast<uLong>(data.size())) != Z_OK) {
        qWarning("gzcompress: Compression failed");
        return QByteArray();
    }
    out.resize(static_cast<int>(length));
    return out;
}

QByteArray GzipStreamWrapper::gzuncompress(const QByteArray &data)
{
    if (data.size() <= 4) {
        qWarning("gzuncompress: Input data is truncated");
        return QByteArray();
    }

    z_stream strm;
    std::memset(&strm, 0, sizeof(strm));
    strm.avail_in = static_cast<uInt>(data.size());
    strm.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    // 15 + 32: the zlib or gzip header is detected automatically.
    if (inflateInit2(&strm, 15 + 32) != Z_OK)
        return QByteArray();

    // Inflate straight into the result, growing it geometrically, rather than through a small
    // window copied piece by piece. The bytes produced are the same, also for a stream that
    // is cut short: decoding ends when the input runs out or the stream ends.
    QByteArray result;
    // The first guess is generous, since pages never written cost nothing, but bounded, so
    // that a large input does not claim a huge block up front; growth past it is cheap where
    // the allocator moves large blocks by remapping them.
    const qint64 in = data.size();
    qint64 capacity =
        qBound<qint64>(4096, qMin(in * 8, qMax<qint64>(32 << 20, in * 4)), MAX_RESULT);
    qint64 produced = 0;
    for (;;) {
        if (capacity > MAX_RESULT) {
            inflateEnd(&strm);
            return QByteArray();
        }
        if (!resizeOrWarn(result, capacity, "gzuncompress")) {
            inflateEnd(&strm);
            return QByteArray();
        }
        strm.next_out = reinterpret_cast<Bytef *>(result.data()) + produced;
        strm.avail_out = static_cast<uInt>(capacity - produced);
        const int ret = inflate(&strm, Z_NO_FLUSH);
        if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR ||
            ret == Z_STREAM_ERROR) {
            inflateEnd(&strm);
            return QByteArray();
        }
        produced = capacity - strm.avail_out;
        if (strm.avail_out != 0)
            break;
        capacity = capacity < MAX_RESULT ? qMin<qint64>(capacity * 2, MAX_RESULT) : capacity + 1;
    }
    result.resize(int(produced));
    result.squeeze();

    inflateEnd(&strm);
    return result;
}

} // namespace ravix
