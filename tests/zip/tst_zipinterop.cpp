// SPDX-License-Identifier: MIT
#include "rawzip.h"
#include "ziptools.h"

#include <testtools.h>

#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/zip.h>

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;

namespace {

const char *const PYTHON_CHECK = R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
if len(sys.argv) > 3:
    z.setpassword(sys.argv[3].encode())
bad = z.testzip()
if bad is not None:
    print('bad entry', bad)
    sys.exit(1)
z.extractall(sys.argv[2])
sys.stdout.write(z.comment.decode('latin-1'))
)";

const char *const PYTHON_WRITE = R"(
import os, sys, zipfile
method = zipfile.ZIP_DEFLATED if sys.argv[3] == 'deflated' else zipfile.ZIP_STORED
with zipfile.ZipFile(sys.argv[2], 'w', method) as z:
    for base, dirs, files in os.walk(sys.argv[1]):
        for d in sorted(dirs):
            full = os.path.join(base, d)
            z.write(full, os.path.relpath(full, os.path.dirname(sys.argv[1])))
        for f in sorted(files):
            full = os.path.join(base, f)
            z.write(full, os.path.relpath(full, os.path.dirname(sys.argv[1])))
    for info in z.infolist():
        info.comment = ('about ' + info.filename).encode()
    z.comment = b'written by python'
)";

// Every entry with 64-bit sizes in its local header; "stream" writes to an unseekable file,
// so the sizes follow the data in 64-bit data descriptors.
const char *const PYTHON_WRITE64 = R"(
import io, os, sys, zipfile
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
out = open(sys.argv[2], 'wb')
target = Unseekable(out) if sys.argv[3] == 'stream' else out
with zipfile.ZipFile(target, 'w', zipfile.ZIP_DEFLATED) as z:
    for base, dirs, files in os.walk(sys.argv[1]):
        dirs.sort()
        for f in sorted(files):
            full = os.path.join(base, f)
            with open(full, 'rb') as src, z.open(full, 'w', force_zip64=True) as dst:
                dst.write(src.read())
out.close()
)";

const char *const PYTHON_NAMES = R"(
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
for i in z.infolist():
    raw = i.filename.encode('cp437') if not i.flag_bits & 0x800 else i.filename.encode()
    sys.stdout.write(raw.decode('latin-1') + '\n')
)";

// Every regular file below dir, relative path -> content.
QMap<QString, QByteArray> treeContents(const QString &dir)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        out.insert(QDir(dir).relativeFilePath(p), readFile(p));
    }
    return out;
}

} // namespace

class TestZipInterop : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void toolsReadOurArchives_data();
    void toolsReadOurArchives();
    void latin1NamesSurvive();
    void weReadToolArchives_data();
    void weReadToolArchives();
    void threadedArchives_data();
    void threadedArchives();
    void moreThan65535Entries_data();
    void moreThan65535Entries();
    void offsetsPast4GiB_data();
    void offsetsPast4GiB();

private:
    QString manyFolder();
    QString m_many;
    QTemporaryDir m_tmp;
    QString m_src;
    QMap<QString, QByteArray> m_expected;
    QString path(const QString &rel) const { return m_tmp.path() + QLatin1Char('/') + rel; }
};

