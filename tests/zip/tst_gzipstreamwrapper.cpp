#include "rawzip.h"

#include <testtools.h>

#include <ravixcore/sys/gzipstreamwrapper.h>

#include <QTemporaryDir>
#include <QtTest>

using ravix::GzipStreamWrapper;
using namespace ziptest;

class TestGzipStreamWrapper : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void truncatedInput_data();
    void truncatedInput();
    void corruptInput();
    void cutShortGivesPrefix();
    void gzipToolOutput();
    void pythonZlib();
    void gzipToolRefusesOurStream();
};

void TestGzipStreamWrapper::roundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("exactly 1024 out") << sampleText(1024);
    QTest::newRow("text") << sampleText(100000);
    QTest::newRow("noise") << noise(70000);
}

void TestGzipStreamWrapper::roundTrip()
{
    QFETCH(QByteArray, data);
    const QByteArray packed = GzipStreamWrapper::gzcompress(data);
    QVERIFY(packed.size() >= 8);
    // A zlib stream: CMF 0x78 and a header checksum.
    QCOMPARE(quint8(packed.at(0)), quint8(0x78));
    QCOMPARE(((quint8(packed.at(0)) << 8) | quint8(packed.at(1))) % 31, 0);
    QCOMPARE(GzipStreamWrapper::gzuncompress(packed), data);
}

void TestGzipStreamWrapper::truncatedInput_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("four bytes") << QByteArray("\x78\x9c\x03\x00", 4);
}

void TestGzipStreamWrapper::truncatedInput()
{
    QFETCH(QByteArray, data);
    QTest::ignoreMessage(QtWarningMsg, "gzuncompress: Input data is truncated");
    QVERIFY(GzipStreamWrapper::gzuncompress(data).isEmpty());
}

void TestGzipStreamWrapper::corruptInput()
{
    QVERIFY(GzipStreamWrapper::gzuncompress("not compressed at all").isEmpty());
    QByteArray packed = GzipStreamWrapper::gzcompress(sampleText(5000));
    packed[1] = char(packed.at(1) ^ 0x01); // header checksum
    QVERIFY(GzipStreamWrapper::gzuncompress(packed).isEmpty());
}

void TestGzipStreamWrapper::cutShortGivesPrefix()
{
    const QByteArray data = sampleText(200000);
    const QByteArray packed = GzipStreamWrapper::gzcompress(data);
    const QByteArray partial = GzipStreamWrapper::gzuncompress(packed.left(packed.size() / 2));
    QVERIFY(partial.size() > 1024);
    QVERIFY(partial.size() < data.size());
    QCOMPARE(partial, data.left(partial.size()));
}

void TestGzipStreamWrapper::gzipToolOutput()
{
    RAVIX_REQUIRE_TOOL(gzip, "gzip");
    QTemporaryDir tmp;
    const QByteArray data = sampleText(300000, 4);
    const QString file = writeFile(tmp.path() + "/in.txt", data);
    QCOMPARE(ravixtest::runTool(gzip, {"-9", "-k", file}), 0);
    QCOMPARE(GzipStreamWrapper::gzuncompress(readFile(file + ".gz")), data);
}

void TestGzipStreamWrapper::pythonZlib()
{
    RAVIX_REQUIRE_TOOL(python, "python3");
    QTemporaryDir tmp;
    const QByteArray data = sampleText(50000, 6);
    const QString in = writeFile(tmp.path() + "/in.bin", data);
    const QString ours = writeFile(tmp.path() + "/ours.z", GzipStreamWrapper::gzcompress(data));
    const QString theirs = tmp.path() + "/theirs.z";
    const char *script = R"(
import sys, zlib
data = open(sys.argv[1], 'rb').read()
assert zlib.decompress(open(sys.argv[2], 'rb').read()) == data
open(sys.argv[3], 'wb').write(zlib.compress(data, 6))
)";
    QByteArray log;
    QVERIFY2(ravixtest::runTool(python, {"-c", script, in, ours, theirs}, &log) == 0,
             log.constData());
    QCOMPARE(GzipStreamWrapper::gzuncompress(readFile(theirs)), data);
}

void TestGzipStreamWrapper::gzipToolRefusesOurStream()
{
    // Our output is a zlib stream, not a gzip member.
    RAVIX_REQUIRE_TOOL(gzip, "gzip");
    QTemporaryDir tmp;
    const QString ours = writeFile(tmp.path() + "/ours.gz", GzipStreamWrapper::gzcompress("abc"));
    QVERIFY(ravixtest::runTool(gzip, {"-d", "-c", ours}) != 0);
}

QTEST_GUILESS_MAIN(TestGzipStreamWrapper)
#include "tst_gzipstreamwrapper.moc"
