// SPDX-License-Identifier: MIT
#include "rawzip.h"

#include <attacktools.h>
#include <testtools.h>

#include <ravixcore/appframe/platformconventions.h>
#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/zip.h>
#include <ravixcore/zip/ziputils.h>

#include "sys/deflatecodec_p.h"

#include <QBuffer>
#include <QPointer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <functional>
#include <chrono>
#include <thread>
#include <atomic>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif
#include <zlib.h>
#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace ziptest;

Q_DECLARE_METATYPE(Zip::CompressionLevel)
Q_DECLARE_METATYPE(Zip::CompressionOptions)
Q_DECLARE_METATYPE(Zip::ErrorCode)

namespace {

QByteArray rawDeflate(const QByteArray &in, int level)
{
    z_stream s;
    memset(&s, 0, sizeof(s));
    if (deflateInit2(&s, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return QByteArray();
    QByteArray out(int(deflateBound(&s, uLong(in.size()))), '\0');
    s.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.constData()));
    s.avail_in = uInt(in.size());
    s.next_out = reinterpret_cast<Bytef *>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.truncate(int(s.total_out));
    deflateEnd(&s);
    return out;
}

// What the writer stores for a file it deflates whole in memory.
QByteArray wholeDeflate(const QByteArray &in, int level)
{
    using ravix::DeflateCodec;
    QByteArray out(int(DeflateCodec::compressBound(DeflateCodec::Raw, std::size_t(in.size()))),
                   '\0');
    out.truncate(
        int(DeflateCodec::compress(DeflateCodec::Raw, level, in.constData(), std::size_t(in.size()),
                                   out.data(), std::size_t(out.size()))));
    return out;
}

// An archive of the one file \a src, read back record by record.
RawZip singleFileArchive(const QString &src, const QString &zipPath, Zip::CompressionLevel level)
{
    Zip zip;
    RawZip failed;
    failed.error = QStringLiteral("the writer failed");
    if (zip.createArchive(zipPath) != Zip::Ok ||
        zip.addFile(src, QString(), Zip::IgnorePaths, level) != Zip::Ok ||
        zip.closeArchive() != Zip::Ok)
        return failed;
    const RawZip z = parseRawFile(zipPath);
    if (z.ok() && z.locals.size() != 1)
        failed.error = QStringLiteral("not one entry");
    return z.ok() && z.locals.size() == 1 ? z : failed;
}

// Writes the files tree/d<i % dirs>/f<i>.<suffix> below \a base, with their time set; empty
// when one could not be written.
QStringList writeTree(const QString &base, int count, int dirs, const QStringList &suffixes,
                      const std::function<QByteArray(int)> &content, const QDateTime &stamp)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1/tree/d%2/f%3.%4")
                                 .arg(base)
                                 .arg(i % dirs)
                                 .arg(i)
                                 .arg(suffixes.at(i % suffixes.size()));
        files << writeFile(name, content(i));
        if (!setWallClockMTime(name, stamp))
            return QStringList();
    }
    return files;
}

// Files up to this size are deflated whole, larger ones streamed through zlib.
constexpr int WHOLE_ENTRY_BOUND = 64 << 20;

// Traditional archive decryption, written out here so the test does not lean on the reader.
QByteArray pkDecrypt(const QByteArray &cipher, const QByteArray &password)
{
    const z_crc_t *table = get_crc_table();
    quint32 k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
    auto crcStep = [table](quint32 c, quint8 b) {
        return quint32(table[(c ^ b) & 0xFF]) ^ (c >> 8);
    };
    auto update = [&](quint8 c) {
        k[0] = crcStep(k[0], c);
        k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
        k[2] = crcStep(k[2], quint8(k[1] >> 24));
    };
    for (char c : password)
        update(quint8(c));
    QByteArray plain;
    for (char c : cipher) {
        const quint32 t = (k[2] & 0xFFFF) | 2;
        const quint8 p = quint8(quint8(c) ^ quint8((t * (t ^ 1)) >> 8));
        update(p);
        plain.append(char(p));
    }
    return plain;
}

quint32 crcOf(const QByteArray &b)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(b.constData()), uInt(b.size())));
}

void append16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xFF)).append(char(v >> 8));
}

void append32(QByteArray &b, quint32 v)
{
    append16(b, quint16(v & 0xFFFF));
    append16(b, quint16(v >> 16));
}

// A device that accepts everything and only counts: lets the tests reach 4 GiB offsets
// without the disk space.
class CountingSink : public QIODevice
{
public:
    explicit CountingSink(qint64 start) : m_end(start) {}
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_end; }
    bool seek(qint64 pos) override
    {
        QIODevice::seek(pos);
        return true;
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        m_end = qMax(m_end, pos() + len);
        return len;
    }

private:
    qint64 m_end;
};

} // namespace

class TestZipWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void utcOffset_data();
    void utcOffset();
    void dosTime_data();
    void dosTime();
    void levels_data();
    void levels();
    void incompressibleData_data();
    void incompressibleData();
    void compressionThreads_data();
    void compressionThreads();
    void roots_data();
    void roots();
    void badFiles_data();
    void badFiles();
    void dotNames_data();
    void dotNames();
    void longNames_data();
    void longNames();

    void goldenBytes();
    void classicArchivesUnchanged();
    void emptyArchive();
    void duplicates();
    void duplicatesDifferInCase();
    void sameNameFromTwoDirectories();
    void archiveNotAddedToItself();
    void fifoSwappedInIsNotWaitedOn_data();
    void fifoSwappedInIsNotWaitedOn();
    void emptyDirectory();
    void overwriteRefused();
    void emptyPathAndClosedArchive();
    void commentIsLatin1();
    void closeFailureRemovesArchive();
    void destroyedDevice();
    void offsetsPast4GiB();
    void endlessSourceRefused();
    void moreThan65535Entries();
    void encryptionHeadersDiffer();
    void encryptedSizes();
    void formatErrorTexts();

private:
    QTemporaryDir *m_tmp = nullptr;
    QScopedPointer<QTemporaryDir> m_holder;
    QString path(const QString &rel) const { return m_tmp->path() + QLatin1Char('/') + rel; }
};

void TestZipWriter::init()
{
    m_holder.reset(new QTemporaryDir);
    m_tmp = m_holder.data();
    QVERIFY(m_tmp->isValid());
}

void TestZipWriter::utcOffset_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<int>("offset");
    QTest::newRow("UTC") << QByteArray("UTC0") << 0;
    QTest::newRow("UTC+3") << QByteArray("MSK-3") << 10800;
    QTest::newRow("UTC-5") << QByteArray("EST5") << -18000;
    QTest::newRow("UTC+5:30") << QByteArray("IST-5:30") << 19800;
}

void TestZipWriter::utcOffset()
{
    QFETCH(QByteArray, tz);
    QFETCH(int, offset);
    // Only this process's TZ variable changes, and it is put back.
    const QByteArray saved = qgetenv("TZ");
    const bool had = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", tz);
    tzset();
    const int actual = zip_currentUtcOffset();
    const QDateTime shifted =
        zip_fromFileTimestamp(QDateTime(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC));
    if (had)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
    tzset();
    QCOMPARE(actual, offset);
    QCOMPARE(shifted.time(), QTime(12, 0).addSecs(offset));
}