void TestZipInterop::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_src = path("src");
    writeFile(m_src + "/tree/stored.bin", noise(5000));
    writeFile(m_src + "/tree/tiny.txt", "tiny");
    writeFile(m_src + "/tree/empty.txt", QByteArray());
    writeFile(m_src + "/tree/notes.txt", sampleText(20000));
    writeFile(m_src + "/tree/sub/big.log", sampleText(900000, 5));
    writeFile(m_src + "/tree/sub/photo.jpg", noise(70000, 3));
    writeFile(m_src + "/level1.csv", sampleText(3000, 9));
    QVERIFY(QDir().mkpath(m_src + "/tree/emptydir"));

    for (const QString name : {"plain", "secret"}) {
        Zip zip;
        if (name == QLatin1String("secret"))
            zip.setPassword("s3cret!");
        QCOMPARE(zip.createArchive(path(name + ".zip")), Zip::Ok);
        QCOMPARE(zip.addDirectory(m_src + "/tree", Zip::AutoFull), Zip::Ok);
        QCOMPARE(zip.addFile(m_src + "/level1.csv", "levels/one", Zip::IgnorePaths, Zip::Deflate1),
                 Zip::Ok);
        QCOMPARE(zip.addFile(m_src + "/level1.csv", "levels/nine", Zip::IgnorePaths, Zip::Deflate9),
                 Zip::Ok);
        QCOMPARE(
            zip.addFile(m_src + "/tree/notes.txt", "levels/stored", Zip::IgnorePaths, Zip::Store),
            Zip::Ok);
        zip.setArchiveComment("archive comment");
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }

    const QMap<QString, QByteArray> tree = treeContents(m_src + "/tree");
    for (auto it = tree.begin(); it != tree.end(); ++it)
        m_expected.insert("tree/" + it.key(), it.value());
    m_expected.insert("levels/one/level1.csv", readFile(m_src + "/level1.csv"));
    m_expected.insert("levels/nine/level1.csv", readFile(m_src + "/level1.csv"));
    m_expected.insert("levels/stored/notes.txt", readFile(m_src + "/tree/notes.txt"));
}

void TestZipInterop::cleanupTestCase()
{
#ifdef Q_OS_WIN
    // Removing 65537 files through Wine takes minutes; on the Linux side, a moment.
    if (!m_many.isEmpty())
        ravixtest::runTool(ravixtest::findTool(QStringLiteral("rm")), {"-rf", path("manyparent")});
#endif
}

void TestZipInterop::toolsReadOurArchives_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QString>("archive");
    for (const char *tool : {"unzip", "7z", "python3", "bsdtar"}) {
        for (const char *archive : {"plain", "secret"})
            QTest::newRow(qPrintable(QString("%1 %2").arg(tool, archive))) << tool << archive;
    }
}

void TestZipInterop::toolsReadOurArchives()
{
    QFETCH(QString, tool);
    QFETCH(QString, archive);
    const QString program = ravixtest::findTool(tool);
    if (program.isEmpty())
        QFAIL(qPrintable("required tool not installed: " + tool));

    const QString zipPath = path(archive + ".zip");
    const bool secret = archive == QLatin1String("secret");
    const QString pw = QStringLiteral("s3cret!");
    const QString out = path("out-" + tool + "-" + archive);
    QVERIFY(QDir().mkpath(out));
    QByteArray log;

    if (tool == "unzip") {
        QStringList pwArgs;
        if (secret)
            pwArgs << "-P" << pw;
        QCOMPARE(
            ravixtest::runTool(program, QStringList{"-t"} + pwArgs + QStringList{zipPath}, &log),
            0);
        QVERIFY2(log.contains("No errors detected"), log.constData());
        QCOMPARE(
            ravixtest::runTool(
                program, QStringList{"-o", "-q"} + pwArgs + QStringList{zipPath, "-d", out}, &log),
            0);
    } else if (tool == "7z") {
        QStringList pwArgs;
        if (secret)
            pwArgs << "-p" + pw;
        QCOMPARE(
            ravixtest::runTool(program, QStringList{"t"} + pwArgs + QStringList{zipPath}, &log), 0);
        QVERIFY2(log.contains("Everything is Ok"), log.constData());
        QCOMPARE(
            ravixtest::runTool(
                program,
                // Joined to its switch, the folder is not taken for a path on its way to the tool.
                QStringList{"x", "-y", "-o" + ravixtest::hostPath(out)} + pwArgs +
                    QStringList{zipPath},
                &log),
            0);
    } else if (tool == "python3") {
        QStringList args{"-c", PYTHON_CHECK, zipPath, out};
        if (secret)
            args << pw;
        QCOMPARE(ravixtest::runTool(program, args, &log), 0);
        QCOMPARE(log, QByteArray("archive comment"));
    } else {
        QCOMPARE(ravixtest::runTool(program, {"-tf", zipPath}, &log), 0);
        QVERIFY2(log.contains("tree/sub/big.log"), log.constData());
        QStringList args{"-xf", zipPath, "-C", out};
        if (secret)
            args << "--passphrase" << pw;
        QVERIFY2(ravixtest::runTool(program, args, &log) == 0, log.constData());
    }

    QCOMPARE(treeContents(out), m_expected);
    QVERIFY(QFileInfo(out + "/tree/emptydir").isDir());
}

