// SPDX-License-Identifier: MIT
#include "rawzip.h"

#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/zip.h>

#include <QBuffer>
#include <QDirIterator>
#include <QPointer>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>
#include <zlib.h>

using namespace ziptest;

Q_DECLARE_METATYPE(UnZip::ErrorCode)

namespace {

struct Item
{
    QString name; ///< a trailing "/" makes a directory entry
    QByteArray content;
};

// Builds an archive with our writer; every file sits in a directory of its own so that the
// root gives the entry its path.
QByteArray makeArchive(const QString &workDir, const QList<Item> &items,
                       const QString &password = QString(), const QString &comment = QString())
{
    static int counter = 0;
    QBuffer buffer;
    Zip zip;
    zip.setPassword(password);
    if (zip.createArchive(&buffer) != Zip::Ok)
        return QByteArray();
    for (const Item &item : items) {
        const QString dir = workDir + "/src" + QString::number(counter++);
        QString name = item.name;
        const bool isDir = name.endsWith('/');
        if (isDir)
            name.chop(1);
        const int slash = name.lastIndexOf('/');
        const QString root = slash < 0 ? QString() : name.left(slash);
        const QString leaf = dir + "/" + name.mid(slash + 1);
        Zip::ErrorCode ec;
        if (isDir) {
            QDir().mkpath(leaf);
            ec = zip.addDirectory(leaf, root, Zip::RelativePaths, Zip::AutoFull);
        } else {
            writeFile(leaf, item.content);
            ec = zip.addFile(leaf, root, Zip::IgnorePaths, Zip::AutoFull);
        }
        if (ec != Zip::Ok)
            return QByteArray();
    }
    zip.setArchiveComment(comment);
    return zip.closeArchive() == Zip::Ok ? buffer.data() : QByteArray();
}

// Relative path -> content of every file below dir; directories get a trailing "/".
QMap<QString, QByteArray> treeOf(const QString &dir)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        const QString rel = QDir(dir).relativeFilePath(p);
        if (it.fileInfo().isDir())
            out.insert(rel + "/", QByteArray());
        else
            out.insert(rel, readFile(p));
    }
    return out;
}

const Record *findRecord(const QList<Record> &records, const QString &name)
{
    for (const Record &r : records) {
        if (r.name == name)
            return &r;
    }
    return nullptr;
}

// Swallows the reader's debug lines while it lives (the sweeps would print thousands).
class Quiet
{
public:
    Quiet() : m_previous(qInstallMessageHandler(swallow)) {}
    ~Quiet() { qInstallMessageHandler(m_previous); }

private:
    static void swallow(QtMsgType, const QMessageLogContext &, const QString &) {}
    QtMessageHandler m_previous;
};

} // namespace

class TestUnZip : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void roundTrip();
    void encrypted();
    void timeStamps();
    void timeStampsAcrossDaylightSaving_data();
    void timeStampsAcrossDaylightSaving();
    void errorCodes_data();
    void errorCodes();
    void zip64Records_data();
    void zip64Records();
    void endRecordSearch_data();
    void endRecordSearch();
    void largeFileThatIsNoArchive();
    void unsafeNames_data();
    void unsafeNames();
    void extractionOptions();
    void extractFilesSkipsUnknownNames();
    void unwritableTarget();
    void closedArchive();
    void destroyedDevice();
    void truncationSweep();
    void flippedBytesSweep();
    void damagedDeflateJudgedAsStreamed();
    void formatErrorTexts();

private:
    QScopedPointer<QTemporaryDir> m_tmp;
    QString path(const QString &rel) const { return m_tmp->path() + QLatin1Char('/') + rel; }
};

void TestUnZip::init()
{
    m_tmp.reset(new QTemporaryDir);
    QVERIFY(m_tmp->isValid());
}

void TestUnZip::roundTrip()
{
    const QList<Item> items{{"a.txt", "alpha"},
                            {QString::fromUtf8("Größe.txt"), "Latin-1 name"},
                            {"docs/notes.txt", sampleText(30000)},
                            {"docs/empty.txt", QByteArray()},
                            {"img/photo.jpg", noise(300000)},
                            {"dir/", QByteArray()}};
    QByteArray archive = makeArchive(m_tmp->path(), items, QString(), "Kommentar");
    QVERIFY(!archive.isEmpty());
    const RawZip raw = parseRaw(archive);

    QBuffer buffer(&archive);
    UnZip unzip;
    QVERIFY(!unzip.isOpen());
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);
    QVERIFY(unzip.isOpen());
    QCOMPARE(unzip.fileList(), (QStringList{QString::fromUtf8("Größe.txt"), "a.txt", "dir/",
                                            "docs/empty.txt", "docs/notes.txt", "img/photo.jpg"}));
    QCOMPARE(unzip.archiveComment(), QString("Kommentar"));
    QVERIFY(unzip.contains("docs/notes.txt"));
    QVERIFY(!unzip.contains("notes.txt"));

    const QList<UnZip::ZipEntry> entries = unzip.entryList();
    QCOMPARE(entries.size(), 6);
    for (const UnZip::ZipEntry &e : entries) {
        const Record *r = findRecord(raw.centrals, e.filename);
        QVERIFY(r);
        QCOMPARE(e.compressedSize, r->compSize);
        QCOMPARE(e.uncompressedSize, r->uncompSize);
        QCOMPARE(e.crc32, r->crc);
        QCOMPARE(e.compression, r->method == 8 ? UnZip::Deflated : UnZip::NoCompression);
        QCOMPARE(e.type, e.filename.endsWith('/') ? UnZip::Directory : UnZip::File);
        QVERIFY(!e.encrypted);
        QVERIFY(e.comment.isEmpty());
        QVERIFY(e.lastModified.isValid());
    }
    QCOMPARE(entries[4].compression, UnZip::Deflated);
    QCOMPARE(entries[1].compression, UnZip::NoCompression);

    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
    QCOMPARE(unzip.extractAll(path("out")), UnZip::Ok);
    QMap<QString, QByteArray> expected;
    for (const Item &i : items)
        expected.insert(i.name, i.content);
    expected.insert("docs/", QByteArray());
    expected.insert("img/", QByteArray());
    QCOMPARE(treeOf(path("out")), expected);

    // Entries extract any number of times, to devices too.
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile("docs/notes.txt", &out), UnZip::Ok);
    QCOMPARE(out.data(), items[2].content);
    QCOMPARE(unzip.extractFile("docs/notes.txt", path("again")), UnZip::Ok);
    QCOMPARE(readFile(path("again/docs/notes.txt")), items[2].content);

    unzip.closeArchive();
    QVERIFY(!unzip.isOpen());
    QVERIFY(unzip.fileList().isEmpty());
    QVERIFY(unzip.archiveComment().isEmpty());

    // The same archive from a file.
    const QString file = writeFile(path("a.zip"), archive);
    QCOMPARE(unzip.openArchive(file), UnZip::Ok);
    QCOMPARE(unzip.fileList().size(), 6);
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);

    // Names are Latin-1: other characters do not survive.
    QByteArray foreign = makeArchive(m_tmp->path(), {{QString::fromUtf8("日本.txt"), "x"}});
    QBuffer foreignBuffer(&foreign);
    QCOMPARE(unzip.openArchive(&foreignBuffer), UnZip::Ok);
    QCOMPARE(unzip.fileList(), QStringList{"??.txt"});
}