void TestZipWriter::dosTime_data()
{
    QTest::addColumn<QDateTime>("wallClock");
    QTest::addColumn<int>("date");
    QTest::addColumn<int>("time");

    QTest::newRow("odd second") << QDateTime(QDate(2020, 3, 7), QTime(10, 30, 15)) << 0x5067
                                << 0x53C7;
    QTest::newRow("epoch of the format")
        << QDateTime(QDate(1980, 1, 1), QTime(0, 0, 0)) << 0x0021 << 0x0000;
    QTest::newRow("month with bit 3")
        << QDateTime(QDate(2021, 12, 1), QTime(8, 7, 6)) << 0x5381 << 0x40E3;
    QTest::newRow("last of the range")
        << QDateTime(QDate(2107, 12, 31), QTime(23, 59, 59)) << 0xFF9F << 0xBF7D;
    // Outside the range the nearest representable time is stored instead of a wrapped year.
    QTest::newRow("before the range")
        << QDateTime(QDate(1975, 6, 1), QTime(12, 0, 0)) << 0x0021 << 0x0000;
    QTest::newRow("after the range")
        << QDateTime(QDate(2110, 5, 1), QTime(8, 0, 0)) << 0xFF9F << 0xBF7D;
}

void TestZipWriter::dosTime()
{
    QFETCH(QDateTime, wallClock);
    QFETCH(int, date);
    QFETCH(int, time);

    const QString src = writeFile(path("t.txt"), "x");
    QVERIFY(setWallClockMTime(src, wallClock));
    QCOMPARE(zip_fromFileTimestamp(QFileInfo(src).lastModified()).time(), wallClock.time());

    Zip zip;
    QCOMPARE(zip.createArchive(path("t.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(src, QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRawFile(path("t.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(z.locals.size(), 1);
    QCOMPARE(int(z.locals[0].date), date);
    QCOMPARE(int(z.locals[0].time), time);
    QCOMPARE(int(z.centrals[0].date), date);
    QCOMPARE(int(z.centrals[0].time), time);
}

void TestZipWriter::levels_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<int>("size");
    QTest::addColumn<Zip::CompressionLevel>("level");
    QTest::addColumn<int>("deflateLevel"); // -1: stored

    QTest::newRow("photo.JPG") << "photo.JPG" << 5000 << Zip::AutoFull << 2;
    QTest::newRow("notes.txt") << "notes.txt" << 5000 << Zip::AutoFull << 9;
    QTest::newRow("data.bin") << "data.bin" << 5000 << Zip::AutoFull << -1;
    QTest::newRow("a.tar.gz") << "a.tar.gz" << 5000 << Zip::AutoFull << 5;
    QTest::newRow("unknown type") << "a.unknown" << 5000 << Zip::AutoByType << 5;
    QTest::newRow("no suffix") << "README" << 5000 << Zip::AutoFull << 5;
    QTest::newRow("10 bytes, Deflate9") << "small.txt" << 10 << Zip::Deflate9 << -1;
    QTest::newRow("59 bytes") << "small.txt" << 59 << Zip::Deflate9 << -1;
    QTest::newRow("60 bytes") << "small.txt" << 60 << Zip::Deflate9 << 9;
    QTest::newRow("AutoSpeed") << "notes.txt" << 5000 << Zip::AutoSpeed << 5;
    QTest::newRow("Deflate1") << "notes.txt" << 5000 << Zip::Deflate1 << 1;
    QTest::newRow("Store") << "notes.txt" << 5000 << Zip::Store << -1;
    QTest::newRow("several chunks") << "big.txt" << 700000 << Zip::Deflate6 << 6;
    QTest::newRow("several chunks stored") << "big.txt" << 700000 << Zip::Store << -1;
    QTest::newRow("largest whole") << "big.txt" << WHOLE_ENTRY_BOUND << Zip::Deflate1 << 1;
    QTest::newRow("streamed") << "big.txt" << WHOLE_ENTRY_BOUND + 1 << Zip::Deflate1 << 1;

    // Every listed type: a list out of order hides some of its types from the lookup.
    const struct
    {
        int deflateLevel;
        const char *suffixes;
    } lists[] = {
        {-1, "7z bin deb exe gz gz2 jar rar rpm tar tgz z zip"},
        {2, "asf avi divx doc docx flv gif iso jpg jpeg mka mkv mp3 mp4 mpeg mpg odt ogg ogm ra "
            "rm wma wmv"},
        {9, "asp bat c conf cpp css csv cxx h hpp htm html hxx ini js php pl py rtf sh tsv txt vb "
            "vbs xml xst"},
    };
    for (const auto &list : lists) {
        const QStringList suffixes = QString::fromLatin1(list.suffixes).split(QLatin1Char(' '));
        for (const QString &suffix : suffixes) {
            const QString name = QStringLiteral("f.") + suffix.toUpper();
            QTest::newRow(qPrintable(QStringLiteral("listed ") + name))
                << name << 5000 << Zip::AutoByType << list.deflateLevel;
        }
    }
}

void TestZipWriter::levels()
{
    QFETCH(QString, fileName);
    QFETCH(int, size);
    QFETCH(Zip::CompressionLevel, level);
    QFETCH(int, deflateLevel);

    const QByteArray content = sampleText(size);
    const QString src = writeFile(path(fileName), content);
    const RawZip z = singleFileArchive(src, path("l.zip"), level);
    QVERIFY2(z.ok(), qPrintable(z.error));
    const Record &r = z.locals[0];
    QCOMPARE(r.name, fileName);
    QCOMPARE(int(r.method), deflateLevel < 0 ? 0 : 8);
    // Whole in memory up to the bound; above it, and from sources of unknown size, zlib.
    const QByteArray expected = deflateLevel < 0           ? content
                                : size > WHOLE_ENTRY_BOUND ? rawDeflate(content, deflateLevel)
                                                           : wholeDeflate(content, deflateLevel);
    QVERIFY(r.data == expected);
    QCOMPARE(r.crc, crcOf(content));
    QCOMPARE(int(r.uncompSize), size);
    QCOMPARE(z.centrals[0].crc, r.crc);
    QCOMPARE(z.centrals[0].compSize, r.compSize);
}

void TestZipWriter::incompressibleData_data()
{
    QTest::addColumn<Zip::CompressionLevel>("level");
    QTest::newRow("Deflate1") << Zip::Deflate1;
    QTest::newRow("Deflate6") << Zip::Deflate6;
    QTest::newRow("Deflate9") << Zip::Deflate9;
}

void TestZipWriter::incompressibleData()
{
    // Data that does not shrink stays a deflated entry, no larger than zlib made it.
    QFETCH(Zip::CompressionLevel, level);
    const QByteArray content = noise(300000, 11);
    const QString src = writeFile(path("random.dat"), content);
    const RawZip z = singleFileArchive(src, path("r.zip"), level);
    QVERIFY2(z.ok(), qPrintable(z.error));
    const Record &r = z.locals[0];
    QCOMPARE(int(r.method), 8);
    QCOMPARE(r.data, wholeDeflate(content, int(level)));
    QVERIFY2(r.data.size() <= rawDeflate(content, int(level)).size(),
             qPrintable(QString::number(r.data.size())));
    UnZip unzip;
    QCOMPARE(unzip.openArchive(path("r.zip")), UnZip::Ok);
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile("random.dat", &out), UnZip::Ok);
    QCOMPARE(out.data(), content);
}

void TestZipWriter::compressionThreads_data()
{
    QTest::addColumn<int>("threads");
    QTest::addColumn<QString>("password");
    QTest::newRow("2 threads") << 2 << QString();
    QTest::newRow("4 threads") << 4 << QString();
    QTest::newRow("4 threads, encrypted") << 4 << QString("pw");
}

void TestZipWriter::compressionThreads()
{
    QFETCH(int, threads);
    QFETCH(QString, password);
    // Text, incompressible, stored by type, tiny, empty and directory entries, in a tree and
    // as lists: queued entries and those written in turn must keep their order.
    const QDateTime stamp(QDate(2022, 2, 2), QTime(2, 2, 2));
    QStringList files = writeTree(
        m_tmp->path(), 60, 3, {"txt", "dat", "zip", "log", "jpg"},
        [](int i) {
            const int size = i % 7 == 0 ? i : 1000 * i * (i % 4 + 1);
            return i % 2 ? noise(size, i) : sampleText(size, i);
        },
        stamp);
    QCOMPARE(files.size(), 60);
    files << writeFile(path("tree/big.txt"), sampleText(3 << 20, 3));
    files << writeFile(path("tree/empty.txt"), QByteArray());
    QVERIFY(QDir().mkpath(path("tree/d1/nothing")));
    for (const QString &f : qAsConst(files))
        QVERIFY(setWallClockMTime(f, stamp));
    for (const char *d : {"tree", "tree/d0", "tree/d1", "tree/d2", "tree/d1/nothing"})
        QVERIFY(setWallClockMTime(path(d), stamp));

    auto archive = [&](int n, int *added) {
        QBuffer out;
        Zip zip;
        zip.setCompressionThreads(n);
        zip.setPassword(password);
        if (zip.createArchive(&out) != Zip::Ok ||
            zip.addDirectory(path("tree"), "root", Zip::RelativePaths, Zip::AutoFull, added) !=
                Zip::Ok ||
            zip.addFiles(files.mid(10, 30), "flat", Zip::IgnorePaths, Zip::Deflate6) != Zip::Ok ||
            zip.addFiles(files.mid(20, 20), "flat", Zip::IgnorePaths | Zip::CheckForDuplicates,
                         Zip::Deflate1) != Zip::Ok ||
            zip.addFile(files.at(5), "stored", Zip::IgnorePaths, Zip::Store) != Zip::Ok ||
            zip.closeArchive() != Zip::Ok)
            return QByteArray();
        return out.data();
    };
    int addedOne = 0;
    int addedMany = 0;
    const QByteArray one = archive(1, &addedOne);
    const QByteArray many = archive(threads, &addedMany);
    QVERIFY(!one.isEmpty());
    QCOMPARE(addedMany, addedOne);
    const RawZip z = parseRaw(many);
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(localNames(z), localNames(parseRaw(one)));
    if (password.isEmpty()) {
        QVERIFY(many == one);
    } else {
        // The encryption headers are random; all else is the same.
        QCOMPARE(many.size(), one.size());
    }

    QBuffer device;
    device.setData(many);
    UnZip unzip;
    unzip.setPassword(password);
    QCOMPARE(unzip.openArchive(&device), UnZip::Ok);
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
}

void TestZipWriter::roots_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<Zip::CompressionOptions>("options");
    QTest::addColumn<QString>("root");
    QTest::addColumn<QStringList>("names"); // "@" stands for the absolute path of the base

    using O = Zip::CompressionOptions;
    QTest::newRow("dir relative") << "dir" << O(Zip::RelativePaths) << ""
                                  << QStringList{"d/empty/", "d/f1.txt", "d/sub/f2.txt"};
    QTest::newRow("dir relative, root")
        << "dir" << O(Zip::RelativePaths) << "  r"
        << QStringList{"r/d/empty/", "r/d/f1.txt", "r/d/sub/f2.txt"};
    QTest::newRow("dir relative, root //")
        << "dir" << O(Zip::RelativePaths) << "r//"
        << QStringList{"r/d/empty/", "r/d/f1.txt", "r/d/sub/f2.txt"};
    QTest::newRow("dir ignore paths")
        << "dir" << O(Zip::IgnorePaths) << "" << QStringList{"f1.txt", "f2.txt"};
    QTest::newRow("dir ignore paths, root \\\\")
        << "dir" << O(Zip::IgnorePaths) << "r\\\\" << QStringList{"r/f1.txt", "r/f2.txt"};
    QTest::newRow("dir ignore root")
        << "dir" << O(Zip::IgnoreRoot) << "" << QStringList{"empty/", "f1.txt", "sub/f2.txt"};
    QTest::newRow("dir absolute") << "dir" << O(Zip::AbsolutePaths) << ""
                                  << QStringList{"@/d/empty/", "@/d/f1.txt", "@/d/sub/f2.txt"};
    QTest::newRow("file relative")
        << "file" << O(Zip::RelativePaths) << "" << QStringList{"d/f1.txt"};
    QTest::newRow("file relative, root")
        << "file" << O(Zip::RelativePaths) << "r/" << QStringList{"r/d/f1.txt"};
    QTest::newRow("file ignore paths")
        << "file" << O(Zip::IgnorePaths) << "" << QStringList{"f1.txt"};
    QTest::newRow("file ignore root")
        << "file" << O(Zip::IgnoreRoot) << "x" << QStringList{"x/f1.txt"};
    QTest::newRow("file absolute")
        << "file" << O(Zip::AbsolutePaths) << "" << QStringList{"@/d/f1.txt"};
    QTest::newRow("files: dir relative")
        << "files" << O(Zip::RelativePaths) << ""
        << QStringList{"base/", "base/d/empty/", "base/d/f1.txt", "base/d/sub/f2.txt"};
    QTest::newRow("files: dir ignore paths")
        << "files" << O(Zip::IgnorePaths) << "" << QStringList{"f1.txt", "f2.txt"};
    QTest::newRow("files: dir ignore root")
        << "files" << O(Zip::IgnoreRoot) << "" << QStringList{"empty/", "f1.txt", "sub/f2.txt"};
}