void TestZipInterop::latin1NamesSurvive()
{
    RAVIX_REQUIRE_TOOL(unzip, "unzip");
    RAVIX_REQUIRE_TOOL(python, "python3");
    RAVIX_REQUIRE_TOOL(sevenZip, "7z");
    const QString name = QString::fromUtf8("Größe-été.txt");
    writeFile(path("latin/" + name), sampleText(500));
    Zip zip;
    QCOMPARE(zip.createArchive(path("latin.zip")), Zip::Ok);
    QCOMPARE(zip.addFile(path("latin/" + name)), Zip::Ok);
    QCOMPARE(zip.closeArchive(), Zip::Ok);

    QByteArray log;
    QCOMPARE(ravixtest::runTool(unzip, {"-t", path("latin.zip")}, &log), 0);
    QCOMPARE(ravixtest::runTool(sevenZip, {"t", path("latin.zip")}, &log), 0);
    RAVIX_REQUIRE_TOOL(bsdtar, "bsdtar");
    QCOMPARE(ravixtest::runTool(bsdtar, {"-tf", path("latin.zip")}, &log), 0);
    QCOMPARE(ravixtest::runTool(python, {"-c", PYTHON_NAMES, path("latin.zip")}, &log), 0);
    QCOMPARE(QString::fromUtf8(log), "latin/" + name + "\n");
}

void TestZipInterop::weReadToolArchives_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args"); // run in the source directory; "@" is the archive
    QTest::addColumn<QString>("password");

    QTest::newRow("zip") << "zip" << QStringList{"-r", "-q", "@", "tree"} << "";
    QTest::newRow("zip stored") << "zip" << QStringList{"-r", "-q", "-0", "@", "tree"} << "";
    QTest::newRow("zip -P") << "zip" << QStringList{"-r", "-q", "-P", "pw", "@", "tree"} << "pw";
    QTest::newRow("7z deflate") << "7z" << QStringList{"a", "-tzip", "-mx5", "@", "tree"} << "";
    QTest::newRow("7z stored") << "7z" << QStringList{"a", "-tzip", "-mx0", "@", "tree"} << "";
    QTest::newRow("7z ZipCrypto") << "7z" << QStringList{"a",    "-tzip", "-mem=ZipCrypto",
                                                         "-ppw", "@",     "tree"}
                                  << "pw";
    QTest::newRow("python stored")
        << "python3" << QStringList{"-c", PYTHON_WRITE, "tree", "@", "stored"} << "";
    QTest::newRow("python deflated")
        << "python3" << QStringList{"-c", PYTHON_WRITE, "tree", "@", "deflated"} << "";
    QTest::newRow("bsdtar") << "bsdtar" << QStringList{"-a", "-cf", "@", "tree"} << "";
    QTest::newRow("python zip64 fields")
        << "python3" << QStringList{"-c", PYTHON_WRITE64, "tree", "@", "seek"} << "";
    QTest::newRow("python zip64 descriptors")
        << "python3" << QStringList{"-c", PYTHON_WRITE64, "tree", "@", "stream"} << "";
}

