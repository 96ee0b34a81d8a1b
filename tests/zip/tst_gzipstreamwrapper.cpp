// SPDX-License-Identifier: MIT
#include "rawzip.h"

#include <testtools.h>

#include <ravixcore/sys/gzipstreamwrapper.h>

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <limits>
#include <zlib.h>

using ravix::GzipStreamWrapper;
using namespace ziptest;

namespace {

// The largest QByteArray, and so the largest result.
const qint64 LARGEST = std::numeric_limits<int>::max() - int(sizeof(QByteArrayData)) - 1;

enum Framing { ZlibStream, GzipMember, GzipMemberHeaderCrc };

// A stream written by zlib itself, independent of the code under test.
QByteArray zlibPack(const QByteArray &data, Framing framing = ZlibStream)
{
    z_stream z;
    std::memset(&z, 0, sizeof(z));
    deflateInit2(&z, 6, Z_DEFLATED, framing == ZlibStream ? 15 : 31, 8, Z_DEFAULT_STRATEGY);
    gz_header head;
    std::memset(&head, 0, sizeof(head));
    head.hcrc = 1;
    if (framing == GzipMemberHeaderCrc)
        deflateSetHeader(&z, &head);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    deflateEnd(&z);
    return out;
}

// A stream of `count` (at least 1) zero bytes, written bit by bit rather than through a
// compressor, which would take seconds: one block of the fixed code, a literal zero, then
// copies of 258 bytes from one byte back, and literal zeros for the rest.
QByteArray zerosStream(qint64 count, Framing framing)
{
    QByteArray out;
    if (framing == ZlibStream) {
        out = QByteArray("\x78\x01", 2);
    } else {
        const bool hcrc = framing == GzipMemberHeaderCrc;
        out = QByteArray("\x1f\x8b\x08\0\0\0\0\0\0\x03", 10);
        if (hcrc) {
            out[3] = 0x02;
            const uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(out.constData()), 10);
            out += char(crc & 0xff);
            out += char((crc >> 8) & 0xff);
        }
    }
    out.reserve(out.size() + int(count / 258 * 13 / 8) + 1024);
    quint64 bits = 0;
    int pending = 0;
    const auto put = [&](quint32 value, int n) {
        bits |= quint64(value) << pending;
        for (pending += n; pending >= 8; pending -= 8, bits >>= 8)
            out += char(bits & 0xff);
    };
    // Huffman codes go most significant bit first.
    const auto code = [&](quint32 value, int n) {
        quint32 reversed = 0;
        for (int i = 0; i < n; ++i)
            reversed |= ((value >> i) & 1u) << (n - 1 - i);
        put(reversed, n);
    };
    put(1, 1);     // last block
    put(1, 2);     // fixed code
    code(0x30, 8); // literal 0
    const qint64 copies = (count - 1) / 258;
    for (qint64 i = 0; i < copies; ++i) {
        code(0xc5, 8); // length 258
        code(0, 5);    // distance 1
    }
    for (qint64 i = 0; i < (count - 1) % 258; ++i)
        code(0x30, 8);
    code(0, 7); // end of block
    if (pending)
        put(0, 8 - pending);
    const auto le32 = [&out](quint32 v) {
        for (int i = 0; i < 4; ++i)
            out += char((v >> (8 * i)) & 0xff);
    };
    if (framing == ZlibStream) {
        // Zeros leave the low sum at 1; the high sum grows by 1 per byte.
        const quint32 adler = (quint32(count % 65521) << 16) | 1u;
        for (int i = 3; i >= 0; --i)
            out += char((adler >> (8 * i)) & 0xff);
    } else {
        static const QByteArray zeros(1 << 20, '\0');
        uLong crc = crc32(0L, Z_NULL, 0);
        for (qint64 left = count; left > 0; left -= zeros.size())
            crc = crc32(crc, reinterpret_cast<const Bytef *>(zeros.constData()),
                        uInt(qMin<qint64>(left, zeros.size())));
        le32(quint32(crc));
        le32(quint32(count & 0xffffffff));
    }
    return out;
}

bool allZero(const QByteArray &data)
{
    static const QByteArray zeros(1 << 20, '\0');
    for (qint64 at = 0; at < data.size(); at += zeros.size()) {
        const int n = int(qMin<qint64>(data.size() - at, zeros.size()));
        if (std::memcmp(data.constData() + at, zeros.constData(), size_t(n)) != 0)
            return false;
    }
    return true;
}

