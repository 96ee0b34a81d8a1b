#include "sys/gzipstreamwrapper.h"

#include <QtDebug>

#include <cstring>
#include <zlib.h>

namespace ravix {

GzipStreamWrapper::GzipStreamWrapper() = default;
GzipStreamWrapper::~GzipStreamWrapper() = default;

QByteArray GzipStreamWrapper::gzcompress(const QByteArray &data)
{
    uLongf length = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<int>(length), Qt::Uninitialized);
    compress(reinterpret_cast<Bytef *>(out.data()), &length,
             reinterpret_cast<const Bytef *>(data.constData()), static_cast<uLong>(data.size()));
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

    constexpr int CHUNK = 1024;
    char out[CHUNK];
    QByteArray result;
    do {
        strm.avail_out = CHUNK;
        strm.next_out = reinterpret_cast<Bytef *>(out);
        const int ret = inflate(&strm, Z_NO_FLUSH);
        if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR ||
            ret == Z_STREAM_ERROR) {
            inflateEnd(&strm);
            return QByteArray();
        }
        result.append(out, CHUNK - static_cast<int>(strm.avail_out));
    } while (strm.avail_out == 0);

    inflateEnd(&strm);
    return result;
}

} // namespace ravix