void TestZipInterop::weReadToolArchives()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(QString, password);
    const QString program = ravixtest::findTool(tool);
    if (program.isEmpty())
        QFAIL(qPrintable("required tool not installed: " + tool));

    const QString zipPath = path(QString(QTest::currentDataTag()).replace(' ', '_') + ".zip");
    args.replaceInStrings(QRegularExpression("^@$"), zipPath);
    QByteArray log;
    QVERIFY2(ravixtest::runTool(program, args, &log, m_src) == 0, log.constData());

    UnZip unzip;
    QCOMPARE(unzip.openArchive(zipPath), UnZip::Ok);
    QStringList files;
    for (const QString &name : unzip.fileList()) {
        if (!name.endsWith('/'))
            files << name;
    }
    QStringList expectedFiles;
    for (auto it = m_expected.begin(); it != m_expected.end(); ++it) {
        if (it.key().startsWith("tree/"))
            expectedFiles << it.key();
    }
    QCOMPARE(files, expectedFiles);

    if (!password.isEmpty()) {
        bool anyEncrypted = false;
        for (const UnZip::ZipEntry &e : unzip.entryList())
            anyEncrypted = anyEncrypted || e.encrypted;
        QVERIFY(anyEncrypted);
        QVERIFY(!rejectedPassword(unzip, files).isEmpty());
        QCOMPARE(unzip.extractAll(path("wrong-" + tool)), UnZip::Skip);
        QVERIFY(!QFile::exists(path("wrong-" + tool + "/tree/notes.txt")));
        unzip.setPassword(password);
    }
    if (args.contains(PYTHON_WRITE)) {
        QCOMPARE(unzip.archiveComment(), QString("written by python"));
        for (const UnZip::ZipEntry &e : unzip.entryList())
            QCOMPARE(e.comment, "about " + e.filename);
    }

    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
    const QString out = path("ours-" + QString(QTest::currentDataTag()).replace(' ', '_'));
    QCOMPARE(unzip.extractAll(out), UnZip::Ok);
    QMap<QString, QByteArray> expected;
    for (const QString &f : expectedFiles)
        expected.insert(f, m_expected.value(f));
    QCOMPARE(treeContents(out), expected);
}

// A folder of 65537 small files, made once.
QString TestZipInterop::manyFolder()
{
    if (m_many.isEmpty()) {
        const QString dir = path("manyparent/many");
        if (!QDir().mkpath(dir))
            return QString();
#ifdef Q_OS_WIN
        // Wine looks through the whole folder for a name in another case before it makes a
        // file, so 65537 files made here take the better part of an hour: they are made on
        // the Linux side, the same files.
        const QString python = ravixtest::findTool(QStringLiteral("python3"));
        const QString make = QStringLiteral("import sys\n"
                                            "for i in range(65537):\n"
                                            "    open('%s/f%d.txt' % (sys.argv[1], i), 'w')"
                                            ".write(str(i))\n");
        if (python.isEmpty() || ravixtest::runTool(python, {"-c", make, dir}) != 0 ||
            QDir(dir).entryList(QDir::Files).size() != 65537)
            return QString();
#else
        for (int i = 0; i < 65537; ++i) {
            QFile f(dir + QString("/f%1.txt").arg(i));
            if (!f.open(QIODevice::WriteOnly) || f.write(QByteArray::number(i)) <= 0)
                return QString();
        }
#endif
        m_many = dir;
    }
    return m_many;
}

void TestZipInterop::threadedArchives_data()
{
    QTest::addColumn<QString>("tool");
    for (const QString &tool : ARCHIVERS)
        QTest::newRow(qPrintable(tool)) << tool;
}

void TestZipInterop::threadedArchives()
{
    // Entries deflated on several threads, beside ones too large for memory that are streamed
    // and incompressible ones: the same archive as from one thread, and sound to every tool.
    QFETCH(QString, tool);
    const QString zipPath = path("threads.zip");
    if (!QFile::exists(zipPath)) {
        const QString dir = path("threads");
        writeFile(dir + "/large.log", sampleText((64 << 20) + 1, 2));
        writeFile(dir + "/random.dat", noise(3 << 20, 4));
        for (int i = 0; i < 20; ++i)
            writeFile(dir + QString("/sub/f%1.txt").arg(i), sampleText(5000 * i + 7, i));
        QByteArray one;
        for (const int threads : {1, 4}) {
            Zip zip;
            zip.setCompressionThreads(threads);
            QCOMPARE(zip.createArchive(zipPath), Zip::Ok);
            QCOMPARE(zip.addDirectory(dir, Zip::Deflate6), Zip::Ok);
            QCOMPARE(zip.closeArchive(), Zip::Ok);
            if (threads == 1)
                one = readFile(zipPath);
        }
        QVERIFY(readFile(zipPath) == one);
    }
    QByteArray log;
    QVERIFY2(toolChecks(tool, zipPath, &log), log.constData());
}

