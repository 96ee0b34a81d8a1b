// SPDX-License-Identifier: MIT
// Entries over 4 GiB, written by us and read by the common archivers, and the other way round.
// The source is a sparse file and the work happens in memory (/dev/shm); deflated entries use
// the fastest level. Stored archives hold real 4 GiB and put later entries past 4 GiB.
#include "rawzip.h"
#include "ziptools.h"

#include <ravixcore/zip/unzip.h>
#include <ravixcore/zip/zip.h>

#include <QTemporaryDir>
#include <QtTest>

using namespace ziptest;

namespace {

const qint64 BIG_SIZE = (qint64(1) << 32) + 65536;

} // namespace

class TestZip64Large : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toolsReadOurs_data();
    void toolsReadOurs();
    void weReadTools_data();
    void weReadTools();

private:
    QString path(const QString &rel) const { return m_tmp->path() + QLatin1Char('/') + rel; }
    QString ourArchive(bool store);
    void checkWithUs(const QString &zipPath);

    QScopedPointer<QTemporaryDir> m_tmp;
    QString m_small;
};

void TestZip64Large::initTestCase()
{
    m_tmp.reset(new QTemporaryDir("/dev/shm/tst_zip64large-XXXXXX"));
    QVERIFY(m_tmp->isValid());
    // Mostly a hole, with marks at the start, in the middle and at the end so that the data
    // is not all zeros.
    QFile big(path("src/big/big.bin"));
    QVERIFY(QDir().mkpath(path("src/big")));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(BIG_SIZE));
    for (qint64 at : {qint64(0), qint64(1) << 31, BIG_SIZE - 4096}) {
        QVERIFY(big.seek(at));
        QVERIFY(big.write(sampleText(4096, int(at % 97))) == 4096);
    }
    big.close();
    m_small = writeFile(path("src/big/small.txt"), sampleText(3000));
    QVERIFY(!m_small.isEmpty());
}

// Our archive of the big file and a small one behind it, made once per kind.
QString TestZip64Large::ourArchive(bool store)
{
    const QString zipPath = path(store ? "ours-stored.zip" : "ours-deflated.zip");
    if (QFile::exists(zipPath))
        return zipPath;
    // The stored archive takes 4 GiB of memory: only one of them at a time.
    QFile::remove(path("ours-stored.zip"));
    Zip zip;
    if (zip.createArchive(zipPath) != Zip::Ok ||
        zip.addFiles({path("src/big/big.bin"), m_small}, QString(), Zip::IgnorePaths,
                     store ? Zip::Store : Zip::Deflate1) != Zip::Ok ||
        zip.closeArchive() != Zip::Ok)
        return QString();
    return zipPath;
}

void TestZip64Large::checkWithUs(const QString &zipPath)
{
    UnZip unzip;
    QCOMPARE(unzip.openArchive(zipPath), UnZip::Ok);
    bool found = false;
    for (const UnZip::ZipEntry &e : unzip.entryList()) {
        if (!e.filename.endsWith("big.bin"))
            continue;
        found = true;
        QCOMPARE(e.uncompressedSize64, quint64(BIG_SIZE));
        QCOMPARE(e.uncompressedSize, 0xFFFFFFFFu);
    }
    QVERIFY(found);
    QCOMPARE(unzip.verifyArchive(), UnZip::Ok);
    const QString small = unzip.fileList().filter("small.txt").value(0);
    QBuffer out;
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(unzip.extractFile(small, &out), UnZip::Ok);
    QCOMPARE(out.data(), readFile(m_small));
}

void TestZip64Large::toolsReadOurs_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("store");
    for (bool store : {false, true}) {
        for (const QString &tool : ARCHIVERS)
            QTest::newRow(qPrintable(tool + (store ? " stored" : " deflated"))) << tool << store;
    }
}

void TestZip64Large::toolsReadOurs()
{
    QFETCH(QString, tool);
    QFETCH(bool, store);
    const QString zipPath = ourArchive(store);
    QVERIFY(!zipPath.isEmpty());
    if (tool == "unzip") // once per archive is enough
        checkWithUs(zipPath);
    QByteArray log;
    QVERIFY2(toolChecks(tool, zipPath, &log), log.constData());
}

void TestZip64Large::weReadTools_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<bool>("store");
    for (const QString &tool : WRITERS)
        QTest::newRow(qPrintable(tool + " deflated")) << tool << false;
    // One stored archive from a tool: its second entry lies past 4 GiB.
    QTest::newRow("zip stored") << "zip" << true;
}

void TestZip64Large::weReadTools()
{
    QFETCH(QString, tool);
    QFETCH(bool, store);
    QFile::remove(path("ours-stored.zip"));
    const QString zipPath = path(tool + (store ? "-stored.zip" : "-deflated.zip"));
    QByteArray log;
    QVERIFY2(toolWrites(tool, path("src"), "big", zipPath, store, &log), log.constData());
    checkWithUs(zipPath);
    QFile::remove(zipPath);
}

QTEST_GUILESS_MAIN(TestZip64Large)
#include "tst_zip64large.moc"