QByteArray flipped(QByteArray data, int at, char mask = 0x10)
{
    at = at < 0 ? data.size() + at : at;
    data[at] = char(data.at(at) ^ mask);
    return data;
}

} // namespace

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
    void damagedStreams_data();
    void damagedStreams();
    void streamsCutShort_data();
    void streamsCutShort();
    void bytesAfterTheStream_data();
    void bytesAfterTheStream();
    void gzipHeaderChecksum();
    void streamsOfOtherWriters();
    void ourStreamsDecodeElsewhere();
    void resultSizeBound_data();
    void resultSizeBound();
    void resultSizeBoundStepwise_data();
    void resultSizeBoundStepwise();
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

void TestGzipStreamWrapper::damagedStreams_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray text = sampleText(50000, 3);
    const QByteArray z = zlibPack(text);
    const QByteArray gz = zlibPack(text, GzipMember);
    QTest::newRow("adler-32") << flipped(z, -1);
    QTest::newRow("bit in the middle") << flipped(z, z.size() / 2);
    // FDICT set: the stream needs a preset dictionary.
    QTest::newRow("dictionary") << QByteArray("\x78\xbb\0\0\0\1\x03\0\0\0\0\1", 12);
    QTest::newRow("reserved block type") << QByteArray("\x78\x9c\x07\0\0\0\0\0", 8);
    QTest::newRow("gzip crc-32") << flipped(gz, -8);
    QTest::newRow("gzip length") << flipped(gz, -4, 0x01);
    QTest::newRow("gzip method") << flipped(gz, 2, 0x01);
    QTest::newRow("gzip header checksum") << flipped(zlibPack(text, GzipMemberHeaderCrc), 10);
}

void TestGzipStreamWrapper::damagedStreams()
{
    QFETCH(QByteArray, data);
    QCOMPARE(GzipStreamWrapper::gzuncompress(data), QByteArray());
}

void TestGzipStreamWrapper::streamsCutShort_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("whole"); // all the content, or a proper prefix of it
    const QByteArray text = sampleText(300000, 5);
    const QByteArray z = zlibPack(text);
    const QByteArray gz = zlibPack(text, GzipMember);
    QTest::newRow("zlib, half") << z.left(z.size() / 2) << false;
    QTest::newRow("zlib, without adler-32") << z.left(z.size() - 4) << true;
    QTest::newRow("gzip, half") << gz.left(gz.size() / 2) << false;
    QTest::newRow("gzip, without trailer") << gz.left(gz.size() - 8) << true;
}

void TestGzipStreamWrapper::streamsCutShort()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, whole);
    const QByteArray text = sampleText(300000, 5);
    const QByteArray out = GzipStreamWrapper::gzuncompress(data);
    if (whole) {
        QCOMPARE(out, text);
    } else {
        QVERIFY(out.size() > 1024);
        QVERIFY(out.size() < text.size());
        QCOMPARE(out, text.left(out.size()));
    }
}

void TestGzipStreamWrapper::bytesAfterTheStream_data()
{
    QTest::addColumn<QByteArray>("data");
    const QByteArray text = sampleText(40000, 8);
    // A gzip member's last four bytes give its length: here they are someone else's.
    QTest::newRow("zlib") << zlibPack(text) + "trailing";
    QTest::newRow("gzip") << zlibPack(text, GzipMember) + "trailing\xff\xff\xff\x7f";
    QTest::newRow("second gzip member")
        << zlibPack(text, GzipMember) + zlibPack("more", GzipMember);
}

void TestGzipStreamWrapper::bytesAfterTheStream()
{
    QFETCH(QByteArray, data);
    QCOMPARE(GzipStreamWrapper::gzuncompress(data), sampleText(40000, 8));
}

void TestGzipStreamWrapper::gzipHeaderChecksum()
{
    const QByteArray text = sampleText(30000, 9);
    const QByteArray member = zlibPack(text, GzipMemberHeaderCrc);
    QCOMPARE(quint8(member.at(3)) & 0x02, 0x02);
    QCOMPARE(GzipStreamWrapper::gzuncompress(member), text);
}