void TestZipInterop::moreThan65535Entries_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("toolWrites");
    for (const QString &tool : ARCHIVERS)
        QTest::newRow(qPrintable("ours read by " + tool)) << tool << false;
    for (const QString &tool : WRITERS)
        QTest::newRow(qPrintable(tool + " read by us")) << tool << true;
}

void TestZipInterop::moreThan65535Entries()
{
    QFETCH(QString, tool);
    QFETCH(bool, toolWrites);
    const QString folder = manyFolder();
    QVERIFY(!folder.isEmpty());
    const QString zipPath = path(toolWrites ? tool + "-many.zip" : QString("ours-many.zip"));
    QByteArray log;
    if (toolWrites) {
        QVERIFY2(ziptest::toolWrites(tool, path("manyparent"), "many", zipPath, true, &log),
                 log.constData());
    } else if (!QFile::exists(zipPath)) {
        Zip zip;
        QCOMPARE(zip.createArchive(zipPath), Zip::Ok);
        QCOMPARE(zip.addDirectory(folder, Zip::Store), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }
    if (!toolWrites) {
        QVERIFY2(toolChecks(tool, zipPath, &log), log.constData());
        if (tool == "python3")
            QVERIFY2(log.contains("65537 entries"), log.constData());
    }

    UnZip unzip;
    QCOMPARE(unzip.openArchive(zipPath), UnZip::Ok);
    QStringList files = unzip.fileList().filter(QRegularExpression("[^/]$"));
    QCOMPARE(files.size(), 65537);
    QVERIFY(files.contains("many/f65536.txt"));
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile("many/f65536.txt", &out), UnZip::Ok);
    QCOMPARE(out.data(), QByteArray("65536"));
}

void TestZipInterop::offsetsPast4GiB_data()
{
    QTest::addColumn<QString>("tool");
    // 7z does not look for an archive behind 4 GiB of other data (it refuses python's too);
    // it reads offsets past 4 GiB in the large-archive tests.
    for (const QString &tool : ARCHIVERS) {
        if (tool != "7z")
            QTest::newRow(qPrintable(tool)) << tool;
    }
}

void TestZipInterop::offsetsPast4GiB()
{
    // The archive starts just before 4 GiB into a sparse file (no disk space for the gap):
    // its second entry and its directory lie past 4 GiB and need the 64-bit fields.
    QFETCH(QString, tool);
    const QString zipPath = path("past4g.zip");
    if (!QFile::exists(zipPath)) {
        QFile file(zipPath);
        QVERIFY(file.open(QIODevice::ReadWrite));
        const qint64 start = (qint64(1) << 32) - 3000;
        QVERIFY(file.resize(start) && file.seek(start));
        Zip zip;
        QCOMPARE(zip.createArchive(&file), Zip::Ok);
        QCOMPARE(zip.addFile(m_src + "/tree/notes.txt", QString(), Zip::IgnorePaths), Zip::Ok);
        QCOMPARE(zip.addFile(m_src + "/tree/stored.bin", "b", Zip::IgnorePaths), Zip::Ok);
        QCOMPARE(zip.closeArchive(), Zip::Ok);
    }
    QByteArray log;
    QVERIFY2(toolChecks(tool, zipPath, &log), log.constData());
    const QString out = path("past4g-" + tool);
    QVERIFY(QDir().mkpath(out));
    UnZip unzip;
    QCOMPARE(unzip.openArchive(zipPath), UnZip::Ok);
    QCOMPARE(unzip.extractAll(out), UnZip::Ok);
    QCOMPARE(readFile(out + "/b/stored.bin"), readFile(m_src + "/tree/stored.bin"));
}

QTEST_GUILESS_MAIN(TestZipInterop)
#include "tst_zipinterop.moc"