void TestUnZip::encrypted()
{
    const QByteArray secret = sampleText(1000);
    QByteArray archive = makeArchive(
        m_tmp->path(), {{"s.txt", secret}, {"t.bin", "tiny"}, {"plain/", QByteArray()}}, "pw");
    QVERIFY(!archive.isEmpty());
    QBuffer buffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);
    const QList<UnZip::ZipEntry> entries = unzip.entryList();
    QCOMPARE(entries.size(), 3);
    QVERIFY(!entries[0].encrypted); // plain/
    QVERIFY(entries[1].encrypted);
    QVERIFY(entries[2].encrypted);
    QCOMPARE(entries[2].compressedSize, 4u + 12u);

    // A wrong password passes the entries over and leaves an existing file alone.
    writeFile(path("wrong/s.txt"), "precious");
    QString wrong;
    {
        Quiet quiet;
        wrong = rejectedPassword(unzip, {"s.txt", "t.bin"});
    }
    QVERIFY(!wrong.isEmpty());
    QTest::ignoreMessage(QtDebugMsg, "Unable to decrypt s.txt");
    QCOMPARE(unzip.extractFile("s.txt", path("wrong")), UnZip::Skip);
    QCOMPARE(unzip.formatError(UnZip::Skip), QString("Unknown error."));
    QCOMPARE(readFile(path("wrong/s.txt")), QByteArray("precious"));
    QCOMPARE(unzip.extractAll(path("wrong2")), UnZip::Skip);
    QCOMPARE(treeOf(path("wrong2")), (QMap<QString, QByteArray>{{"plain/", QByteArray()}}));

    // The password survives closing.
    unzip.closeArchive();
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);
    QCOMPARE(unzip.extractFile("t.bin", path("wrong3")), UnZip::Skip);
    unzip.setPassword("pw");
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
    QCOMPARE(unzip.extractAll(path("right")), UnZip::Ok);
    QCOMPARE(readFile(path("right/s.txt")), secret);
    QCOMPARE(readFile(path("right/t.bin")), QByteArray("tiny"));

    // The data descriptor must agree with the directory.
    const RawZip raw = parseRaw(archive);
    const Record *s = findRecord(raw.locals, "s.txt");
    QVERIFY(s);
    QByteArray patched = archive;
    const int descriptor = s->offset + 30 + 5 + int(s->compSize);
    QCOMPARE(le32(patched, descriptor), 0x08074B50u);
    put32At(patched, descriptor + 4, s->crc ^ 1);
    QBuffer patchedBuffer(&patched);
    QCOMPARE(unzip.openArchive(&patchedBuffer), UnZip::Ok);
    QCOMPARE(unzip.extractFile("s.txt", path("desc")), UnZip::HeaderConsistencyError);
    // Also without its signature: every offset behind it moves by four.
    patched = archive;
    patched.remove(descriptor, 4);
    for (const Record &c : raw.centrals) {
        const int at = c.offset - 4;
        if (c.localOffset > quint32(descriptor))
            put32At(patched, at + 42, c.localOffset - 4);
    }
    put32At(patched, int(raw.cdOffset + raw.cdSize) - 4 + 16, raw.cdOffset - 4);
    QCOMPARE(unzip.openArchive(&patchedBuffer), UnZip::Ok);
    QCOMPARE(unzip.extractAll(path("nosig")), UnZip::Ok);
    QCOMPARE(readFile(path("nosig/s.txt")), secret);
    QCOMPARE(readFile(path("nosig/t.bin")), QByteArray("tiny"));
}

