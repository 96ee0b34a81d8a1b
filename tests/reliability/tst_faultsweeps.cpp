// SPDX-License-Identifier: MIT
// Every truncation and every single-byte change of small archives, gzip and zlib streams, and
// every truncation of valid JSON documents: each read ends with an error or with the right
// data, never with a crash, a hang, wrong data or a file outside the target directory.
#include "testtools.h"

#include <ravixcore/srvmanifest/srvmanifest.h>
#include <ravixcore/sys/gzipstreamwrapper.h>
#include <ravixcore/updates/updateshelper.h>
#include <ravixcore/version/appversionmanager.h>
#include <ravixcore/zip/unzip.h>

#include <QBuffer>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

using ravix::GzipStreamWrapper;

namespace {

using Files = QMap<QString, QByteArray>;

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// Relative path -> content of every file below dir; directories are left out.
Files treeOf(const QString &dir)
{
    Files files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(dir).relativeFilePath(path), readFile(path));
    }
    return files;
}

// The variants of a byte string: every proper prefix, then every single-byte change.
QList<QByteArray> variants(const QByteArray &data)
{
    QList<QByteArray> out;
    for (int len = 0; len < data.size(); ++len)
        out << data.left(len);
    for (int i = 0; i < data.size(); ++i) {
        QByteArray changed = data;
        changed[i] = char(changed.at(i) ^ 0xFF);
        out << changed;
    }
    return out;
}

const char kPassword[] = "secret";

// Drops the log while it lives: the sweeps provoke diagnostics by the thousand.
class Silence
{
public:
    Silence() : m_previous(qInstallMessageHandler(drop)) {}
    ~Silence() { qInstallMessageHandler(m_previous); }

private:
    static void drop(QtMsgType, const QMessageLogContext &, const QString &) {}
    QtMessageHandler m_previous;
};

} // namespace

class TestFaultSweeps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void archives_data();
    void archives();
    void compressedStreams_data();
    void compressedStreams();
    void truncatedDocuments_data();
    void truncatedDocuments();

private:
    QTemporaryDir m_dir;
    Files m_sources;
    QString m_zip;
};

void TestFaultSweeps::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_zip = ravixtest::findTool(QStringLiteral("zip"));
    QVERIFY2(!m_zip.isEmpty(), "required tool not installed: zip");
    // Small sources: one that compresses well, one that does not, one empty, one in a folder.
    QByteArray text;
    for (int i = 0; i < 40; ++i)
        text += QByteArray("record ") + QByteArray::number(i) + '\n';
    m_sources.insert(QStringLiteral("log.txt"), text);
    m_sources.insert(QStringLiteral("bin.dat"), QByteArray("\x01\x93\xFE\x00\x7F zq", 9));
    m_sources.insert(QStringLiteral("empty.txt"), QByteArray());
    m_sources.insert(QStringLiteral("sub/n.txt"), QByteArray("nested"));
    const QString src = m_dir.filePath(QStringLiteral("src"));
    for (auto it = m_sources.cbegin(); it != m_sources.cend(); ++it) {
        QVERIFY(QDir().mkpath(QFileInfo(src + QLatin1Char('/') + it.key()).absolutePath()));
        QVERIFY(writeFile(src + QLatin1Char('/') + it.key(), it.value()));
    }
}

void TestFaultSweeps::archives_data()
{
    QTest::addColumn<QStringList>("zipArgs");
    QTest::newRow("stored") << QStringList{QStringLiteral("-0")};
    QTest::newRow("deflated") << QStringList{QStringLiteral("-9")};
    QTest::newRow("encrypted") << QStringList{QStringLiteral("-P"), QString::fromLatin1(kPassword)};
}

