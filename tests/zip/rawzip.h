// SPDX-License-Identifier: MIT
#pragma once

// Test-side view of an archive's records, read straight from the bytes, so that the writer's
// output is checked without going through our own reader.

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>

#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/ziputils.h>

#include <QBuffer>

#include <fcntl.h>
#include <sys/stat.h>

#ifdef Q_OS_WIN
#include "sys/oslayer_p.h"
#endif

namespace ziptest {

inline quint16 le16(const QByteArray &b, int at)
{
    return quint16(quint8(b.at(at)) | (quint8(b.at(at + 1)) << 8));
}

inline quint32 le32(const QByteArray &b, int at)
{
    return quint32(le16(b, at)) | (quint32(le16(b, at + 2)) << 16);
}

struct Record
{
    int offset = 0;
    quint16 versionMade = 0;
    quint16 versionNeeded = 0;
    quint16 flags = 0;
    quint16 method = 0;
    quint16 time = 0;
    quint16 date = 0;
    quint32 crc = 0;
    quint32 compSize = 0;
    quint32 uncompSize = 0;
    quint32 externalAttr = 0;
    quint32 localOffset = 0;
    QString name;
    QByteArray data; ///< local records: the stored bytes (encryption header included)
};

struct RawZip
{
    QList<Record> locals;   ///< in file order
    QList<Record> centrals; ///< in directory order
    quint16 entries = 0;
    quint32 cdSize = 0;
    quint32 cdOffset = 0;
    QByteArray comment;
    QString error;

    bool ok() const { return error.isEmpty(); }
};

/// The fields local and central headers share, from "version needed" on.
inline void readCommon(const QByteArray &b, int at, Record &r)
{
    r.versionNeeded = le16(b, at);
    r.flags = le16(b, at + 2);
    r.method = le16(b, at + 4);
    r.time = le16(b, at + 6);
    r.date = le16(b, at + 8);
    r.crc = le32(b, at + 10);
    r.compSize = le32(b, at + 14);
    r.uncompSize = le32(b, at + 18);
}

/// Parses an archive whose local records follow each other from offset 0, as our writer lays
/// them out. Errors land in RawZip::error.
inline RawZip parseRaw(const QByteArray &b)
{
    RawZip z;
    const int eocd = b.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (eocd < 0 || eocd + 22 > b.size()) {
        z.error = QStringLiteral("no end record");
        return z;
    }
    z.entries = le16(b, eocd + 10);
    z.cdSize = le32(b, eocd + 12);
    z.cdOffset = le32(b, eocd + 16);
    z.comment = b.mid(eocd + 22, le16(b, eocd + 20));

    int pos = 0;
    while (pos + 30 <= int(z.cdOffset) && le32(b, pos) == 0x04034B50) {
        Record r;
        r.offset = pos;
        readCommon(b, pos + 4, r);
        const int n = le16(b, pos + 26);
        const int x = le16(b, pos + 28);
        r.name = QString::fromLatin1(b.mid(pos + 30, n));
        pos += 30 + n + x;
        r.data = b.mid(pos, int(r.compSize));
        pos += int(r.compSize);
        if (r.flags & 0x08)
            pos += 16;
        z.locals.append(r);
    }
    if (pos != int(z.cdOffset)) {
        z.error =
            QStringLiteral("local records end at %1, directory at %2").arg(pos).arg(z.cdOffset);
        return z;
    }
    while (pos + 46 <= b.size() && le32(b, pos) == 0x02014B50) {
        Record r;
        r.offset = pos;
        r.versionMade = le16(b, pos + 4);
        readCommon(b, pos + 6, r);
        const int n = le16(b, pos + 28);
        const int x = le16(b, pos + 30);
        const int c = le16(b, pos + 32);
        r.externalAttr = le32(b, pos + 38);
        r.localOffset = le32(b, pos + 42);
        r.name = QString::fromLatin1(b.mid(pos + 46, n));
        z.centrals.append(r);
        pos += 46 + n + x + c;
    }
    if (pos != eocd)
        z.error = QStringLiteral("directory ends at %1, end record at %2").arg(pos).arg(eocd);
    return z;
}

inline RawZip parseRawFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        RawZip z;
        z.error = QStringLiteral("cannot open ") + path;
        return z;
    }
    return parseRaw(f.readAll());
}

inline QStringList centralNames(const RawZip &z)
{
    QStringList names;
    for (const Record &r : z.centrals)
        names << r.name;
    return names;
}

inline QStringList localNames(const RawZip &z)
{
    QStringList names;
    for (const Record &r : z.locals)
        names << r.name;
    return names;
}

/// Little-endian patches of crafted archives.
inline void put16At(QByteArray &b, int at, quint16 v)
{
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}

inline void put32At(QByteArray &b, int at, quint32 v)
{
    put16At(b, at, quint16(v & 0xFFFF));
    put16At(b, at + 2, quint16(v >> 16));
}

/// Writes a file (and its parent directories) and returns its path.
inline QString writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        return QString();
    return path;
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// Sets a file's modification time so that the writer sees the given wall-clock fields.
inline bool setWallClockMTime(const QString &path, const QDateTime &wallClock)
{
    const QDateTime asUtc(wallClock.date(), wallClock.time(), Qt::UTC);
    const qint64 secs = asUtc.toSecsSinceEpoch() - zip_currentUtcOffset();
#ifdef Q_OS_WIN
    // Through the system, for folders too: 100-ns steps since 1601.
    const std::uint64_t write = std::uint64_t(secs + 11644473600LL) * 10000000u;
    return ravix::oslayer::OsLayer::current().setFileTimes(
        QDir::toNativeSeparators(path).toStdWString(), nullptr, nullptr, &write);
#else
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = time_t(secs);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
#endif
}

/// A wrong password that the check byte of every named entry rejects. The check is one byte,
/// so one wrong password in 256 passes it and only fails later on the data; the tests that
/// want the rejection pick a password that gets it. Sets the password on \a unzip.
inline QString rejectedPassword(UnZip &unzip, const QStringList &names)
{
    for (int i = 0; i < 50; ++i) {
        const QString candidate = QStringLiteral("wrong%1").arg(i);
        unzip.setPassword(candidate);
        bool rejected = true;
        for (const QString &name : names) {
            QBuffer sink;
            sink.open(QIODevice::WriteOnly);
            rejected = rejected && unzip.extractFile(name, &sink) == UnZip::Skip;
        }
        if (rejected)
            return candidate;
    }
    return QString();
}

/// Text that deflates well but not trivially, of the given length.
inline QByteArray sampleText(int length, int seed = 1)
{
    QByteArray out;
    out.reserve(length);
    quint32 x = 2463534242u + quint32(seed);
    while (out.size() < length) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out += "line " + QByteArray::number(x % 1000) + " of the sample text\n";
    }
    out.truncate(length);
    return out;
}

/// Bytes that do not compress.
inline QByteArray noise(int length, int seed = 7)
{
    QByteArray out(length, Qt::Uninitialized);
    quint32 x = 88172645u + quint32(seed);
    for (int i = 0; i < length; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 11);
    }
    return out;
}

} // namespace ziptest