void TestUnZip::timeStamps()
{
    const QString src = writeFile(path("src/t.txt"), "stamped");
    QVERIFY(setWallClockMTime(src, QDateTime(QDate(2020, 3, 7), QTime(10, 30, 15))));
    Zip zip;
    QCOMPARE(zip.createArchive(path("t.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(src, QString(), Zip::IgnorePaths, Zip::AutoFull), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    UnZip unzip;
    QCOMPARE(unzip.openArchive(path("t.zip")), UnZip::Ok);
    // Two-second resolution: an odd second comes back one earlier.
    const QDateTime expected(QDate(2020, 3, 7), QTime(10, 30, 14), Qt::LocalTime);
    QCOMPARE(unzip.entryList().value(0).lastModified, expected);
    QCOMPARE(unzip.extractAll(path("out")), UnZip::Ok);
    QCOMPARE(QFileInfo(path("out/t.txt")).lastModified(),
             QFileInfo(src).lastModified().addSecs(-1));

    QVERIFY(zip_setFileTimestamp(QString(), expected));
    QVERIFY(!zip_setFileTimestamp(path("missing.txt"), expected));
    QVERIFY(!QFile::exists(path("missing.txt")));
}

void TestUnZip::timeStampsAcrossDaylightSaving_data()
{
    QTest::addColumn<QDateTime>("modified");
    // One of the two lies in the other half of the year from today, whenever the test runs.
    QTest::newRow("winter") << QDateTime(QDate(2020, 1, 15), QTime(9, 30, 14), Qt::UTC);
    QTest::newRow("summer") << QDateTime(QDate(2020, 7, 15), QTime(9, 30, 14), Qt::UTC);
}

// The writer turns a file time into wall-clock fields with today's offset; extraction must
// turn them back with the same offset, so the file keeps its instant.
void TestUnZip::timeStampsAcrossDaylightSaving()
{
    QFETCH(QDateTime, modified);
    const QString src = writeFile(path("src/t.txt"), "stamped");
    {
        QFile f(src);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
    }

    // Only this process's TZ variable changes, and it is put back.
    const QByteArray saved = qgetenv("TZ");
    const bool had = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    tzset();
    Zip zip;
    Zip::ErrorCode added = zip.createArchive(path("t.zip"));
    if (added == Zip::Ok)
        added = zip.addFile(src, QString(), Zip::IgnorePaths, Zip::Store);
    const Zip::ErrorCode closed = zip.closeArchive();
    UnZip unzip;
    UnZip::ErrorCode opened = unzip.openArchive(path("t.zip"));
    const UnZip::ErrorCode extracted = unzip.extractAll(path("out"));
    if (had)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
    tzset();

    QCOMPARE(added, Zip::Ok);
    QCOMPARE(closed, Zip::Ok);
    QCOMPARE(opened, UnZip::Ok);
    QCOMPARE(extracted, UnZip::Ok);
    QCOMPARE(QFileInfo(path("out/t.txt")).lastModified().toSecsSinceEpoch(),
             modified.toSecsSinceEpoch());
}

void TestUnZip::errorCodes_data()
{
    QTest::addColumn<QString>("craft");
    QTest::addColumn<UnZip::ErrorCode>("openResult");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<UnZip::ErrorCode>("extractResult");
    QTest::addColumn<QString>("message");

    auto row = [](const char *craft, UnZip::ErrorCode open, const char *entry,
                  UnZip::ErrorCode extract, const char *message = "") {
        QTest::newRow(craft) << craft << open << entry << extract << message;
    };
    row("intact", UnZip::Ok, "b.txt", UnZip::Ok);
    row("intact empty entry", UnZip::Ok, "c.txt", UnZip::Ok);
    row("local signature", UnZip::Ok, "b.txt", UnZip::InvalidArchive);
    row("local method", UnZip::Ok, "a.txt", UnZip::HeaderConsistencyError);
    row("local crc", UnZip::Ok, "a.txt", UnZip::HeaderConsistencyError);
    row("local time", UnZip::Ok, "a.txt", UnZip::HeaderConsistencyError);
    row("local name", UnZip::Ok, "b.txt", UnZip::HeaderConsistencyError,
        "Filename in local header mismatches.");
    row("local name length 0", UnZip::Ok, "b.txt", UnZip::HeaderConsistencyError);
    row("local header past end", UnZip::Ok, "b.txt", UnZip::ReadFailed);
    row("stored data", UnZip::Ok, "a.txt", UnZip::Corrupted);
    row("deflated data", UnZip::Ok, "b.txt", UnZip::ZlibError);
    row("size declared smaller", UnZip::Ok, "b.txt", UnZip::Corrupted);
    row("size declared larger", UnZip::Ok, "b.txt", UnZip::Corrupted);
    row("empty entry with crc", UnZip::Ok, "c.txt", UnZip::Corrupted);
    row("deflated crc", UnZip::Ok, "b.txt", UnZip::Corrupted);
    row("compressed size short", UnZip::Ok, "b.txt", UnZip::Corrupted);
    row("compressed size long", UnZip::Ok, "b.txt", UnZip::Ok);
    row("no end record", UnZip::InvalidArchive, "", UnZip::Ok);
    row("directory past end", UnZip::Corrupted, "", UnZip::Ok,
        "Corrupted or invalid zip archive. Closing.");
    row("directory cut", UnZip::PartiallyCorrupted, "a.txt", UnZip::Ok,
        "Corrupted zip archive. Some files might be extracted.");
    row("directory record short", UnZip::ReadFailed, "", UnZip::Ok);
    row("zero entry count", UnZip::Ok, "b.txt", UnZip::FileNotFound);
    row("unsupported method", UnZip::Ok, "b.txt", UnZip::FileNotFound,
        "Unsupported compression method. Skipping file.");
    row("version 6.3", UnZip::Ok, "c.txt", UnZip::Ok,
        "Unsupported PKZip version (6.3). Skipping file: b.txt");
    row("no name", UnZip::Ok, "b.txt", UnZip::Ok, "Skipping file with no name.");
}

void TestUnZip::errorCodes()
{
    QFETCH(QString, craft);
    QFETCH(UnZip::ErrorCode, openResult);
    QFETCH(QString, entry);
    QFETCH(UnZip::ErrorCode, extractResult);
    QFETCH(QString, message);

    const QByteArray bText = sampleText(3000);
    const QByteArray original = makeArchive(
        m_tmp->path(), {{"a.txt", sampleText(40)}, {"b.txt", bText}, {"c.txt", QByteArray()}});
    QVERIFY(!original.isEmpty());
    const RawZip raw = parseRaw(original);
    QVERIFY2(raw.ok(), qPrintable(raw.error));
    const Record &la = raw.locals[0];
    const Record &lb = raw.locals[1];
    const Record &lc = raw.locals[2];
    const Record &ca = raw.centrals[0];
    const Record &cb = raw.centrals[1];
    const Record &cc = raw.centrals[2];
    QCOMPARE(int(lb.method), 8);
    const int eocd = int(raw.cdOffset + raw.cdSize);

    QByteArray b = original;
    // A directory placed in the archive comment, where the end of the file cuts it.
    auto directoryInComment = [&](const QByteArray &records) {
        b = original.left(eocd);
        put16At(b, eocd + 20, 0);
        QByteArray end = original.mid(eocd, 22);
        put32At(end, 16, quint32(eocd + 22));
        put16At(end, 20, quint16(records.size()));
        b = original.left(eocd) + end + records;
    };

    if (craft == "local signature")
        b[lb.offset + 3] = 5;
    else if (craft == "local method")
        put16At(b, la.offset + 8, 8);
    else if (craft == "local crc")
        put32At(b, la.offset + 14, la.crc + 1);
    else if (craft == "local time")
        put16At(b, la.offset + 10, quint16(la.time + 1));
    else if (craft == "local name")
        b[lb.offset + 30] = 'x';
    else if (craft == "local name length 0")
        put16At(b, lb.offset + 26, 0);
    else if (craft == "local header past end")
        put32At(b, cb.offset + 42, 0x7FFFFF00);
    else if (craft == "stored data")
        b[la.offset + 30 + 5 + 7] = char(b.at(la.offset + 30 + 5 + 7) ^ 0x20);
    else if (craft == "deflated data")
        b.replace(lb.offset + 30 + 5, int(lb.compSize), QByteArray(int(lb.compSize), '\xff'));
    else if (craft == "size declared smaller" || craft == "size declared larger") {
        const quint32 size = craft.endsWith("smaller") ? 100 : quint32(bText.size() + 100);
        put32At(b, lb.offset + 22, size);
        put32At(b, cb.offset + 24, size);
    } else if (craft == "deflated crc") {
        put32At(b, lb.offset + 14, lb.crc ^ 0x100);
        put32At(b, cb.offset + 16, lb.crc ^ 0x100);
    } else if (craft == "compressed size short" || craft == "compressed size long") {
        // The stream is cut, or followed by bytes of the next record that it never reaches.
        const quint32 size = craft.endsWith("short") ? lb.compSize - 10 : lb.compSize + 10;
        put32At(b, lb.offset + 18, size);
        put32At(b, cb.offset + 20, size);
    } else if (craft == "empty entry with crc") {
        put32At(b, lc.offset + 14, 1);
        put32At(b, cc.offset + 16, 1);
    } else if (craft == "no end record")
        b[eocd + 1] = 'x';
    else if (craft == "directory past end")
        put32At(b, eocd + 16, quint32(b.size() + 1000));
    else if (craft == "directory cut")
        directoryInComment(original.mid(ca.offset, cb.offset - ca.offset));
    else if (craft == "directory record short")
        directoryInComment(QByteArray("PK\x01\x02", 4) + QByteArray(10, 'x'));
    else if (craft == "zero entry count") {
        put16At(b, eocd + 8, 0);
        put16At(b, eocd + 10, 0);
    } else if (craft == "unsupported method")
        put16At(b, cb.offset + 10, 12);
    else if (craft == "version 6.3")
        put16At(b, cb.offset + 6, 63);
    else if (craft == "no name") {
        put16At(b, ca.offset + 28, 0);
        put16At(b, ca.offset + 30, 5); // the name bytes become an extra field
    }

    if (!message.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(message));
    const QString file = writeFile(path("crafted.zip"), b);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(file), openResult);
    QCOMPARE(unzip.isOpen(), openResult == UnZip::Ok || openResult == UnZip::PartiallyCorrupted);
    if (craft == "no name" || craft == "version 6.3" || craft == "unsupported method")
        QCOMPARE(unzip.fileList().size(), 2);
    if (entry.isEmpty())
        return;

    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile(entry, &out), extractResult);
    // The outcome of the local header check stands for later calls.
    QCOMPARE(unzip.extractFile(entry, &out), extractResult);
    QCOMPARE(unzip.extractFile(entry, path("out")), extractResult);
    if (extractResult != UnZip::Ok)
        QVERIFY(!QFile::exists(path("out/" + entry)));
    else
        QVERIFY(QFile::exists(path("out/" + entry)));

    // Damaged data is reported the same way when the whole archive is verified.
    const QStringList dataFaults{
        "stored data",          "deflated data", "size declared smaller", "size declared larger",
        "empty entry with crc", "deflated crc",  "compressed size short", "compressed size long"};
    if (dataFaults.contains(craft)) {
        UnZip verifier;
        QCOMPARE(verifier.openArchive(file), UnZip::Ok);
        QCOMPARE(verifier.verifyArchive(), extractResult);
    }
}

namespace {

void add16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xFF)).append(char(v >> 8));
}