void TestZipWriter::roots()
{
    QFETCH(QString, call);
    QFETCH(Zip::CompressionOptions, options);
    QFETCH(QString, root);
    QFETCH(QStringList, names);

    const QString base = path("base");
    writeFile(base + "/d/f1.txt", sampleText(100));
    writeFile(base + "/d/sub/f2.txt", sampleText(200));
    QVERIFY(QDir().mkpath(base + "/d/empty"));

    Zip zip;
    QCOMPARE(zip.createArchive(path("r.zip")), Zip::Ok);
    if (call == "dir")
        QCOMPARE(zip.addDirectory(base + "/d", root, options), Zip::Ok);
    else if (call == "file")
        QCOMPARE(zip.addFile(base + "/d/f1.txt", root, options), Zip::Ok);
    else
        QCOMPARE(zip.addFiles({base + "/d"}, root, options), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRawFile(path("r.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    names.replaceInStrings("@", QFileInfo(base).absoluteFilePath());
    QCOMPARE(centralNames(z), names);
    for (const Record &r : z.centrals) {
        const bool dir = r.name.endsWith('/');
        QCOMPARE(int(r.method), 0 + (dir ? 0 : 8));
        QCOMPARE(r.uncompSize, dir ? 0u : (r.name.endsWith("f1.txt") ? 100u : 200u));
    }
}

void TestZipWriter::badFiles_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<Zip::CompressionOptions>("options");
    QTest::addColumn<Zip::CompressionLevel>("level");
    QTest::addColumn<Zip::ErrorCode>("result");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("added");

    using O = Zip::CompressionOptions;
    const O skip(Zip::SkipBadFiles | Zip::IgnorePaths);
    QTest::newRow("missing file") << QStringList{"big.txt", "missing.txt"} << O(Zip::IgnorePaths)
                                  << Zip::AutoFull << Zip::FileNotFound << QStringList{} << 0;
    QTest::newRow("missing file skipped")
        << QStringList{"big.txt", "missing.txt"} << skip << Zip::AutoFull << Zip::Ok
        << QStringList{"big.txt"} << 1;
    QTest::newRow("only missing, skipped")
        << QStringList{"missing.txt"} << skip << Zip::AutoFull << Zip::Ok << QStringList{} << 0;
    // A level zlib refuses fails the deflated entry; only the last step decides the result.
    QTest::newRow("bad level, first fails")
        << QStringList{"big.txt", "tiny.txt"} << skip << Zip::CompressionLevel(13) << Zip::Ok
        << QStringList{"tiny.txt"} << 1;
    QTest::newRow("bad level, last fails")
        << QStringList{"tiny.txt", "big.txt"} << skip << Zip::CompressionLevel(13) << Zip::ZlibError
        << QStringList{"tiny.txt"} << 1;
    QTest::newRow("bad level, not skipped")
        << QStringList{"tiny.txt", "big.txt", "other.txt"} << O(Zip::IgnorePaths)
        << Zip::CompressionLevel(13) << Zip::ZlibError << QStringList{"tiny.txt"} << 1;
}

void TestZipWriter::badFiles()
{
    QFETCH(QStringList, files);
    QFETCH(Zip::CompressionOptions, options);
    QFETCH(Zip::CompressionLevel, level);
    QFETCH(Zip::ErrorCode, result);
    QFETCH(QStringList, names);
    QFETCH(int, added);

    writeFile(path("big.txt"), sampleText(1000));
    writeFile(path("other.txt"), sampleText(1000, 2));
    writeFile(path("tiny.txt"), "tiny");
    QStringList paths;
    for (const QString &f : files)
        paths << path(f);

    Zip zip;
    QCOMPARE(zip.createArchive(path("b.zip")), Zip::Ok);
    int count = -1;
    QCOMPARE(zip.addFiles(paths, QString(), options, level, &count), result);
    QCOMPARE(count, added);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRaw(readFile(path("b.zip")).mid(0));
    // A refused entry leaves its local header behind, so only the directory is compared.
    QCOMPARE(centralNames(z), names);
    if (result == Zip::FileNotFound)
        QCOMPARE(QFileInfo(path("b.zip")).size(), 22);
}

void TestZipWriter::dotNames_data()
{
    QTest::addColumn<QString>("cwd"); // below the temporary directory
    QTest::addColumn<QString>("call");
    QTest::addColumn<QString>("dir");
    QTest::addColumn<Zip::CompressionOptions>("options");
    QTest::addColumn<QStringList>("names"); // "@" stands for the absolute path of "src"

    using O = Zip::CompressionOptions;
    const QStringList relative{"sub/deeper/g.txt", "sub/f.txt"};
    const QStringList absolute{"@/sub/deeper/g.txt", "@/sub/f.txt"};
    QTest::newRow(".") << "src/sub" << "dir" << "." << O(Zip::RelativePaths) << relative;
    QTest::newRow("./") << "src/sub" << "dir" << "./" << O(Zip::RelativePaths) << relative;
    QTest::newRow("..") << "src/sub/deeper" << "dir" << ".." << O(Zip::RelativePaths)
                        << relative;
    QTest::newRow("sub/deeper/..")
        << "src" << "dir" << "sub/deeper/.." << O(Zip::RelativePaths) << relative;
    QTest::newRow(".. absolute")
        << "src/sub/deeper" << "dir" << ".." << O(Zip::AbsolutePaths) << absolute;
    QTest::newRow(". absolute") << "src/sub" << "dir" << "." << O(Zip::AbsolutePaths)
                                << absolute;
    // A directory given to addFiles is named below its parent, as with its absolute path.
    QTest::newRow("files .") << "src/sub" << "files" << "." << O(Zip::RelativePaths)
                             << QStringList{"src/", "src/sub/deeper/g.txt", "src/sub/f.txt"};
}

void TestZipWriter::dotNames()
{
    QFETCH(QString, cwd);
    QFETCH(QString, call);
    QFETCH(QString, dir);
    QFETCH(Zip::CompressionOptions, options);
    QFETCH(QStringList, names);

    writeFile(path("src/sub/f.txt"), sampleText(100));
    writeFile(path("src/sub/deeper/g.txt"), sampleText(200));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(path(cwd)));
    Zip zip;
    Zip::ErrorCode ec = zip.createArchive(path("dots.zip"));
    if (ec == Zip::Ok)
        ec = call == "dir" ? zip.addDirectory(dir, QString(), options)
                           : zip.addFiles({dir}, QString(), options);
    QDir::setCurrent(previous);
    QCOMPARE(ec, Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRawFile(path("dots.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    names.replaceInStrings("@", QFileInfo(path("src")).absoluteFilePath());
    QCOMPARE(centralNames(z).join(" | "), names.join(" | "));
}

void TestZipWriter::longNames_data()
{
    QTest::addColumn<int>("rootLength"); // the name is the root, "/" and "f.txt"
    QTest::addColumn<int>("commentLength");
    QTest::addColumn<Zip::ErrorCode>("added");
    QTest::addColumn<Zip::ErrorCode>("closed");

    QTest::newRow("longest name") << 65535 - 6 << 0 << Zip::Ok << Zip::Ok;
    QTest::newRow("name one byte over") << 65536 - 6 << 0 << Zip::WriteFailed << Zip::Ok;
    QTest::newRow("name of 65600 bytes") << 65600 - 6 << 0 << Zip::WriteFailed << Zip::Ok;
    QTest::newRow("longest comment") << 1 << 65535 << Zip::Ok << Zip::Ok;
    QTest::newRow("comment one byte over") << 1 << 65536 << Zip::Ok << Zip::WriteFailed;
}

void TestZipWriter::longNames()
{
    QFETCH(int, rootLength);
    QFETCH(int, commentLength);
    QFETCH(Zip::ErrorCode, added);
    QFETCH(Zip::ErrorCode, closed);

    const QString f = writeFile(path("f.txt"), sampleText(100));
    const QString small = writeFile(path("small.txt"), "small");
    QBuffer buffer;
    Zip zip;
    QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
    QCOMPARE(zip.addFile(small, QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);
    const qint64 before = buffer.size();
    QCOMPARE(zip.addFile(f, QString(rootLength, 'r'), Zip::IgnorePaths, Zip::Store), added);
    if (added != Zip::Ok)
        QCOMPARE(buffer.size(), before); // nothing written for the refused name
    zip.setArchiveComment(QString(commentLength, 'c'));
    const qint64 beforeClose = buffer.size();
    QCOMPARE(zip.closeArchive(), closed);
    if (closed != Zip::Ok) {
        QCOMPARE(buffer.size(), beforeClose); // no directory with a cut length field
        return;
    }

    QByteArray bytes = buffer.data();
    QBuffer in(&bytes);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&in), UnZip::Ok);
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
    QCOMPARE(unzip.fileList().size(), added == Zip::Ok ? 2 : 1);
    QCOMPARE(unzip.archiveComment().size(), commentLength);
}

void TestZipWriter::goldenBytes()
{
    const QDateTime stamp(QDate(2020, 3, 7), QTime(10, 30, 15));
    const QByteArray plain = "hello\n";
    const QByteArray secret = "0123456789";
    const QString a = writeFile(path("src/b.txt"), plain);
    const QString e = writeFile(path("src/a.txt"), secret);
    QVERIFY(QDir().mkpath(path("src/d")));
    for (const QString &p : {a, e, path("src/d")})
        QVERIFY(setWallClockMTime(p, stamp));

    Zip zip;
    QCOMPARE(zip.createArchive(path("g.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(a, QString(), Zip::IgnorePaths, Zip::AutoFull), Zip::Ok);
    zip.setPassword("pw");
    QCOMPARE(zip.addFile(e, QString(), Zip::IgnorePaths, Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.addDirectory(path("src/d"), Zip::AutoFull), Zip::Ok);
    zip.setArchiveComment("note");
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QVERIFY(zip.archiveComment().isEmpty());
    QCOMPARE(zip.password(), QString("pw"));

    // From "version needed" to the name: the part local and central headers share.
    auto common = [](QByteArray &b, quint16 flags, quint32 crc, quint32 comp, quint32 uncomp,
                     const QByteArray &name) {
        append16(b, 20);
        append16(b, flags);
        append16(b, 0);
        append16(b, 0x53C7);
        append16(b, 0x5067);
        append32(b, crc);
        append32(b, comp);
        append32(b, uncomp);
        append16(b, quint16(name.size()));
        append16(b, 0);
    };
    auto local = [&](QByteArray &b, quint16 flags, quint32 crc, quint32 comp, quint32 uncomp,
                     const QByteArray &name) {
        append32(b, 0x04034B50);
        common(b, flags, crc, comp, uncomp, name);
        b += name;
    };
    auto central = [&](QByteArray &b, quint16 flags, quint32 crc, quint32 comp, quint32 uncomp,
                       const QByteArray &name, quint32 offset) {
        append32(b, 0x02014B50);
        append16(b, 0);
        common(b, flags, crc, comp, uncomp, name);
        append16(b, 0); // comment length
        append16(b, 0); // disk
        append16(b, 0); // internal attributes
        append32(b, 0); // external attributes
        append32(b, offset);
        b += name;
    };

    QByteArray expected;
    local(expected, 0, crcOf(plain), 6, 6, "b.txt");
    expected += plain;
    const int encOffset = expected.size();
    local(expected, 9, crcOf(secret), 22, 10, "a.txt");
    const int cipherAt = expected.size();
    expected += QByteArray(22, '?'); // encryption header and data: random, checked by decryption
    append32(expected, 0x08074B50);
    append32(expected, crcOf(secret));
    append32(expected, 22);
    append32(expected, 10);
    const int dirOffset = expected.size();
    local(expected, 0, 0, 0, 0, "d/");
    const int cdOffset = expected.size();
    central(expected, 9, crcOf(secret), 22, 10, "a.txt", quint32(encOffset));
    central(expected, 0, crcOf(plain), 6, 6, "b.txt", 0);
    central(expected, 0, 0, 0, 0, "d/", quint32(dirOffset));
    append32(expected, 0x06054B50);
    append32(expected, 0);
    append16(expected, 3);
    append16(expected, 3);
    append32(expected, quint32(expected.size() - cdOffset - 12));
    append32(expected, quint32(cdOffset));
    append16(expected, 4);
    expected += "note";

    QByteArray actual = readFile(path("g.zip"));
    QCOMPARE(actual.size(), expected.size());
    // The header ends with the low and the high byte of the time; the data follows it.
    const QByteArray plainHeaderAndData = pkDecrypt(actual.mid(cipherAt, 22), "pw");
    QCOMPARE(plainHeaderAndData.mid(10, 2), QByteArray("\xC7\x53", 2));
    QCOMPARE(plainHeaderAndData.mid(12), secret);
    actual.replace(cipherAt, 22, QByteArray(22, '?'));
    for (int i = 0; i < expected.size(); ++i) {
        if (actual.at(i) != expected.at(i))
            QFAIL(qPrintable(QString("byte %1 differs: %2 instead of %3")
                                 .arg(i)
                                 .arg(quint8(actual.at(i)), 2, 16, QChar('0'))
                                 .arg(quint8(expected.at(i)), 2, 16, QChar('0'))));
    }
}

void TestZipWriter::classicArchivesUnchanged()
{
    // Archives that fit the classic format are written exactly as before 64-bit records were
    // known: the digests below were taken from that writer (the first taken again once files
    // were deflated whole in memory, which gives other deflated bytes).
    const QDateTime stamp(QDate(2021, 6, 5), QTime(4, 3, 2));
    const QStringList files = writeTree(
        m_tmp->path(), 40, 4, {"txt", "bin", "jpg", "dat"},
        [](int i) { return i % 2 ? noise(100 * i, i) : sampleText(997 * i, i); }, stamp);
    QCOMPARE(files.size(), 40);
    QVERIFY(QDir().mkpath(path("tree/empty")));
    for (const char *d : {"tree", "tree/empty", "tree/d0", "tree/d1", "tree/d2", "tree/d3"})
        QVERIFY(setWallClockMTime(path(d), stamp));

    QBuffer tree;
    Zip zip;
    QCOMPARE(zip.createArchive(&tree), Zip::Ok);
    QCOMPARE(zip.addDirectory(path("tree"), "root", Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.addFiles(files.mid(0, 10), "flat", Zip::IgnorePaths, Zip::Deflate1), Zip::Ok);
    QCOMPARE(zip.addFile(files.at(7), "stored", Zip::IgnorePaths, Zip::Store), Zip::Ok);
    zip.setArchiveComment("a classic archive");
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QCOMPARE(QCryptographicHash::hash(tree.data(), QCryptographicHash::Sha256).toHex(),
             QByteArray("2e1954e10176dd38d006821800413b579d63ee0eb0239d193e5b99d15b37590d"));

    // The most entries the classic end record holds.
    const QString empty = writeFile(path("e.txt"), QByteArray());
    QVERIFY(setWallClockMTime(empty, stamp));
    QBuffer many;
    QCOMPARE(zip.createArchive(&many), Zip::Ok);
    for (int i = 0; i < 65535; ++i) {
        if (zip.addFile(empty, QString::number(i), Zip::IgnorePaths, Zip::Store) != Zip::Ok)
            QFAIL(qPrintable(QString("entry %1 refused").arg(i)));
    }
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QCOMPARE(QCryptographicHash::hash(many.data(), QCryptographicHash::Sha256).toHex(),
             QByteArray("965c4f80048a161a6025af3ccaba237cae07a76ead5820ddb4338075e8a2341e"));
}

void TestZipWriter::emptyArchive()
{
    QBuffer buffer;
    Zip zip;
    QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
    QVERIFY(zip.isOpen());
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QVERIFY(!zip.isOpen());
    QByteArray expected("PK\x05\x06", 4);
    expected += QByteArray(18, '\0');
    QCOMPARE(buffer.data(), expected);
}

void TestZipWriter::duplicates()
{
    const QString f = writeFile(path("src/dup.txt"), sampleText(300));
    const QString g = writeFile(path("src/other.txt"), sampleText(300, 3));
    Zip zip;
    QCOMPARE(zip.createArchive(path("d.zip")), Zip::Ok);
    const Zip::CompressionOptions o = Zip::IgnorePaths | Zip::CheckForDuplicates;
    int added = 0;
    QCOMPARE(zip.addFiles({f, f, g}, QString(), o, Zip::AutoFull, &added), Zip::Ok);
    QCOMPARE(added, 2);
    QCOMPARE(zip.addFile(f, QString(), o, Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.addDirectory(path("src"), QString(), o, Zip::AutoFull), Zip::Ok);
    // Without the check the same file is written again (and listed once).
    QCOMPARE(zip.addFile(f, QString(), Zip::IgnorePaths, Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRawFile(path("d.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(localNames(z), (QStringList{"dup.txt", "other.txt", "dup.txt"}));
    QCOMPARE(centralNames(z), (QStringList{"dup.txt", "other.txt"}));
    QCOMPARE(int(z.centrals[0].localOffset), z.locals[2].offset);
}

void TestZipWriter::sameNameFromTwoDirectories()
{
    // Flattened, both files would be x.txt: the first stays, the second is skipped with a
    // warning before any of its bytes are written.
    writeFile(path("tree/a/x.txt"), sampleText(100, 1));
    writeFile(path("tree/b/x.txt"), sampleText(120, 2));
    writeFile(path("tree/b/y.txt"), sampleText(130, 3));
    Zip zip;
    QCOMPARE(zip.createArchive(path("s.zip")), Zip::Ok);
    const QString first = QFileInfo(path("tree/a/x.txt")).absoluteFilePath();
    const QString second = QFileInfo(path("tree/b/x.txt")).absoluteFilePath();
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QRegularExpression::escape(second) + ".*" +
                                            QRegularExpression::escape(first)));
    int added = 0;
    QCOMPARE(zip.addDirectory(path("tree"), QString(), Zip::IgnorePaths, Zip::AutoFull, &added),
             Zip::Ok);
    QCOMPARE(added, 5); // three directories and two files
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRawFile(path("s.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(localNames(z), (QStringList{"x.txt", "y.txt"}));
    QCOMPARE(centralNames(z), (QStringList{"x.txt", "y.txt"}));
    QCOMPARE(z.centrals[0].uncompSize, 100u);

    // Across separate calls a name added again still replaces the earlier entry.
    QCOMPARE(zip.createArchive(path("s2.zip")), Zip::Ok);
    QCOMPARE(zip.addDirectoryContents(path("tree/a")), Zip::Ok);
    QCOMPARE(zip.addDirectoryContents(path("tree/b")), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const RawZip z2 = parseRawFile(path("s2.zip"));
    QCOMPARE(localNames(z2), (QStringList{"x.txt", "x.txt", "y.txt"}));
    QCOMPARE(centralNames(z2), (QStringList{"x.txt", "y.txt"}));
    QCOMPARE(z2.centrals[0].uncompSize, 120u);
}

void TestZipWriter::duplicatesDifferInCase()
{
    // Two names that differ in case only: two files where names keep case, one on Windows.
    using ravix::PlatformConventions;
#ifdef Q_OS_WIN
    QCOMPARE(PlatformConventions::fileNameCase(), Qt::CaseInsensitive);
    const QStringList expected{"Notes.txt"};
#else
    QCOMPARE(PlatformConventions::fileNameCase(), Qt::CaseSensitive);
    const QStringList expected{"Notes.txt", "notes.txt"};
#endif
    QCOMPARE(PlatformConventions::fileNameCase(PlatformConventions::Windows), Qt::CaseInsensitive);
    const QString upper = writeFile(path("src/Notes.txt"), sampleText(300, 1));
    const QString lower = writeFile(path("src/notes.txt"), sampleText(300, 2));
    Zip zip;
    QCOMPARE(zip.createArchive(path("c.zip")), Zip::Ok);
    const Zip::CompressionOptions o = Zip::IgnorePaths | Zip::CheckForDuplicates;
    int added = 0;
    QCOMPARE(zip.addFiles({upper, upper}, QString(), o, Zip::AutoFull, &added), Zip::Ok);
    QCOMPARE(added, 1);
    QCOMPARE(zip.addFile(lower, QString(), o, Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.addDirectory(path("src"), QString(), o, Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const RawZip z = parseRawFile(path("c.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(localNames(z), expected);
}

void TestZipWriter::fifoSwappedInIsNotWaitedOn_data()
{
    QTest::addColumn<int>("level");
    QTest::newRow("stored, streamed") << int(Zip::Store);
    QTest::newRow("deflated, read whole") << int(Zip::Deflate6);
}

// Another account swaps a FIFO in for its file in a shared folder, between the writer's look at
// the name and its open: opening a FIFO for reading waits for a writer that never comes, and
// the log archiver would stop for good. Each add must end, with the file or with an error.
void TestZipWriter::fifoSwappedInIsNotWaitedOn()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has no FIFOs in the file system");
#else
    RAVIX_REQUIRE_ATTACKER();
    QFETCH(int, level);
    ravixtest::SharedTempDir shared;
    QVERIFY(shared.isValid());
    const QString name = shared.filePath("src.log");
    // Every FIFO swapped in is one inode, so that a waiting open can be released.
    const QByteArray kept = QFile::encodeName(shared.filePath("fifo.kept"));
    const QString stop = shared.filePath("stop");
    const QString script = shared.filePath("swap.py");
    writeFile(script, "import os, sys\n"
                      "d = sys.argv[1]\n"
                      "j = lambda n: os.path.join(d, n)\n"
                      "with open(j('src.log'), 'w') as f: f.write('text\\n' * 400)\n"
                      "os.mkfifo(j('fifo.kept'))\n"
                      "open(j('ready'), 'w').close()\n"
                      "for i in range(2000000):\n"
                      "    if os.path.exists(j('stop')): break\n"
                      "    os.link(j('fifo.kept'), j('fifo.tmp'))\n"
                      "    os.rename(j('fifo.tmp'), j('src.log'))\n"
                      "    with open(j('file.tmp'), 'w') as f: f.write('text\\n')\n"
                      "    os.rename(j('file.tmp'), j('src.log'))\n");
    QVERIFY(QFile::setPermissions(script, QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                              QFileDevice::ReadOther));
    std::atomic<int> attackerExit{-1};
    QByteArray attackerOut;
    std::thread attacker([&] {
        attackerExit = ravixtest::runAsAttacker(
            QStringLiteral("python3 %1 %2").arg(script, shared.path()), &attackerOut, 600000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(shared.filePath("ready")) || attackerExit != -1,
                             120000);

    // A writer left waiting on the FIFO is released by a writer end opened for it.
    std::atomic<bool> done{false};
    std::atomic<bool> released{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 1200 && !done.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (!done.load())
            QFile(stop).open(QIODevice::WriteOnly);
        while (!done.load()) {
            const int fd = ::open(kept.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                released = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });

    Zip zip;
    QCOMPARE(zip.createArchive(path("out.zip")), Zip::Ok);
    int added = 0;
    for (int i = 0; i < 3000 && !QFile::exists(stop); ++i) {
        if (zip.addFile(name, QStringLiteral("r%1").arg(i), Zip::CompressionLevel(level)) ==
            Zip::Ok)
            ++added;
    }
    done = true;
    QFile(stop).open(QIODevice::WriteOnly);
    attacker.join();
    watchdog.join();
    QVERIFY2(attackerExit == 0, attackerOut.constData());
    QVERIFY2(!released.load(), "the writer waited on a FIFO at the source's name");
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QVERIFY(added > 0);
#endif
}

void TestZipWriter::archiveNotAddedToItself()
{
    // A small file system: reading the growing archive into itself would fill it.
    ravixtest::SmallTmpfs fs(32 << 20);
    QVERIFY2(fs.isMounted(), qPrintable(fs.errorString()));
    const QString folder = fs.path() + "/folder";
    writeFile(folder + "/a.txt", sampleText(500));
    const QString archive = folder + "/out.zip";

    Zip zip;
    QCOMPARE(zip.createArchive(archive), Zip::Ok);
    // A second name of the archive is the archive too.
    QVERIFY(ravixtest::hardLink(archive, folder + "/alias.zip"));
    QCOMPARE(zip.addDirectory(folder, Zip::Store), Zip::Ok);
    QCOMPARE(zip.addFiles({archive, folder + "/a.txt"}, "again", Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    RawZip z = parseRawFile(archive);
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(centralNames(z), (QStringList{"again/folder/a.txt", "folder/a.txt"}));

    // The same through a device of the caller's that is a file.
    QFile device(folder + "/dev.zip");
    QCOMPARE(zip.createArchive(&device), Zip::Ok);
    QCOMPARE(zip.addDirectoryContents(folder, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    device.close();
    z = parseRawFile(device.fileName());
    QVERIFY2(z.ok(), qPrintable(z.error));
    // The other archive in the folder is an ordinary file to this one.
    QCOMPARE(centralNames(z), (QStringList{"a.txt", "alias.zip", "out.zip"}));
}

void TestZipWriter::emptyDirectory()
{
    QVERIFY(QDir().mkpath(path("d")));
    Zip zip;
    QCOMPARE(zip.createArchive(path("e.zip")), Zip::Ok);
    int added = 0;
    QCOMPARE(zip.addDirectory(path("d"), QString(), Zip::RelativePaths, Zip::AutoFull, &added),
             Zip::Ok);
    QCOMPARE(added, 1);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    const RawZip z = parseRawFile(path("e.zip"));
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(centralNames(z), QStringList{"d/"});
    const Record &r = z.centrals[0];
    QCOMPARE(int(r.method), 0);
    QCOMPARE(r.crc, 0u);
    QCOMPARE(r.compSize, 0u);
    QCOMPARE(r.uncompSize, 0u);
    QCOMPARE(r.externalAttr, 0u);
    QCOMPARE(int(r.flags), 0);

    QCOMPARE(zip.createArchive(path("e2.zip")), Zip::Ok);
    QCOMPARE(zip.addDirectory(path("missing")), Zip::FileNotFound);
}

void TestZipWriter::overwriteRefused()
{
    const QString target = writeFile(path("exists.zip"), "keep me");
    Zip zip;
    QCOMPARE(zip.createArchive(target, false), Zip::FileExists);
    QVERIFY(!zip.isOpen());
    QCOMPARE(readFile(target), QByteArray("keep me"));
    QCOMPARE(zip.createArchive(QString()), Zip::FileNotFound);
    QCOMPARE(zip.createArchive(path("no/such/dir/x.zip")), Zip::OpenFailed);
    QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
    QCOMPARE(zip.createArchive(static_cast<QIODevice *>(nullptr)), Zip::OpenFailed);
    // A device that cannot be opened is only forgotten.
    QFile unopenable(path("no/such/dir/y.zip"));
    QTest::ignoreMessage(QtDebugMsg, "Unable to open device for writing.");
    QCOMPARE(zip.createArchive(&unopenable), Zip::OpenFailed);
    QVERIFY(!zip.isOpen());
    QCOMPARE(zip.addFile(target), Zip::NoOpenArchive);
    QCOMPARE(zip.createArchive(target, true), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QCOMPARE(QFileInfo(target).size(), 22);
}

void TestZipWriter::emptyPathAndClosedArchive()
{
    const QString f = writeFile(path("f.txt"), "content");
    Zip zip;
    QCOMPARE(zip.addFile(f), Zip::NoOpenArchive);
    QCOMPARE(zip.addDirectory(m_tmp->path()), Zip::NoOpenArchive);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    QBuffer buffer;
    QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
    QCOMPARE(zip.addFile(QString()), Zip::Ok);
    QCOMPARE(buffer.size(), 0);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QCOMPARE(buffer.size(), 22);
}

void TestZipWriter::commentIsLatin1()
{
    QBuffer buffer;
    Zip zip;
    QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
    const QString comment = QString::fromUtf8("Größe µ");
    zip.setArchiveComment(comment);
    QCOMPARE(zip.archiveComment(), comment);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const RawZip z = parseRaw(buffer.data());
    QVERIFY2(z.ok(), qPrintable(z.error));
    QCOMPARE(z.comment, comment.toLatin1());
    QCOMPARE(z.comment.size(), 7);
    QCOMPARE(le16(buffer.data(), 20), quint16(7));
    // The close clears the comment.
    QVERIFY(zip.archiveComment().isEmpty());

    // Set before the archive is created on a device, the comment belongs to that archive.
    QBuffer early;
    zip.setArchiveComment("early");
    QCOMPARE(zip.createArchive(&early), Zip::Ok);
    QCOMPARE(zip.archiveComment(), QString("early"));
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QCOMPARE(parseRaw(early.data()).comment, QByteArray("early"));
}

void TestZipWriter::closeFailureRemovesArchive()
{
    const QString f = writeFile(path("f.bin"), noise(4096));
    const QString target = path("fail.zip");
    Zip zip;
    QCOMPARE(zip.createArchive(target), Zip::Ok);
    QCOMPARE(zip.addFile(f, QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);

#ifdef Q_OS_WIN
    QSKIP("a file size limit for one process exists on Linux only");
#else
    // A file size limit lets the central directory fail on a real file; the signal that
    // would end the process is ignored so the write itself reports the failure.
    struct rlimit old;
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 4096 + 50;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const Zip::ErrorCode ec = zip.closeArchive();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    QCOMPARE(ec, Zip::WriteFailed);
    QVERIFY(!QFile::exists(target));
    QVERIFY(!zip.isOpen());
#endif
}

void TestZipWriter::destroyedDevice()
{
    const QString f = writeFile(path("f.txt"), sampleText(500));
    QPointer<QBuffer> buffer = new QBuffer;
    Zip zip;
    QCOMPARE(zip.createArchive(buffer.data()), Zip::Ok);
    QCOMPARE(zip.addFile(f), Zip::Ok);
    delete buffer.data();
    QVERIFY(!zip.isOpen());
    QCOMPARE(zip.addFile(f), Zip::NoOpenArchive);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
}

void TestZipWriter::offsetsPast4GiB()
{
    const QString f = writeFile(path("f.bin"), noise(1000));
    CountingSink sink((qint64(1) << 32) - 1500);
    QVERIFY(sink.open(QIODevice::WriteOnly));
    QVERIFY(sink.seek(sink.size()));
    Zip zip;
    QCOMPARE(zip.createArchive(&sink), Zip::Ok);
    QCOMPARE(zip.addFile(f, QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.addFile(f, "again", Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.addFile(f, "third", Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    // On a sparse file the 4 GiB before the archive cost no disk space. Only the record past
    // 4 GiB and the end of the archive get 64-bit fields.
    QFile file(path("near4g.zip"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 start = (qint64(1) << 32) - 1000;
    QVERIFY(file.resize(start));
    QVERIFY(file.seek(start));
    QCOMPARE(zip.createArchive(&file), Zip::Ok);
    QCOMPARE(zip.addFile(f, QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);
    const qint64 second = file.pos();
    QCOMPARE(zip.addFile(f, "again", Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QVERIFY(file.seek(file.size() - 22 - 20 - 56));
    const QByteArray tail = file.read(56 + 20 + 22);
    QVERIFY(file.seek(start));
    const QByteArray records = file.read(file.size() - start);
    file.close();

    QCOMPARE(le32(tail, 0), 0x06064B50u);  // 64-bit end record
    QCOMPARE(le32(tail, 56), 0x07064B50u); // its locator
    QCOMPARE(le32(tail, 76), 0x06054B50u);
    QCOMPARE(le16(tail, 76 + 10), quint16(2));
    QCOMPARE(le32(tail, 76 + 16), 0xFFFFFFFFu); // the directory starts past 4 GiB
    const int cd = records.indexOf(QByteArray("PK\x01\x02", 4));
    QVERIFY(cd > 0);
    // "again/f.bin" sorts first; its header lies past 4 GiB.
    QCOMPARE(le16(records, cd + 6), quint16(45));
    QCOMPARE(le16(records, cd + 30), quint16(12));
    QCOMPARE(le32(records, cd + 42), 0xFFFFFFFFu);
    const int extra = cd + 46 + 11;
    QCOMPARE(le16(records, extra), quint16(1));
    QCOMPARE(quint64(le32(records, extra + 4)) | (quint64(le32(records, extra + 8)) << 32),
             quint64(second));
    const int next = extra + 12;
    QCOMPARE(le32(records, next), 0x02014B50u);
    QCOMPARE(le16(records, next + 6), quint16(20)); // f.bin: classic
    QCOMPARE(le16(records, next + 30), quint16(0));

    UnZip unzip;
    QCOMPARE(unzip.openArchive(path("near4g.zip")), UnZip::Ok);
    QCOMPARE(unzip.fileList(), (QStringList{"again/f.bin", "f.bin"}));
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
}

void TestZipWriter::endlessSourceRefused()
{
    // A device never reports its end: reading stops at the format's limit, and the entry is
    // refused there instead of filling the disk. (Its size reads as 0, so it is stored.)
    if (!QFileInfo("/dev/zero").isReadable())
        QSKIP("no /dev/zero on this system");
    CountingSink sink(0);
    QVERIFY(sink.open(QIODevice::WriteOnly));
    Zip zip;
    QCOMPARE(zip.createArchive(&sink), Zip::Ok);
    QCOMPARE(zip.addFile("/dev/zero", QString(), Zip::IgnorePaths), Zip::WriteFailed);
    QVERIFY(sink.size() < (qint64(1) << 32) + (qint64(1) << 20));
}

void TestZipWriter::moreThan65535Entries()
{
    const QString f = writeFile(path("e.txt"), QByteArray());
    QBuffer buffer;
    Zip zip;
    QCOMPARE(zip.createArchive(&buffer), Zip::Ok);
    for (int i = 0; i < 65536; ++i) {
        if (zip.addFile(f, QString::number(i), Zip::IgnorePaths, Zip::Store) != Zip::Ok)
            QFAIL(qPrintable(QString("entry %1 refused").arg(i)));
    }
    // Replacing an entry of the same name still works.
    QCOMPARE(zip.addFile(f, "7", Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    QByteArray bytes = buffer.data();
    const int end = bytes.size() - 22;
    QCOMPARE(le16(bytes, end + 10), quint16(0xFFFF));
    QCOMPARE(le32(bytes, end - 20), 0x07064B50u);
    QCOMPARE(le32(bytes, end - 20 - 56), 0x06064B50u);
    QCOMPARE(le32(bytes, end - 20 - 56 + 32), 65536u);
    // The records themselves stay classic.
    QCOMPARE(le16(bytes, int(le32(bytes, end + 16)) + 6), quint16(20));

    QBuffer in(&bytes);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&in), UnZip::Ok);
    QCOMPARE(unzip.fileList().size(), 65536);
    QVERIFY(unzip.contains("65535/e.txt"));
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
}

void TestZipWriter::encryptionHeadersDiffer()
{
    // Same file, same password, same second: the random part must still differ.
    const QString f = writeFile(path("s.txt"), "secret");
    QBuffer one;
    QBuffer two;
    for (QBuffer *b : {&one, &two}) {
        Zip zip;
        zip.setPassword("pw");
        QCOMPARE(zip.createArchive(b), Zip::Ok);
        QCOMPARE(zip.addFile(f), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }
    const RawZip a = parseRaw(one.data());
    const RawZip b = parseRaw(two.data());
    QCOMPARE(a.locals.size(), 1);
    QCOMPARE(b.locals.size(), 1);
    QCOMPARE(a.locals[0].compSize, 18u);
    QVERIFY(a.locals[0].data.left(10) != b.locals[0].data.left(10));
    QCOMPARE(int(a.locals[0].flags), 9);
}

void TestZipWriter::encryptedSizes()
{
    // 100 bytes stored encrypted: the 12 header bytes count in every record's size.
    const QString hundred = writeFile(path("h.bin"), noise(100));
    QBuffer out;
    Zip zip;
    zip.setPassword("pw");
    QCOMPARE(zip.createArchive(&out), Zip::Ok);
    QCOMPARE(zip.addFile(hundred, QString(), Zip::IgnorePaths, Zip::Store), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);
    const RawZip h = parseRaw(out.data());
    QCOMPARE(h.locals.size(), 1);
    QCOMPARE(h.locals[0].compSize, 112u);
    QCOMPARE(h.centrals[0].compSize, 112u);
    QCOMPARE(int(h.locals[0].flags), 9);
    QCOMPARE(int(h.centrals[0].flags), 9);
    const int descriptor = h.locals[0].offset + 30 + h.locals[0].name.size() + 112;
    QCOMPARE(le32(out.data(), descriptor), 0x08074B50u);
    QCOMPARE(le32(out.data(), descriptor + 8), 112u);
    QCOMPARE(le32(out.data(), descriptor + 12), 100u);
}

void TestZipWriter::formatErrorTexts()
{
    Zip zip;
    QCOMPARE(zip.formatError(Zip::Ok), QString("ZIP operation completed successfully."));
    QCOMPARE(zip.formatError(Zip::ZlibInit), QString("Failed to initialize or load zlib library."));
    QCOMPARE(zip.formatError(Zip::ZlibError), QString("zlib library error."));
    QCOMPARE(zip.formatError(Zip::FileExists), QString("Unknown error."));
    QCOMPARE(zip.formatError(Zip::OpenFailed), QString("Unable to create or open file."));
    QCOMPARE(zip.formatError(Zip::NoOpenArchive), QString("No archive has been created yet."));
    QCOMPARE(zip.formatError(Zip::FileNotFound), QString("File or directory does not exist."));
    QCOMPARE(zip.formatError(Zip::ReadFailed), QString("File read error."));
    QCOMPARE(zip.formatError(Zip::WriteFailed), QString("File write error."));
    QCOMPARE(zip.formatError(Zip::SeekFailed), QString("File seek error."));
    QCOMPARE(zip.formatError(Zip::ErrorCode(42)), QString("Unknown error."));
}

QTEST_GUILESS_MAIN(TestZipWriter)
#include "tst_zipwriter.moc"