void TestFaultSweeps::archives()
{
    QFETCH(QStringList, zipArgs);
    const QString archive =
        m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".zip"));
    QFile::remove(archive);
    QByteArray out;
    QCOMPARE(ravixtest::runTool(m_zip,
                                QStringList{QStringLiteral("-q"), QStringLiteral("-X")} + zipArgs +
                                    QStringList{archive} + m_sources.keys(),
                                &out, m_dir.filePath(QStringLiteral("src"))),
             0);
    const QByteArray original = readFile(archive);
    QVERIFY(original.size() > 100);

    // Diagnostics of the reader are expected by the thousand; keep them out of the output.
    const Silence quiet;
    QTemporaryDir work;
    QVERIFY(work.isValid());
    const QString target = work.filePath(QStringLiteral("target"));
    int extractedWhole = 0;
    const QList<QByteArray> cases = variants(original);
    for (int c = 0; c < cases.size(); ++c) {
        const QByteArray data = cases.at(c);
        QByteArray copy = data;
        QBuffer device(&copy);
        UnZip unzip;
        unzip.setPassword(QString::fromLatin1(kPassword));
        const UnZip::ErrorCode opened = unzip.openArchive(&device);
        if (opened != UnZip::Ok && opened != UnZip::PartiallyCorrupted) {
            QVERIFY(!unzip.isOpen());
            continue;
        }
        const QList<UnZip::ZipEntry> entries = unzip.entryList();
        unzip.verifyArchive();
        const UnZip::ErrorCode extracted = unzip.extractAll(target);

        // Nothing beside the target, and whatever was written is right.
        const QStringList beside =
            QDir(work.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QVERIFY2(beside.isEmpty() || beside == QStringList{QStringLiteral("target")},
                 qPrintable(QStringLiteral("case %1 wrote %2").arg(c).arg(beside.join(','))));
        const Files written = treeOf(target);
        for (auto it = written.cbegin(); it != written.cend(); ++it) {
            QVERIFY2(m_sources.contains(it.key()),
                     qPrintable(QStringLiteral("case %1 wrote %2").arg(c).arg(it.key())));
            QVERIFY2(m_sources.value(it.key()) == it.value(),
                     qPrintable(QStringLiteral("case %1: wrong data in %2").arg(c).arg(it.key())));
        }
        if (extracted == UnZip::Ok) {
            // Success means every listed file arrived; only an encrypted entry whose check
            // byte does not match is passed over, as with a wrong password.
            for (const UnZip::ZipEntry &entry : entries) {
                if (entry.type == UnZip::File && !entry.encrypted)
                    QVERIFY2(
                        written.contains(entry.filename),
                        qPrintable(QStringLiteral("case %1 lost %2").arg(c).arg(entry.filename)));
            }
            if (written == m_sources)
                ++extractedWhole;
        }
        QVERIFY(QDir(target).removeRecursively());
    }
    // The sweep really reached the data: changes outside it leave archives that read whole.
    QVERIFY(extractedWhole > 0);
}

void TestFaultSweeps::compressedStreams_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("content");
    QByteArray text;
    for (int i = 0; i < 300; ++i)
        text += QByteArray("line ") + QByteArray::number(i * 7919 % 1000) + '\n';
    QTest::newRow("zlib") << GzipStreamWrapper::gzcompress(text) << text;

    const QString gzip = ravixtest::findTool(QStringLiteral("gzip"));
    QVERIFY2(!gzip.isEmpty(), "required tool not installed: gzip");
    const QString plain = m_dir.filePath(QStringLiteral("stream.txt"));
    QVERIFY(writeFile(plain, text));
    QCOMPARE(ravixtest::runTool(gzip, {QStringLiteral("-9"), QStringLiteral("-f"), plain}), 0);
    QTest::newRow("gzip") << readFile(plain + QStringLiteral(".gz")) << text;
}

void TestFaultSweeps::compressedStreams()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, content);
    QCOMPARE(GzipStreamWrapper::gzuncompress(stream), content);
    const Silence quiet;
    // A cut stream gives what was decoded so far, a prefix of the content.
    for (int len = 0; len < stream.size(); ++len) {
        const QByteArray result = GzipStreamWrapper::gzuncompress(stream.left(len));
        QVERIFY2(content.startsWith(result), qPrintable(QStringLiteral("cut at %1").arg(len)));
    }
    // A changed byte never crashes; most changes are caught by the checksum.
    int caught = 0;
    for (int i = 0; i < stream.size(); ++i) {
        QByteArray changed = stream;
        changed[i] = char(changed.at(i) ^ 0xFF);
        if (GzipStreamWrapper::gzuncompress(changed) != content)
            ++caught;
    }
    QVERIFY(caught > stream.size() / 2);
}