void add32(QByteArray &b, quint32 v)
{
    add16(b, quint16(v & 0xFFFF));
    add16(b, quint16(v >> 16));
}

void add64(QByteArray &b, quint64 v)
{
    add32(b, quint32(v & 0xFFFFFFFFu));
    add32(b, quint32(v >> 32));
}

void put64At(QByteArray &b, int at, quint64 v)
{
    put32At(b, at, quint32(v & 0xFFFFFFFFu));
    put32At(b, at + 4, quint32(v >> 32));
}

// Where the fields of a crafted 64-bit archive lie, for the rows that make them lie.
struct Zip64Layout
{
    int localUncomp = 0;  // in the local 64-bit extra field
    int localComp = 0;
    int centralUncomp = 0; // in the central 64-bit extra field
    int centralComp = 0;
    int centralOffset = 0;
    int centralTag = 0;
    int endRecordCdOffset = 0;
    int locatorRecordOffset = 0;
};

// One stored entry "a.txt" with every size and offset in 64-bit fields, a 64-bit end record
// and its locator, as archivers write for large archives; with a data descriptor the local
// header carries zeros and the descriptor 64-bit sizes.
QByteArray zip64Archive(const QByteArray &data, bool descriptor, Zip64Layout &at)
{
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef *>(data.constData()), uInt(data.size())));
    const QByteArray name = "a.txt";
    QByteArray b;
    add32(b, 0x04034B50);
    add16(b, 45);
    add16(b, descriptor ? 0x08 : 0);
    add16(b, 0);
    add16(b, 0);
    add16(b, 0x0021);
    add32(b, descriptor ? 0 : crc);
    add32(b, descriptor ? 0 : 0xFFFFFFFFu);
    add32(b, descriptor ? 0 : 0xFFFFFFFFu);
    add16(b, quint16(name.size()));
    add16(b, 20);
    b += name;
    add16(b, 0x0001);
    add16(b, 16);
    at.localUncomp = b.size();
    add64(b, descriptor ? 0 : quint64(data.size()));
    at.localComp = b.size();
    add64(b, descriptor ? 0 : quint64(data.size()));
    b += data;
    if (descriptor) {
        add32(b, 0x08074B50);
        add32(b, crc);
        add64(b, quint64(data.size()));
        add64(b, quint64(data.size()));
    }
    const int cdOffset = b.size();
    add32(b, 0x02014B50);
    add16(b, 45);
    add16(b, 45);
    add16(b, descriptor ? 0x08 : 0);
    add16(b, 0);
    add16(b, 0);
    add16(b, 0x0021);
    add32(b, crc);
    add32(b, 0xFFFFFFFFu);
    add32(b, 0xFFFFFFFFu);
    add16(b, quint16(name.size()));
    add16(b, 28);
    add16(b, 0);
    add16(b, 0);
    add16(b, 0);
    add32(b, 0);
    add32(b, 0xFFFFFFFFu);
    b += name;
    at.centralTag = b.size();
    add16(b, 0x0001);
    add16(b, 24);
    at.centralUncomp = b.size();
    add64(b, quint64(data.size()));
    at.centralComp = b.size();
    add64(b, quint64(data.size()));
    at.centralOffset = b.size();
    add64(b, 0);
    const int recordAt = b.size();
    add32(b, 0x06064B50);
    add64(b, 44);
    add16(b, 45);
    add16(b, 45);
    add32(b, 0);
    add32(b, 0);
    add64(b, 1);
    add64(b, 1);
    add64(b, quint64(recordAt - cdOffset));
    at.endRecordCdOffset = b.size();
    add64(b, quint64(cdOffset));
    add32(b, 0x07064B50);
    add32(b, 0);
    at.locatorRecordOffset = b.size();
    add64(b, quint64(recordAt));
    add32(b, 1);
    add32(b, 0x06054B50);
    add32(b, 0);
    add16(b, 0xFFFF);
    add16(b, 0xFFFF);
    add32(b, 0xFFFFFFFFu);
    add32(b, 0xFFFFFFFFu);
    add16(b, 0);
    return b;
}

} // namespace

