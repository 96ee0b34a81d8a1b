// SPDX-License-Identifier: MIT
#include "zip/unzip.h"
#include "zip/unzip_p.h"
#include "zip/unzipoutput_p.h"
#include "zip/ziputils.h"

#include "sys/deflatecodec_p.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QtDebug>

#include <cstring>
#include <memory>
#include <new>

using namespace ravix::zipcrypt;

namespace {

constexpr quint32 LOCAL_HEADER_SIGNATURE = 0x04034B50;
constexpr quint32 DATA_DESCRIPTOR_SIGNATURE = 0x08074B50;
constexpr quint32 CENTRAL_HEADER_SIGNATURE = 0x02014B50;
constexpr quint32 END_RECORD_SIGNATURE = 0x06054B50;
constexpr int END_RECORD_SIZE = 22;

// Deflated entries up to this size are inflated whole in one call, two to three times as fast
// as zlib; larger ones stream. The bound is the writer's: both buffers (at most 64 MiB out and
// the compressed bytes in) live only through one call, and with large pages their fresh pages
// cost less than zlib's slower decoding (entries of 17 MB verify in a quarter less time).
constexpr quint64 WHOLE_ENTRY_BOUND = quint64(64) << 20;

bool isEndSignature(const char *p)
{
    return get32(reinterpret_cast<const unsigned char *>(p)) == END_RECORD_SIGNATURE;
}

// Highest position in [0, last] where an end record signature starts; the block holds at
// least last + 4 bytes. -1 when there is none.
qint64 lastSignatureIn(const char *block, qint64 last)
{
    qint64 found = -1;
    const char *p = block;
    const char *end = block + last + 1;
    while (p < end) {
        p = static_cast<const char *>(std::memchr(p, 'P', size_t(end - p)));
        if (!p)
            break;
        if (isEndSignature(p))
            found = p - block;
        ++p;
    }
    return found;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// UnzipPrivate

UnzipPrivate::UnzipPrivate()
    : uBuffer(reinterpret_cast<unsigned char *>(buffer1)), crcTable(get_crc_table())
{
}

UnzipPrivate::~UnzipPrivate()
{
    closeArchive();
}

UnZip::ErrorCode UnzipPrivate::openArchive(QIODevice *dev)
{
    Q_ASSERT(dev);
    if (device)
        closeArchive();

    if (!dev->isOpen() && !dev->open(QIODevice::ReadOnly)) {
        qDebug() << "Unable to open device for reading";
        return UnZip::OpenFailed;
    }

    device = dev;
    if (device != file)
        connect(device, SIGNAL(destroyed(QObject *)), this, SLOT(deviceDestroyed(QObject *)));
    headers = new QMap<QString, ZipEntryP *>;

    UnZip::ErrorCode ec = seekToCentralDirectory();
    if (ec == UnZip::Ok && cdEntryCount > 0)
        ec = readCentralRecords();
    if (ec != UnZip::Ok && ec != UnZip::PartiallyCorrupted)
        closeArchive();
    return ec;
}

UnZip::ErrorCode UnzipPrivate::readCentralRecords()
{
    int records = 0;
    for (;;) {
        if (device->read(buffer1, 4) != 4) {
            if (records == 0) {
                qDebug() << "Corrupted or invalid zip archive. Closing.";
                return UnZip::Corrupted;
            }
            qDebug() << "Corrupted zip archive. Some files might be extracted.";
            return UnZip::PartiallyCorrupted;
        }
        if (get32(uBuffer) != CENTRAL_HEADER_SIGNATURE)
            return UnZip::Ok;
        const UnZip::ErrorCode ec = parseCentralDirectoryRecord();
        if (ec != UnZip::Ok)
            return ec;
        ++records;
    }
}

UnZip::ErrorCode UnzipPrivate::seekToCentralDirectory()
{
    const qint64 size = device->size();
    if (size < END_RECORD_SIZE)
        return UnZip::InvalidArchive;

    // The end record is the last signature with room for its 22 bytes. The tail is read in
    // blocks and scanned in memory, back to the first byte of the device.
    qint64 found = -1;
    qint64 last = size - END_RECORD_SIZE; // highest possible start
    while (last >= 0 && found < 0) {
        const qint64 blockStart = qMax<qint64>(0, last + 4 - BUFFER_SIZE);
        const qint64 len = last + 4 - blockStart;
        if (!device->seek(blockStart))
            return UnZip::SeekFailed;
        if (device->read(buffer1, len) != len)
            return UnZip::InvalidArchive;
        const qint64 at = lastSignatureIn(buffer1, last - blockStart);
        if (at >= 0)
            found = blockStart + at;
        last = blockStart - 1;
    }
    if (found < 0)
        return UnZip::InvalidArchive;

    if (!device->seek(found))
        return UnZip::SeekFailed;
    eocdOffset = quint64(found);
    if (device->read(buffer1, END_RECORD_SIZE) != END_RECORD_SIZE)
        return UnZip::ReadFailed;

    cdEntryCount = get16(uBuffer + 10);
    cdOffset = get32(uBuffer + 16);
    const quint16 commentLength = get16(uBuffer + 20);
    if (commentLength > 0) {
        if (device->read(buffer2, commentLength) != commentLength)
            return UnZip::ReadFailed;
        comment = QString::fromUtf8(buffer2, int(qstrnlen(buffer2, commentLength)));
    }
    if (found >= ZIP64_LOCATOR_SIZE) {
        const UnZip::ErrorCode ec = readZip64End(quint64(found) - ZIP64_LOCATOR_SIZE);
        if (ec != UnZip::Ok)
            return ec;
    }
    if (!device->seek(qint64(cdOffset)))
        return UnZip::SeekFailed;
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::readZip64End(quint64 locatorAt)
{
    if (!device->seek(qint64(locatorAt)))
        return UnZip::SeekFailed;
    if (device->read(buffer1, ZIP64_LOCATOR_SIZE) != ZIP64_LOCATOR_SIZE)
        return UnZip::ReadFailed;
    if (get32(uBuffer) != ZIP64_LOCATOR_SIGNATURE)
        return UnZip::Ok; // a classic archive
    // The 64-bit end record lies before its locator, the directory before that record.
    const quint64 recordAt = get64(uBuffer + 8);
    if (recordAt > locatorAt || locatorAt - recordAt < ZIP64_END_SIZE) {
        qDebug() << "The 64-bit end record lies outside the archive.";
        return UnZip::InvalidArchive;
    }
    if (!device->seek(qint64(recordAt)))
        return UnZip::SeekFailed;
    if (device->read(buffer1, ZIP64_END_SIZE) != ZIP64_END_SIZE)
        return UnZip::ReadFailed;
    if (get32(uBuffer) != ZIP64_END_SIGNATURE) {
        qDebug() << "The 64-bit end record is missing.";
        return UnZip::InvalidArchive;
    }
    const quint64 size = get64(uBuffer + 40);
    const quint64 offset = get64(uBuffer + 48);
    if (offset > recordAt || size > recordAt - offset) {
        qDebug() << "The central directory lies outside the archive.";
        return UnZip::InvalidArchive;
    }
    cdEntryCount = get64(uBuffer + 32);
    cdOffset = offset;
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::parseCentralDirectoryRecord()
{
    if (device->read(buffer1, 42) != 42)
        return UnZip::ReadFailed;

    // Offsets below count from the byte after the signature.
    const quint16 compMethod = get16(uBuffer + 6);
    const quint16 nameLength = get16(uBuffer + 24);
    const quint16 extraLength = get16(uBuffer + 26);
    const quint16 commentLength = get16(uBuffer + 28);
    const auto version = static_cast<qint8>(uBuffer[2]);

    QString name;
    if (nameLength > 0) {
        if (device->read(buffer2, nameLength) != nameLength)
            return UnZip::ReadFailed;
        name = QString::fromLatin1(buffer2, nameLength);
    }

    bool skip = false;
    if (compMethod != 0 && compMethod != 8) {
        qDebug() << "Unsupported compression method. Skipping file.";
        skip = true;
    } else if (nameLength == 0) {
        qDebug() << "Skipping file with no name.";
        skip = true;
    } else if (version > 45) {
        QString v = QString::number(version);
        if (v.size() == 2)
            v.insert(1, QLatin1Char('.'));
        qDebug().noquote() << QStringLiteral("Unsupported PKZip version (%1). Skipping file: %2")
                                  .arg(v, name.isEmpty() ? QStringLiteral("<undefined>") : name);
        skip = true;
    }

    if (skip) {
        if (!device->seek(device->pos() + extraLength + commentLength))
            return UnZip::SeekFailed;
        ++skippedEntries;
        return UnZip::Ok;
    }

    if (extraLength > 0 && device->read(buffer2, extraLength) != extraLength)
        return UnZip::ReadFailed;
    quint64 szComp = get32(uBuffer + 16);
    quint64 szUncomp = get32(uBuffer + 20);
    quint64 lhOffset = get32(uBuffer + 38);
    int zip64Size = 0;
    const unsigned char *zip64 =
        findZip64Extra(reinterpret_cast<unsigned char *>(buffer2), extraLength, &zip64Size);
    quint64 *const fields[] = {&szUncomp, &szComp, &lhOffset};
    if (!readZip64Fields(zip64, zip64Size, fields, 3)) {
        qDebug().noquote() << QStringLiteral("Damaged 64-bit sizes. Skipping file: %1").arg(name);
        if (commentLength > 0 && !device->seek(device->pos() + commentLength))
            return UnZip::SeekFailed;
        ++skippedEntries;
        return UnZip::Ok;
    }

    auto *h = new ZipEntryP;
    h->gpFlag[0] = uBuffer[4];
    h->gpFlag[1] = uBuffer[5];
    h->compMethod = compMethod;
    h->modTime[0] = uBuffer[8];
    h->modTime[1] = uBuffer[9];
    h->modDate[0] = uBuffer[10];
    h->modDate[1] = uBuffer[11];
    h->crc = get32(uBuffer + 12);
    h->szComp = szComp;
    h->szUncomp = szUncomp;
    h->lhOffset = lhOffset;

    if (commentLength > 0) {
        if (device->read(buffer2, commentLength) != commentLength) {
            delete h;
            return UnZip::ReadFailed;
        }
        h->comment = QString::fromLatin1(buffer2, commentLength);
    }

    delete headers->value(name, nullptr);
    headers->insert(name, h);
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::parseLocalHeaderRecord(const QString &path, ZipEntryP &entry)
{
    if (!device->seek(qint64(entry.lhOffset)))
        return UnZip::SeekFailed;
    if (device->read(buffer1, 4) != 4)
        return UnZip::ReadFailed;
    if (get32(uBuffer) != LOCAL_HEADER_SIGNATURE)
        return UnZip::InvalidArchive;
    if (device->read(buffer1, 26) != 26)
        return UnZip::ReadFailed;

    // Offsets below count from the byte after the signature.
    const bool hasDescriptor = entry.hasDataDescriptor();
    const bool same = get16(uBuffer + 4) == entry.compMethod && uBuffer[2] == entry.gpFlag[0] &&
                      uBuffer[3] == entry.gpFlag[1] && uBuffer[6] == entry.modTime[0] &&
                      uBuffer[7] == entry.modTime[1] && uBuffer[8] == entry.modDate[0] &&
                      uBuffer[9] == entry.modDate[1];
    if (!same)
        return UnZip::HeaderConsistencyError;
    const quint32 localCrc = get32(uBuffer + 10);
    quint64 localComp = get32(uBuffer + 14);
    quint64 localUncomp = get32(uBuffer + 18);

    const quint16 nameLength = get16(uBuffer + 22);
    const quint16 extraLength = get16(uBuffer + 24);
    if (nameLength == 0)
        return UnZip::HeaderConsistencyError;
    if (device->read(buffer2, nameLength) != nameLength)
        return UnZip::ReadFailed;
    if (QString::fromLatin1(buffer2, nameLength) != path) {
        qDebug() << "Filename in local header mismatches.";
        return UnZip::HeaderConsistencyError;
    }
    if (extraLength > 0 && device->read(buffer2, extraLength) != extraLength)
        return UnZip::ReadFailed;
    int zip64Size = 0;
    const unsigned char *zip64 =
        findZip64Extra(reinterpret_cast<unsigned char *>(buffer2), extraLength, &zip64Size);
    if (!hasDescriptor) {
        quint64 *const fields[] = {&localUncomp, &localComp};
        if (!readZip64Fields(zip64, zip64Size, fields, 2) || localCrc != entry.crc ||
            localComp != entry.szComp || localUncomp != entry.szUncomp)
            return UnZip::HeaderConsistencyError;
    }

    const qint64 dataOffset = device->pos();
    if (dataOffset < 0)
        return UnZip::HeaderConsistencyError;
    entry.dataOffset = quint64(dataOffset);
    return hasDescriptor ? checkDataDescriptor(entry, zip64 != nullptr) : UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::checkDataDescriptor(const ZipEntryP &entry, bool zip64)
{
    // Sizes are 64-bit after a local header with a 64-bit extra field; the signature is
    // optional. Writers differ, so either width is accepted when its values match.
    if (!device->seek(qint64(entry.dataOffset + entry.szComp)))
        return UnZip::SeekFailed;
    const qint64 got = device->read(buffer1, 24);
    if (got < 12)
        return UnZip::ReadFailed;
    const bool signature = get32(uBuffer) == DATA_DESCRIPTOR_SIGNATURE;
    const unsigned char *p = signature ? uBuffer + 4 : uBuffer;
    const qint64 avail = got - (signature ? 4 : 0);
    auto matches = [&](bool wide) {
        if (avail < (wide ? 20 : 12))
            return false;
        const quint64 comp = wide ? get64(p + 4) : get32(p + 4);
        const quint64 uncomp = wide ? get64(p + 12) : get32(p + 8);
        return get32(p) == entry.crc && comp == entry.szComp && uncomp == entry.szUncomp;
    };
    if (matches(zip64) || matches(!zip64))
        return UnZip::Ok;
    return avail < (zip64 ? 20 : 12) ? UnZip::ReadFailed : UnZip::HeaderConsistencyError;
}

void UnzipPrivate::releaseState()
{
    if (headers) {
        qDeleteAll(*headers);
        delete headers;
        headers = nullptr;
    }
    device = nullptr;
    delete file;
    file = nullptr;
    cdOffset = 0;
    eocdOffset = 0;
    cdEntryCount = 0;
    skippedEntries = 0;
    comment.clear();
    skipAllEncrypted = false;
}

void UnzipPrivate::closeArchive()
{
    if (device && device != file)
        disconnect(device, nullptr, this, nullptr);
    releaseState();
}

void UnzipPrivate::deviceDestroyed(QObject *)
{
    qDebug() << "Unexpected device destruction detected.";
    // The device is gone: forget it before releasing anything else.
    device = nullptr;
    releaseState();
}

QDateTime UnzipPrivate::convertDateTime(const unsigned char date[2], const unsigned char time[2])
{
    const int year = (date[1] >> 1) + 1980;
    const int month = ((date[1] & 1) << 3) | (date[0] >> 5);
    const int day = date[0] & 0x1F;
    const int hour = time[1] >> 3;
    const int minute = ((time[1] & 7) << 3) | (time[0] >> 5);
    const int second = (time[0] & 0x1F) * 2;
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::LocalTime);
}

QString UnzipPrivate::safeEntryPath(const QString &name)
{
    // "\" counts as a separator everywhere: archives from Windows tools use it.
    const QStringList parts =
        QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    QStringList kept;
    for (int i = 0; i < parts.size(); ++i) {
        QString part = parts.at(i);
        if (kept.isEmpty() && part.size() >= 2 && part.at(1) == QLatin1Char(':') &&
            part.at(0).isLetter() && part.at(0).unicode() < 128)
            part.remove(0, 2); // drive letter
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String(".."))
            continue;
        kept.append(part);
    }
    return kept.join(QLatin1Char('/'));
}

UnZip::ErrorCode UnzipPrivate::extractFile(const QString &path, ZipEntryP &entry, const QDir &dir,
                                           UnZip::ExtractionOptions options)
{
    const QString safe = safeEntryPath(path);
    if (safe != QDir::cleanPath(path) && safe + QLatin1Char('/') != path) {
        qDebug().noquote() << QStringLiteral(
                                  "Entry %1 reaches outside the target directory; using %2")
                                  .arg(path, safe.isEmpty() ? QStringLiteral("<nothing>") : safe);
    }

    if (path.endsWith(QLatin1Char('/'))) {
        if (options.testFlag(UnZip::SkipPaths) || options.testFlag(UnZip::VerifyOnly) ||
            safe.isEmpty())
            return UnZip::Ok;
        ravix::zipoutput::OutputDir out;
        return out.open(dir, safe, true);
    }

    if (options.testFlag(UnZip::VerifyOnly))
        return extractFile(path, entry, static_cast<QIODevice *>(nullptr), options);

    if (safe.isEmpty()) {
        qDebug().noquote() << QStringLiteral("Skipping %1: no name is left for it").arg(path);
        return UnZip::Skip;
    }

    // Headers and password are checked before anything is created, so a wrong password
    // or a bad header leaves an existing file of the same name alone.
    Keys keys(crcTable);
    qint64 n = 0;
    UnZip::ErrorCode ec = beginEntry(path, entry, keys, n);
    if (ec != UnZip::Ok)
        return ec;

    const int slash = safe.lastIndexOf(QLatin1Char('/'));
    const QString subDir =
        slash > 0 && !options.testFlag(UnZip::SkipPaths) ? safe.left(slash) : QString();
    const bool create = !options.testFlag(UnZip::NoSilentDirCreation);
    // The descriptor of the folder is kept, so a link planted on its path afterwards is not
    // followed either.
    const QString key = dir.absolutePath() + QLatin1Char('\0') + subDir +
                        (create ? QLatin1String("\0c") : QLatin1String("\0n"));
    if (!lastDir || key != lastDirKey) {
        lastDir.reset();
        auto out = std::make_unique<ravix::zipoutput::OutputDir>();
        ec = out->open(dir, subDir, create);
        if (ec != UnZip::Ok)
            return ec;
        lastDir = std::move(out);
        lastDirKey = key;
    }
    return lastDir->writeFile(safe.mid(slash + 1), convertDateTime(entry.modDate, entry.modTime),
                              [&](QIODevice *dev) { return streamEntry(entry, n, dev, keys); });
}

UnZip::ErrorCode UnzipPrivate::deliver(const char *data, qint64 len, const ZipEntryP &entry,
                                       QIODevice *outDev, quint32 &crc, qint64 &total)
{
    total += len;
    // A lying size field must not let an entry fill the disk.
    if (total > qint64(entry.szUncomp)) {
        qDebug() << "Entry data exceeds its declared size";
        return UnZip::Corrupted;
    }
    crc = ravix::DeflateCodec::crc32(crc, data, std::size_t(len));
    if (outDev && outDev->write(data, len) != len)
        return UnZip::WriteFailed;
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::copyData(ZipEntryP &entry, qint64 n, QIODevice *outDev, Keys *keys,
                                        quint32 &crc, qint64 &total)
{
    while (n > 0) {
        const qint64 r = device->read(buffer1, qMin<qint64>(n, BUFFER_SIZE));
        if (r < 0)
            return UnZip::ReadFailed;
        if (r == 0)
            break;
        n -= r;
        if (keys)
            keys->decrypt(buffer1, r);
        const UnZip::ErrorCode ec = deliver(buffer1, r, entry, outDev, crc, total);
        if (ec != UnZip::Ok)
            return ec;
    }
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::inflateData(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                                           Keys *keys, quint32 &crc, qint64 &total)
{
    z_stream zstr;
    std::memset(&zstr, 0, sizeof(zstr));
    if (inflateInit2(&zstr, -MAX_WBITS) != Z_OK)
        return UnZip::ZlibError;

    UnZip::ErrorCode ec = UnZip::Ok;
    int zret = Z_OK;
    while (n > 0 && zret != Z_STREAM_END && ec == UnZip::Ok) {
        const qint64 r = device->read(buffer1, qMin<qint64>(n, BUFFER_SIZE));
        if (r < 0) {
            ec = UnZip::ReadFailed;
            break;
        }
        if (r == 0)
            break;
        n -= r;
        if (keys)
            keys->decrypt(buffer1, r);
        zstr.next_in = uBuffer;
        zstr.avail_in = static_cast<uInt>(r);
        do {
            zstr.next_out = reinterpret_cast<Bytef *>(buffer2);
            zstr.avail_out = BUFFER_SIZE;
            zret = inflate(&zstr, Z_NO_FLUSH);
            if (zret == Z_NEED_DICT || zret == Z_DATA_ERROR || zret == Z_MEM_ERROR ||
                zret == Z_STREAM_ERROR) {
                ec = UnZip::ZlibError;
                break;
            }
            ec = deliver(buffer2, BUFFER_SIZE - zstr.avail_out, entry, outDev, crc, total);
        } while (ec == UnZip::Ok && zstr.avail_out == 0 && zret != Z_STREAM_END);
    }
    inflateEnd(&zstr);
    return ec;
}

UnZip::ErrorCode UnzipPrivate::beginEntry(const QString &path, ZipEntryP &entry, Keys &keys,
                                          qint64 &n)
{
    if (!entry.headerParsed) {
        entry.headerResult = parseLocalHeaderRecord(path, entry);
        entry.headerParsed = true;
    }
    // A failed check stands for every later attempt: the data offset is unknown.
    if (entry.headerResult != UnZip::Ok)
        return static_cast<UnZip::ErrorCode>(entry.headerResult);

    // Right after the header the device is there already; a file's seek is a system call.
    if (device->pos() != qint64(entry.dataOffset) && !device->seek(qint64(entry.dataOffset)))
        return UnZip::SeekFailed;

    n = qint64(entry.szComp);
    if (entry.isEncrypted()) {
        if (n < 12 || device->read(buffer1, 12) != 12)
            return UnZip::Corrupted;
        keys.init(password);
        keys.decrypt(buffer1, 12);
        const unsigned char check = entry.hasDataDescriptor()
                                        ? entry.modTime[1]
                                        : static_cast<unsigned char>(entry.crc >> 24);
        if (uBuffer[11] != check) {
            qDebug().noquote() << QStringLiteral("Unable to decrypt %1").arg(path);
            return UnZip::Skip;
        }
        n -= 12;
    }
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::streamEntry(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                                           Keys &keys)
{
    if (n == 0)
        return (entry.crc == 0 && entry.szUncomp == 0) ? UnZip::Ok : UnZip::Corrupted;

    if (entry.compMethod == 8 && entry.szUncomp <= WHOLE_ENTRY_BOUND &&
        quint64(n) <= ravix::DeflateCodec::compressBound(ravix::DeflateCodec::Raw,
                                                         std::size_t(WHOLE_ENTRY_BOUND))) {
        const qint64 dataAt = device->pos();
        const Keys atData = keys;
        bool judged = false;
        const UnZip::ErrorCode ec = inflateWhole(entry, n, outDev, keys, judged);
        if (judged)
            return ec;
        // What the whole-buffer decoder refuses, zlib judges from the start as it always has,
        // so that damaged entries give the same result either way.
        keys = atData;
        if (dataAt < 0 || !device->seek(dataAt))
            return UnZip::SeekFailed;
    }

    Keys *k = entry.isEncrypted() ? &keys : nullptr;
    quint32 crc = 0;
    qint64 total = 0;
    const UnZip::ErrorCode ec = entry.compMethod == 0
                                    ? copyData(entry, n, outDev, k, crc, total)
                                    : inflateData(entry, n, outDev, k, crc, total);
    if (ec != UnZip::Ok)
        return ec;
#ifdef RAVIXCORE_FUZZING
    // Fuzzing builds go on past a CRC mismatch, so mutated data reaches the code behind it.
    crc = entry.crc;
#endif
    if (crc != entry.crc || total != qint64(entry.szUncomp))
        return UnZip::Corrupted;
    return UnZip::Ok;
}

UnZip::ErrorCode UnzipPrivate::inflateWhole(ZipEntryP &entry, qint64 n, QIODevice *outDev,
                                            Keys &keys, bool &judged)
{
    judged = false;
    const auto size = std::size_t(entry.szUncomp);
    char *in = wholeIn.reserve(std::size_t(n));
    char *out = wholeOut.reserve(size);
    if (!in || !out || device->read(in, n) != n)
        return UnZip::Ok;
    if (entry.isEncrypted())
        keys.decrypt(in, n);
    // Exactly the declared size, or the entry is left to the streaming path to judge.
    if (ravix::DeflateCodec::decompressExact(ravix::DeflateCodec::Raw, in, std::size_t(n), out,
                                             size) != ravix::DeflateCodec::Ok)
        return UnZip::Ok;
    judged = true;
    if (outDev && outDev->write(out, qint64(size)) != qint64(size))
        return UnZip::WriteFailed;
#ifdef RAVIXCORE_FUZZING
    return UnZip::Ok;
#else
    return ravix::DeflateCodec::crc32(0, out, size) == entry.crc ? UnZip::Ok : UnZip::Corrupted;
#endif
}

UnZip::ErrorCode UnzipPrivate::extractFile(const QString &path, ZipEntryP &entry, QIODevice *outDev,
                                           UnZip::ExtractionOptions options)
{
    Keys keys(crcTable);
    qint64 n = 0;
    const UnZip::ErrorCode ec = beginEntry(path, entry, keys, n);
    if (ec != UnZip::Ok)
        return ec;
    // Verifying decompresses and checks only, also when a device was given.
    return streamEntry(entry, n, options.testFlag(UnZip::VerifyOnly) ? nullptr : outDev, keys);
}

UnZip::ErrorCode UnzipPrivate::extractAll(const QDir &dir, UnZip::ExtractionOptions options)
{
    if (!device)
        return UnZip::NoOpenArchive;
    if (!headers || headers->isEmpty())
        return UnZip::Ok;

    UnZip::ErrorCode ec = UnZip::Ok;
    for (auto it = headers->begin(); it != headers->end(); ++it) {
        ZipEntryP *entry = it.value();
        if (entry->isEncrypted() && skipAllEncrypted)
            continue;
        ec = extractFile(it.key(), *entry, dir, options);
        if (ec == UnZip::Skip)
            continue;
        if (ec == UnZip::Corrupted) {
            qDebug().noquote() << "Corrupted entry" << it.key();
            break;
        }
        if (ec != UnZip::Ok)
            break;
    }
    return ec;
}

// ---------------------------------------------------------------------------------------------
// UnZip

UnZip::ZipEntry::ZipEntry()
    : compressedSize(0), uncompressedSize(0), crc32(0), compression(NoCompression), type(File),
      encrypted(false), compressedSize64(0), uncompressedSize64(0)
{
}

UnZip::UnZip() : d(new UnzipPrivate) {}

UnZip::~UnZip()
{
    closeArchive();
    delete d;
}

bool UnZip::isOpen() const
{
    return d->device != nullptr;
}

UnZip::ErrorCode UnZip::openArchive(const QString &filename)
{
    closeArchive();
    auto *file = new QFile(filename);
    if (!file->exists()) {
        delete file;
        return FileNotFound;
    }
    if (!file->open(QIODevice::ReadOnly)) {
        delete file;
        return OpenFailed;
    }
    d->file = file;
    return d->openArchive(file);
}

UnZip::ErrorCode UnZip::openArchive(QIODevice *device)
{
    if (!device) {
        qDebug() << "Invalid device.";
        return InvalidDevice;
    }
    closeArchive();
    return d->openArchive(device);
}

void UnZip::closeArchive()
{
    d->closeArchive();
}

QString UnZip::archiveComment() const
{
    return d->comment;
}

void UnZip::setPassword(const QString &pwd)
{
    d->password = pwd;
}

bool UnZip::contains(const QString &file) const
{
    return d->headers && d->headers->contains(file);
}

QStringList UnZip::fileList() const
{
    return d->headers ? d->headers->keys() : QStringList();
}

QList<UnZip::ZipEntry> UnZip::entryList() const
{
    QList<ZipEntry> list;
    if (!d->headers)
        return list;
    for (auto it = d->headers->constBegin(); it != d->headers->constEnd(); ++it) {
        const ZipEntryP *h = it.value();
        ZipEntry e;
        e.filename = it.key();
        e.comment = h->comment;
        e.compressedSize = quint32(qMin<quint64>(h->szComp, MARK_32));
        e.uncompressedSize = quint32(qMin<quint64>(h->szUncomp, MARK_32));
        e.compressedSize64 = h->szComp;
        e.uncompressedSize64 = h->szUncomp;
        e.crc32 = h->crc;
        e.lastModified = UnzipPrivate::convertDateTime(h->modDate, h->modTime);
        e.compression = h->compMethod == 0   ? NoCompression
                        : h->compMethod == 8 ? Deflated
                                             : UnknownCompression;
        e.type = e.filename.endsWith(QLatin1Char('/')) ? Directory : File;
        e.encrypted = h->isEncrypted();
        list.append(e);
    }
    return list;
}

UnZip::ErrorCode UnZip::verifyArchive()
{
    return extractAll(QString(), VerifyOnly);
}

UnZip::ErrorCode UnZip::extractAll(const QString &dirname, ExtractionOptions options)
{
    return extractAll(QDir(dirname), options);
}

UnZip::ErrorCode UnZip::extractAll(const QDir &dir, ExtractionOptions options)
{
    const UnzipPrivate::BufferScope buffers(d);
    return d->extractAll(dir, options);
}

UnZip::ErrorCode UnZip::extractFile(const QString &filename, const QString &dirname,
                                    ExtractionOptions options)
{
    return extractFile(filename, QDir(dirname), options);
}

UnZip::ErrorCode UnZip::extractFile(const QString &filename, const QDir &dir,
                                    ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    ZipEntryP *entry = d->headers ? d->headers->value(filename, nullptr) : nullptr;
    if (!entry)
        return FileNotFound;
    const UnzipPrivate::BufferScope buffers(d);
    return d->extractFile(filename, *entry, dir, options);
}

UnZip::ErrorCode UnZip::extractFile(const QString &filename, QIODevice *device,
                                    ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    if (!d->headers)
        return FileNotFound;
    if (!device)
        return InvalidDevice;
    ZipEntryP *entry = d->headers->value(filename, nullptr);
    if (!entry)
        return FileNotFound;
    const UnzipPrivate::BufferScope buffers(d);
    return d->extractFile(filename, *entry, device, options);
}

UnZip::ErrorCode UnZip::extractFiles(const QStringList &filenames, const QString &dirname,
                                     ExtractionOptions options)
{
    return extractFiles(filenames, QDir(dirname), options);
}

UnZip::ErrorCode UnZip::extractFiles(const QStringList &filenames, const QDir &dir,
                                     ExtractionOptions options)
{
    if (!d->device)
        return NoOpenArchive;
    if (!d->headers)
        return Ok;
    for (const QString &name : filenames) {
        const ErrorCode ec = extractFile(name, dir, options);
        if (ec == FileNotFound)
            continue;
        if (ec != Ok)
            return ec;
    }
    return Ok;
}

QString UnZip::formatError(UnZip::ErrorCode c) const
{
    switch (c) {
    case Ok:
        return tr("ZIP operation completed successfully.");
    case ZlibInit:
        return tr("Failed to initialize or load zlib library.");
    case ZlibError:
        return tr("zlib library error.");
    case OpenFailed:
        return tr("Unable to create or open file.");
    case PartiallyCorrupted:
        return tr("Partially corrupted archive. Some files might be extracted.");
    case Corrupted:
        return tr("Corrupted archive.");
    case WrongPassword:
        return tr("Wrong password.");
    case NoOpenArchive:
        return tr("No archive has been created yet.");
    case FileNotFound:
        return tr("File or directory does not exist.");
    case ReadFailed:
        return tr("File read error.");
    case WriteFailed:
        return tr("File write error.");
    case SeekFailed:
        return tr("File seek error.");
    case CreateDirFailed:
        return tr("Unable to create a directory.");
    case InvalidDevice:
        return tr("Invalid device.");
    case InvalidArchive:
        return tr("Invalid or incompatible zip archive.");
    case HeaderConsistencyError:
        return tr("Inconsistent headers. Archive might be corrupted.");
    default:
        break;
    }
    return tr("Unknown error.");
}