void TestGzipStreamWrapper::streamsOfOtherWriters()
{
    RAVIX_REQUIRE_TOOL(python, "python3");
    QTemporaryDir tmp;
    const QByteArray text = sampleText(200000, 11) + noise(20000) + QByteArray(70000, 'a');
    const QString in = writeFile(tmp.path() + "/in.bin", text);
    const char *script = R"(
import gzip, io, os, sys, zlib
data = open(sys.argv[1], 'rb').read()
out = sys.argv[2]
def z(name, **kw):
    level = kw.pop('level', 6)
    c = zlib.compressobj(level, **kw)
    open(os.path.join(out, name), 'wb').write(c.compress(data) + c.flush())
z('level0', level=0)
z('level1', level=1)
z('level9', level=9)
z('window512', wbits=9)
z('fixed', strategy=zlib.Z_FIXED)
z('huffman', strategy=zlib.Z_HUFFMAN_ONLY)
z('rle', strategy=zlib.Z_RLE)
z('memlevel1', memLevel=1)
c = zlib.compressobj(6)
parts = [c.compress(data[i:i + 30000]) + c.flush(zlib.Z_FULL_FLUSH) for i in range(0, len(data), 30000)]
open(os.path.join(out, 'flushes'), 'wb').write(b''.join(parts) + c.flush())
b = io.BytesIO()
with gzip.GzipFile(filename='in.bin', mode='wb', fileobj=b, mtime=1600000000) as f:
    f.write(data)
open(os.path.join(out, 'gzipname'), 'wb').write(b.getvalue())
)";
    QByteArray log;
    QVERIFY2(ravixtest::runTool(python, {"-c", script, in, tmp.path()}, &log) == 0,
             log.constData());
    const QStringList names = {"level0",  "level1", "level9",    "window512", "fixed",
                               "huffman", "rle",    "memlevel1", "flushes",   "gzipname"};
    for (const QString &name : names) {
        const QByteArray packed = readFile(tmp.path() + "/" + name);
        QVERIFY2(!packed.isEmpty(), qPrintable(name));
        QVERIFY2(GzipStreamWrapper::gzuncompress(packed) == text, qPrintable(name));
    }
}

void TestGzipStreamWrapper::ourStreamsDecodeElsewhere()
{
    RAVIX_REQUIRE_TOOL(python, "python3");
    QTemporaryDir tmp;
    const QList<QByteArray> inputs = {
        QByteArray(),  QByteArray("x"),           sampleText(1 << 20, 12),
        noise(300000), QByteArray(3 << 20, '\0'), sampleText(100000, 13) + noise(100000)};
    QStringList args = {"-c", R"(
import sys, zlib
for i in range(1, len(sys.argv), 2):
    assert zlib.decompress(open(sys.argv[i + 1], 'rb').read()) == open(sys.argv[i], 'rb').read(), sys.argv[i]
)"};
    for (int i = 0; i < inputs.size(); ++i) {
        const QByteArray packed = GzipStreamWrapper::gzcompress(inputs[i]);
        // zlib in this process, then python's.
        QByteArray back(qMax(1, inputs[i].size()), Qt::Uninitialized);
        uLongf length = uLongf(back.size());
        QCOMPARE(uncompress(reinterpret_cast<Bytef *>(back.data()), &length,
                            reinterpret_cast<const Bytef *>(packed.constData()),
                            uLong(packed.size())),
                 Z_OK);
        QCOMPARE(back.left(int(length)), inputs[i]);
        const QString base = tmp.path() + "/" + QString::number(i);
        args << writeFile(base + ".in", inputs[i]) << writeFile(base + ".z", packed);
    }
    QByteArray log;
    QVERIFY2(ravixtest::runTool(python, args, &log) == 0, log.constData());
}

// Two functions rather than one table: each row decodes up to 2 GiB, and QtTest's watchdog
// would stop a long table under a sanitizer.
void TestGzipStreamWrapper::resultSizeBound_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("cutOff"); // bytes taken from the end of the stream
    QTest::addColumn<qint64>("expected");
    QTest::newRow("small") << qint64(1000) << int(ZlibStream) << 0 << qint64(1000);
    QTest::newRow("largest array") << LARGEST << int(ZlibStream) << 0 << LARGEST;
    QTest::newRow("one byte more") << LARGEST + 1 << int(ZlibStream) << 0 << qint64(0);
}

void TestGzipStreamWrapper::resultSizeBoundStepwise_data()
{
    QTest::addColumn<qint64>("length");
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("cutOff");
    QTest::addColumn<qint64>("expected");
    // Members with a header checksum, and streams cut short, take zlib's step-by-step way.
    QTest::newRow("small") << qint64(1000) << int(GzipMemberHeaderCrc) << 0 << qint64(1000);
    QTest::newRow("largest array, adler-32 cut off") << LARGEST << int(ZlibStream) << 4 << LARGEST;
    QTest::newRow("one byte more") << LARGEST + 1 << int(GzipMemberHeaderCrc) << 0 << qint64(0);
}

void TestGzipStreamWrapper::resultSizeBoundStepwise()
{
    resultSizeBound();
}

void TestGzipStreamWrapper::resultSizeBound()
{
    QFETCH(qint64, length);
    QFETCH(int, framing);
    QFETCH(int, cutOff);
    QFETCH(qint64, expected);
    QByteArray packed = zerosStream(length, Framing(framing));
    packed.chop(cutOff);
    const QByteArray out = GzipStreamWrapper::gzuncompress(packed);
    packed.clear();
    QCOMPARE(qint64(out.size()), expected);
    QVERIFY(allZero(out));
}

QTEST_GUILESS_MAIN(TestGzipStreamWrapper)
#include "tst_gzipstreamwrapper.moc"