void TestUnZip::zip64Records_data()
{
    QTest::addColumn<bool>("descriptor");
    QTest::addColumn<QString>("lie");
    QTest::addColumn<UnZip::ErrorCode>("opened");
    QTest::addColumn<int>("entries");
    QTest::addColumn<UnZip::ErrorCode>("extracted");

    QTest::newRow("64-bit fields") << false << "" << UnZip::Ok << 1 << UnZip::Ok;
    QTest::newRow("64-bit descriptor") << true << "" << UnZip::Ok << 1 << UnZip::Ok;
    // Sizes that lie are errors, never allocations of their size.
    QTest::newRow("central size 2^40")
        << false << "central uncompressed" << UnZip::Ok << 1 << UnZip::HeaderConsistencyError;
    QTest::newRow("central size 2^40, descriptor")
        << true << "central uncompressed" << UnZip::Ok << 1 << UnZip::HeaderConsistencyError;
    QTest::newRow("both sizes 2^40")
        << false << "both uncompressed" << UnZip::Ok << 1 << UnZip::Corrupted;
    QTest::newRow("stored size 2^40")
        << false << "both compressed" << UnZip::Ok << 1 << UnZip::Corrupted;
    // The bound on inflated data holds with 64-bit sizes too.
    QTest::newRow("data beyond its 64-bit size")
        << false << "both small" << UnZip::Ok << 1 << UnZip::Corrupted;
    QTest::newRow("size past 2^62") << false << "central huge" << UnZip::Ok << 0 << UnZip::Ok;
    QTest::newRow("64-bit field missing") << false << "central tag" << UnZip::Ok << 0 << UnZip::Ok;
    QTest::newRow("header offset past the end")
        << false << "central offset" << UnZip::Ok << 1 << UnZip::SeekFailed;
    QTest::newRow("end record after its locator")
        << false << "locator" << UnZip::InvalidArchive << 0 << UnZip::Ok;
    QTest::newRow("directory past the end record")
        << false << "directory offset" << UnZip::InvalidArchive << 0 << UnZip::Ok;
}

void TestUnZip::zip64Records()
{
    QFETCH(bool, descriptor);
    QFETCH(QString, lie);
    QFETCH(UnZip::ErrorCode, opened);
    QFETCH(int, entries);
    QFETCH(UnZip::ErrorCode, extracted);

    const QByteArray data = "data behind 64-bit records\n";
    Zip64Layout at;
    QByteArray archive = zip64Archive(data, descriptor, at);
    const quint64 big = quint64(1) << 40;
    if (lie == "central uncompressed") {
        put64At(archive, at.centralUncomp, big);
    } else if (lie == "both uncompressed") {
        put64At(archive, at.centralUncomp, big);
        put64At(archive, at.localUncomp, big);
    } else if (lie == "both compressed") {
        put64At(archive, at.centralComp, big);
        put64At(archive, at.localComp, big);
    } else if (lie == "both small") {
        put64At(archive, at.centralUncomp, 5);
        put64At(archive, at.localUncomp, 5);
    } else if (lie == "central huge") {
        put64At(archive, at.centralUncomp, ~quint64(0));
    } else if (lie == "central tag") {
        put16At(archive, at.centralTag, 0x9999);
    } else if (lie == "central offset") {
        put64At(archive, at.centralOffset, big);
    } else if (lie == "locator") {
        put64At(archive, at.locatorRecordOffset, quint64(archive.size()));
    } else if (lie == "directory offset") {
        put64At(archive, at.endRecordCdOffset, big);
    }

    Quiet quiet;
    QBuffer buffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&buffer), opened);
    QCOMPARE(unzip.fileList().size(), entries);
    if (entries == 0)
        return;
    const UnZip::ZipEntry e = unzip.entryList().first();
    if (lie.isEmpty()) {
        QCOMPARE(e.uncompressedSize64, quint64(data.size()));
        QCOMPARE(e.compressedSize64, quint64(data.size()));
        QCOMPARE(e.uncompressedSize, quint32(data.size()));
    } else if (lie.endsWith("uncompressed")) {
        // The classic field cannot hold it: it says so, the 64-bit one has the value.
        QCOMPARE(e.uncompressedSize, 0xFFFFFFFFu);
        QCOMPARE(e.uncompressedSize64, big);
    }
    QByteArray content;
    QBuffer out(&content);
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile("a.txt", &out), extracted);
    if (extracted == UnZip::Ok)
        QCOMPARE(content, data);
    QVERIFY(content.size() <= archive.size());
}

void TestUnZip::endRecordSearch_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<int>("trailing");

    QTest::newRow("plain") << 2 << "" << 0;
    for (int n : {1, 2, 3, 21, 22, 100, 70000})
        QTest::newRow(qPrintable(QString("%1 bytes after it").arg(n))) << 2 << "" << n;
    QTest::newRow("comment and 3 bytes after it") << 2 << "note" << 3;
    QTest::newRow("no entries") << 0 << "" << 0;
    QTest::newRow("no entries, comment") << 0 << "only a comment" << 0;
    QTest::newRow("no entries, comment, garbage") << 0 << "only a comment" << 300000;
}

void TestUnZip::endRecordSearch()
{
    QFETCH(int, entries);
    QFETCH(QString, comment);
    QFETCH(int, trailing);

    QList<Item> items;
    for (int i = 0; i < entries; ++i)
        items.append({QString("f%1.txt").arg(i), sampleText(500, i)});
    const QByteArray archive =
        makeArchive(m_tmp->path(), items, QString(), comment) + QByteArray(trailing, 'x');
    const QString file = writeFile(path("s.zip"), archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(file), UnZip::Ok);
    QCOMPARE(unzip.fileList().size(), entries);
    QCOMPARE(unzip.archiveComment(), comment);
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
}