void TestFaultSweeps::truncatedDocuments_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("update document") << QStringLiteral("update");
    QTest::newRow("stored update") << QStringLiteral("info");
    QTest::newRow("update plan") << QStringLiteral("plan");
    QTest::newRow("version file") << QStringLiteral("ver");
    QTest::newRow("manifest") << QStringLiteral("manifest");
}

void TestFaultSweeps::truncatedDocuments()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString exe = QCoreApplication::applicationFilePath();
    const QByteArray document =
        kind == QLatin1String("update") || kind == QLatin1String("info")
            ? QByteArray(R"({"Q_OS_WIN32": [{"version": "1.2.0", "description": "d",
                 "changelog": "c", "packages": [{"build": "2021-01-01T00:00:00",
                 "fileUrl": "http://h/a.zip", "sha1": "a94a8fe5ccb19ba61c4c0873d391e987982fbbd3",
                 "fileSize": 10, "name": "a"}]}]})")
        : kind == QLatin1String("plan")
            ? QByteArray(R"({"externalCommand": "run", "version": "1.2.0"})")
        : kind == QLatin1String("ver")
            ? QByteArray(R"({"app": {"build": "2021-01-01T00:00:00", "ver": "1.2.0"}})")
            : QStringLiteral(R"({"defaultExePath": "%1", "services": [{"name": "%2"}]})")
                  .arg(QFileInfo(exe).absolutePath(), QFileInfo(exe).fileName())
                  .toUtf8();
    const ravix::UpdatePkgConfig config(dir.path());
    ravix::UpdatesHelper helper(config, dir.path(), QStringLiteral("app"));
    QByteArray stored = document;
    if (kind == QLatin1String("info")) {
        QVERIFY(helper.parseUpdateInfo(document));
        stored = QJsonDocument(helper.infos().first().toObject()).toJson();
    }
    const QString path = kind == QLatin1String("info")   ? config.updatesInfoPath("1.2.0")
                         : kind == QLatin1String("plan") ? dir.filePath(QStringLiteral("plan"))
                         : kind == QLatin1String("ver")  ? dir.filePath(QStringLiteral("app.ver"))
                                                         : dir.filePath(QStringLiteral("m.json"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));

    // Reads the file (or parses the document); true when it gave the whole content.
    const auto readBack = [&](const QByteArray &data) {
        if (kind == QLatin1String("update"))
            return helper.parseUpdateInfo(data);
        if (!writeFile(path, data))
            return false;
        if (kind == QLatin1String("info")) {
            ravix::UpdateInfo info;
            return helper.loadUpdateInfo(QStringLiteral("1.2.0"), info);
        }
        if (kind == QLatin1String("plan")) {
            QString version = QStringLiteral("old"), command = QStringLiteral("old");
            const bool ok = helper.loadUpdatePlan(version, command);
            // A failed read leaves the outputs alone.
            if (!ok && (version != QLatin1String("old") || command != QLatin1String("old")))
                return true;
            return ok;
        }
        if (kind == QLatin1String("ver"))
            return !ravix::AppVersionManager::loadVersions(dir.path(), QStringLiteral("app"))
                        .versions()
                        .isEmpty();
        return !ravix::SrvManifest(QString(), path, dir.path(), dir.path()).instances().isEmpty();
    };

    QVERIFY(readBack(stored));
    const Silence quiet;
    const int end = stored.lastIndexOf('}') + 1;
    for (int len = 0; len < end; ++len)
        QVERIFY2(!readBack(stored.left(len)), qPrintable(QStringLiteral("cut at %1").arg(len)));
}

QTEST_GUILESS_MAIN(TestFaultSweeps)
#include "tst_faultsweeps.moc"