void TestUnZip::largeFileThatIsNoArchive()
{
    const QString small = writeFile(path("ten.bin"), "0123456789");
    UnZip unzip;
    QCOMPARE(unzip.openArchive(small), UnZip::InvalidArchive);
    QVERIFY(!unzip.isOpen());

    // Sparse, so it costs no disk space; the whole of it is searched.
    const QString big = path("big.bin");
    {
        QFile f(big);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(1) << 30));
    }
    QCOMPARE(unzip.openArchive(big), UnZip::InvalidArchive);
    QVERIFY(!unzip.isOpen());
}

void TestUnZip::unsafeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("written"); // relative to the target; empty: nothing
    QTest::addColumn<UnZip::ErrorCode>("result");

    QTest::newRow("parent") << "../evil.txt"
                            << "evil.txt" << UnZip::Ok;
    QTest::newRow("parents inside") << "a/../../evil.txt"
                                    << "a/evil.txt" << UnZip::Ok;
    QTest::newRow("absolute") << "/abs/evil.txt"
                              << "abs/evil.txt" << UnZip::Ok;
    QTest::newRow("absolute backslash") << "\\abs\\evil.txt"
                                        << "abs/evil.txt" << UnZip::Ok;
    QTest::newRow("drive") << "C:\\win\\evil.txt"
                           << "win/evil.txt" << UnZip::Ok;
    QTest::newRow("drive relative") << "c:evil.txt"
                                    << "evil.txt" << UnZip::Ok;
    QTest::newRow("backslash parents") << "..\\..\\evil.txt"
                                       << "evil.txt" << UnZip::Ok;
    QTest::newRow("dots") << "./a/./evil.txt"
                          << "a/evil.txt" << UnZip::Ok;
    QTest::newRow("directory of parents") << "../../"
                                          << "" << UnZip::Ok;
    QTest::newRow("nothing left") << "/../.."
                                  << "" << UnZip::Skip;
}

void TestUnZip::unsafeNames()
{
    QFETCH(QString, name);
    QFETCH(QString, written);
    QFETCH(UnZip::ErrorCode, result);

    // The writer cannot produce such names: a placeholder of the same length is replaced.
    const QString placeholder = QString(name.size(), 'Q');
    const bool isDir = name.endsWith('/');
    const QString stored = isDir ? placeholder.left(placeholder.size() - 1) + "/" : placeholder;
    QByteArray archive = makeArchive(m_tmp->path(), {{stored, "payload"}, {"ok.txt", "fine"}});
    QVERIFY(!archive.isEmpty());
    QCOMPARE(archive.count(stored.toLatin1()), 2);
    archive.replace(stored.toLatin1(), name.toLatin1());

    QBuffer buffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);
    QVERIFY(unzip.contains(name));
    const QString root = path("jail");
    const QString target = root + "/a/b/target";
    QVERIFY(QDir().mkpath(target));
    QCOMPARE(unzip.extractFile(name, target), result);
    QCOMPARE(unzip.extractFile("ok.txt", target), UnZip::Ok);

    QMap<QString, QByteArray> expected{{"ok.txt", "fine"}};
    if (!written.isEmpty()) {
        expected.insert(written, "payload");
        if (written.contains('/'))
            expected.insert(written.left(written.lastIndexOf('/') + 1), QByteArray());
    }
    QCOMPARE(treeOf(target), expected);
    // Nothing anywhere else.
    QCOMPARE(treeOf(root).size(), expected.size() + 3);
}

void TestUnZip::extractionOptions()
{
    QByteArray archive =
        makeArchive(m_tmp->path(),
                    {{"a/b/c.txt", "deep"}, {"top.txt", sampleText(400)}, {"d/e/", QByteArray()}});
    QBuffer buffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);

    QCOMPARE(unzip.extractAll(path("flat"), UnZip::SkipPaths), UnZip::Ok);
    QCOMPARE(treeOf(path("flat")),
             (QMap<QString, QByteArray>{{"c.txt", "deep"}, {"top.txt", sampleText(400)}}));

    QCOMPARE(unzip.extractAll(path("verify"), UnZip::VerifyOnly), UnZip::Ok);
    QVERIFY(!QFileInfo::exists(path("verify")));

    // Without silent creation a missing target is not made for top-level files.
    QCOMPARE(unzip.extractFile("top.txt", path("missing"), UnZip::NoSilentDirCreation),
             UnZip::OpenFailed);
    QVERIFY(!QFileInfo::exists(path("missing")));
    QCOMPARE(unzip.extractFile("top.txt", path("made")), UnZip::Ok);
    QCOMPARE(readFile(path("made/top.txt")), sampleText(400));

    // Verifying into a device checks the entry and writes nothing into it.
    QBuffer verified;
    QVERIFY(verified.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile("top.txt", &verified, UnZip::VerifyOnly), UnZip::Ok);
    QCOMPARE(verified.size(), 0);

    // Verifying finds damaged data and writes nothing.
    const RawZip raw = parseRaw(archive);
    const Record *top = findRecord(raw.locals, "top.txt");
    QVERIFY(top);
    QByteArray damaged = archive;
    const int at = top->offset + 30 + 7 + int(top->compSize) - 3;
    damaged[at] = char(damaged.at(at) ^ 0x01);
    QBuffer damagedBuffer(&damaged);
    QCOMPARE(unzip.openArchive(&damagedBuffer), UnZip::Ok);
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_tmp->path()));
    const auto before = treeOf(m_tmp->path());
    const UnZip::ErrorCode ec = unzip.verifyArchive();
    const auto after = treeOf(m_tmp->path());
    QDir::setCurrent(cwd);
    QVERIFY(ec == UnZip::Corrupted || ec == UnZip::ZlibError);
    QCOMPARE(after, before);
    QCOMPARE(unzip.extractFile("top.txt", &verified, UnZip::VerifyOnly), ec);
    QCOMPARE(verified.size(), 0);
}

void TestUnZip::extractFilesSkipsUnknownNames()
{
    QByteArray archive =
        makeArchive(m_tmp->path(), {{"one.txt", "1"}, {"two.txt", "2"}, {"x/three.txt", "3"}});
    QBuffer buffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);
    QCOMPARE(unzip.extractFiles({"one.txt", "nope.txt", "x/three.txt"}, path("out")), UnZip::Ok);
    QCOMPARE(treeOf(path("out")),
             (QMap<QString, QByteArray>{{"one.txt", "1"}, {"x/", ""}, {"x/three.txt", "3"}}));
    QCOMPARE(unzip.extractFile("nope.txt", path("out")), UnZip::FileNotFound);
    QBuffer out;
    QCOMPARE(unzip.extractFile("one.txt", static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
    QCOMPARE(unzip.extractFile("nope.txt", &out), UnZip::FileNotFound);
}

void TestUnZip::unwritableTarget()
{
    QByteArray archive = makeArchive(m_tmp->path(), {{"top.txt", "t"}, {"sub/in.txt", "i"}});
    QBuffer buffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(&buffer), UnZip::Ok);
    const QString blocker = writeFile(path("blocker"), "a file, not a directory");
    QCOMPARE(unzip.extractFile("top.txt", blocker), UnZip::CreateDirFailed);
    QCOMPARE(unzip.extractFile("sub/in.txt", blocker), UnZip::CreateDirFailed);
    QCOMPARE(unzip.extractAll(blocker), UnZip::CreateDirFailed);
    QCOMPARE(readFile(blocker), QByteArray("a file, not a directory"));
    // A directory where the file should go.
    QVERIFY(QDir().mkpath(path("out/top.txt")));
    QCOMPARE(unzip.extractFile("top.txt", path("out")), UnZip::OpenFailed);
}

void TestUnZip::closedArchive()
{
    UnZip unzip;
    QCOMPARE(unzip.extractAll(path("x")), UnZip::NoOpenArchive);
    QCOMPARE(unzip.extractFile("a", path("x")), UnZip::NoOpenArchive);
    QBuffer out;
    QCOMPARE(unzip.extractFile("a", &out), UnZip::NoOpenArchive);
    QCOMPARE(unzip.extractFiles({"a"}, path("x")), UnZip::NoOpenArchive);
    QCOMPARE(unzip.verifyArchive(), UnZip::NoOpenArchive);
    QVERIFY(unzip.fileList().isEmpty());
    QVERIFY(unzip.entryList().isEmpty());
    QVERIFY(!unzip.contains("a"));

    QTest::ignoreMessage(QtDebugMsg, "Invalid device.");
    QCOMPARE(unzip.openArchive(static_cast<QIODevice *>(nullptr)), UnZip::InvalidDevice);
    QCOMPARE(unzip.openArchive(path("missing.zip")), UnZip::FileNotFound);
    QCOMPARE(unzip.openArchive(m_tmp->path()), UnZip::OpenFailed);
    QFile notOpenable(path("no/such.zip"));
    QTest::ignoreMessage(QtDebugMsg, "Unable to open device for reading");
    QCOMPARE(unzip.openArchive(&notOpenable), UnZip::OpenFailed);
    QVERIFY(!unzip.isOpen());

    // Zero entries, no comment: just the end record.
    QByteArray empty = makeArchive(m_tmp->path(), {});
    QCOMPARE(empty.size(), 22);
    QBuffer emptyBuffer(&empty);
    QCOMPARE(unzip.openArchive(&emptyBuffer), UnZip::Ok);
    QVERIFY(unzip.fileList().isEmpty());
    QCOMPARE(unzip.extractAll(path("x")), UnZip::Ok);
    QCOMPARE(unzip.extractFiles({"a"}, path("x")), UnZip::Ok);
}

void TestUnZip::destroyedDevice()
{
    QByteArray archive = makeArchive(m_tmp->path(), {{"a.txt", "a"}});
    QPointer<QBuffer> buffer = new QBuffer(&archive);
    UnZip unzip;
    QCOMPARE(unzip.openArchive(buffer.data()), UnZip::Ok);
    QTest::ignoreMessage(QtDebugMsg, "Unexpected device destruction detected.");
    delete buffer.data();
    QVERIFY(!unzip.isOpen());
    QVERIFY(unzip.fileList().isEmpty());
    QCOMPARE(unzip.extractAll(path("x")), UnZip::NoOpenArchive);
}

namespace {

QByteArray sweepArchive(const QString &workDir, QMap<QString, QByteArray> *contents)
{
    Zip zip;
    QBuffer buffer;
    zip.createArchive(&buffer);
    const QByteArray stored = "stored, short";
    const QByteArray deflated = sampleText(600, 3);
    const QByteArray secret = sampleText(200, 4);
    contents->insert("s.txt", stored);
    contents->insert("sub/d.txt", deflated);
    contents->insert("e.txt", secret);
    zip.addFile(writeFile(workDir + "/sweep/s.txt", stored), QString(), Zip::IgnorePaths,
                Zip::Store);
    zip.addFile(writeFile(workDir + "/sweep/sub/d.txt", deflated), "sub", Zip::IgnorePaths,
                Zip::AutoFull);
    QDir().mkpath(workDir + "/sweep/dir");
    zip.addDirectory(workDir + "/sweep/dir", Zip::AutoFull);
    zip.setPassword("pw");
    zip.addFile(writeFile(workDir + "/sweep/e.txt", secret), QString(), Zip::IgnorePaths,
                Zip::AutoFull);
    zip.setArchiveComment("sweep");
    zip.closeArchive();
    return buffer.data();
}

} // namespace

// Opens the bytes and extracts everything; whatever the outcome, nothing may land outside the
// target and every file inside must be one of the originals, whole.
#define SWEEP_EXTRACT(bytes, openResult)                                                           \
    do {                                                                                           \
        QByteArray copy = (bytes);                                                                 \
        QBuffer device(&copy);                                                                     \
        UnZip unzip;                                                                               \
        unzip.setPassword("pw");                                                                   \
        (openResult) = unzip.openArchive(&device);                                                 \
        if (unzip.isOpen()) {                                                                      \
            unzip.extractAll(target);                                                              \
            unzip.verifyArchive();                                                                 \
        }                                                                                          \
        if (QDir(jail).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) !=        \
            QStringList{"target"})                                                                 \
            QFAIL(qPrintable(QString("%1: written outside the target").arg(label)));               \
        const auto tree = treeOf(target);                                                          \
        for (auto it = tree.begin(); it != tree.end(); ++it) {                                     \
            if (!it.key().endsWith('/') && !originals.contains(it.value()))                        \
                QFAIL(qPrintable(QString("%1: partial file %2").arg(label, it.key())));            \
        }                                                                                          \
        QVERIFY(QDir(target).removeRecursively());                                                 \
        QVERIFY(QDir().mkpath(target));                                                            \
    } while (0)

void TestUnZip::truncationSweep()
{
    QMap<QString, QByteArray> contents;
    const QByteArray archive = sweepArchive(m_tmp->path(), &contents);
    const QSet<QByteArray> originals(contents.begin(), contents.end());
    const int eocd = archive.lastIndexOf(QByteArray("PK\x05\x06", 4));
    QVERIFY(eocd > 0);
    const QString jail = path("jail");
    const QString target = jail + "/target";
    QVERIFY(QDir().mkpath(target));

    Quiet quiet;
    for (int len = 0; len < archive.size(); ++len) {
        const QString label = QString("length %1").arg(len);
        UnZip::ErrorCode ec = UnZip::Ok;
        SWEEP_EXTRACT(archive.left(len), ec);
        // Without the whole end record there is no archive; a cut comment is a short read.
        const UnZip::ErrorCode expected =
            len < eocd + 22 ? UnZip::InvalidArchive : UnZip::ReadFailed;
        if (ec != expected)
            QFAIL(qPrintable(QString("%1: open gave %2").arg(label).arg(ec)));
    }
}

void TestUnZip::flippedBytesSweep()
{
    QMap<QString, QByteArray> contents;
    const QByteArray archive = sweepArchive(m_tmp->path(), &contents);
    const QSet<QByteArray> originals(contents.begin(), contents.end());
    const QString jail = path("jail");
    const QString target = jail + "/target";
    QVERIFY(QDir().mkpath(target));

    Quiet quiet;
    for (int at = 0; at < archive.size(); ++at) {
        // A low bit and a whole byte, alternately.
        const char mask = (at % 2) ? char(0x01) : char(0xFF);
        const QString label = QString("byte %1 ^ %2").arg(at).arg(int(quint8(mask)));
        QByteArray flipped = archive;
        flipped[at] = char(flipped.at(at) ^ mask);
        UnZip::ErrorCode ec = UnZip::Ok;
        SWEEP_EXTRACT(flipped, ec);
        Q_UNUSED(ec);
    }
}

namespace {

// The reader's verdict on deflated data as its streaming path gives it: zlib in 256 KiB steps,
// a data error as ZlibError, output past the declared size or a wrong sum as Corrupted.
UnZip::ErrorCode streamedVerdict(const QByteArray &data, quint32 declared, quint32 crc)
{
    z_stream z;
    memset(&z, 0, sizeof(z));
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return UnZip::ZlibError;
    QByteArray out(262144, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    uLong sum = crc32(0L, Z_NULL, 0);
    quint64 total = 0;
    UnZip::ErrorCode ec = UnZip::Ok;
    int ret = Z_OK;
    do {
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = uInt(out.size());
        ret = inflate(&z, Z_NO_FLUSH);
        if (ret == Z_NEED_DICT || ret == Z_DATA_ERROR || ret == Z_MEM_ERROR ||
            ret == Z_STREAM_ERROR) {
            ec = UnZip::ZlibError;
            break;
        }
        const uInt got = uInt(out.size()) - z.avail_out;
        total += got;
        if (total > declared) {
            ec = UnZip::Corrupted;
            break;
        }
        sum = crc32(sum, reinterpret_cast<const Bytef *>(out.constData()), got);
    } while (z.avail_out == 0 && ret != Z_STREAM_END);
    inflateEnd(&z);
    if (ec == UnZip::Ok && (sum != crc || total != declared))
        ec = UnZip::Corrupted;
    return ec;
}

} // namespace

void TestUnZip::damagedDeflateJudgedAsStreamed()
{
    // Deflated entries of known size are decoded whole in memory; whatever that decoder makes
    // of damaged data, the result must be the one the streaming path has always given.
    const QByteArray text = sampleText(30000, 4);
    const QByteArray original = makeArchive(m_tmp->path(), {{"b.txt", text}});
    QVERIFY(!original.isEmpty());
    const RawZip raw = parseRaw(original);
    QVERIFY2(raw.ok(), qPrintable(raw.error));
    const Record &lb = raw.locals[0];
    QCOMPARE(int(lb.method), 8);
    const int dataAt = lb.offset + 30 + lb.name.size();

    Quiet quiet;
    QMap<int, int> verdicts;
    for (int i = 0; i < int(lb.compSize); ++i) {
        for (const char mask : {char(0x01), char(0x10), char(0xFF)}) {
            QByteArray b = original;
            b[dataAt + i] = char(b.at(dataAt + i) ^ mask);
            const UnZip::ErrorCode expected =
                streamedVerdict(b.mid(dataAt, int(lb.compSize)), lb.uncompSize, lb.crc);
            QBuffer archive(&b);
            UnZip unzip;
            QCOMPARE(unzip.openArchive(&archive), UnZip::Ok);
            QBuffer out;
            QVERIFY(out.open(QIODevice::WriteOnly));
            const UnZip::ErrorCode ec = unzip.extractFile("b.txt", &out);
            if (ec != expected)
                QFAIL(qPrintable(QString("byte %1 ^ %2: %3 instead of %4")
                                     .arg(i)
                                     .arg(int(quint8(mask)))
                                     .arg(ec)
                                     .arg(expected)));
            if (ec == UnZip::Ok)
                QCOMPARE(out.data(), text);
            ++verdicts[expected];
        }
    }
    // The damage reached every kind of verdict.
    QVERIFY(verdicts.value(UnZip::ZlibError) > 0);
    QVERIFY(verdicts.value(UnZip::Corrupted) > 0);
}

void TestUnZip::formatErrorTexts()
{
    UnZip unzip;
    const QStringList texts{"ZIP operation completed successfully.",
                            "Failed to initialize or load zlib library.",
                            "zlib library error.",
                            "Unable to create or open file.",
                            "Partially corrupted archive. Some files might be extracted.",
                            "Corrupted archive.",
                            "Wrong password.",
                            "No archive has been created yet.",
                            "File or directory does not exist.",
                            "File read error.",
                            "File write error.",
                            "File seek error.",
                            "Unable to create a directory.",
                            "Invalid device.",
                            "Invalid or incompatible zip archive.",
                            "Inconsistent headers. Archive might be corrupted.",
                            "Unknown error.",
                            "Unknown error."};
    for (int i = 0; i < texts.size(); ++i)
        QCOMPARE(unzip.formatError(UnZip::ErrorCode(i)), texts.at(i));
}

QTEST_GUILESS_MAIN(TestUnZip)
#include "tst_unzip.moc"
