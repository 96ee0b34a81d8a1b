// SPDX-License-Identifier: MIT
#include "rawzip.h"

#include <testtools.h>

#include "sys/deflatecodec_p.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <thread>
#include <vector>
#include <zlib.h>

using ravix::DeflateCodec;
using ziptest::noise;
using ziptest::sampleText;

namespace {

QByteArray pack(DeflateCodec::Format format, int level, const QByteArray &data)
{
    QByteArray out(int(DeflateCodec::compressBound(format, size_t(data.size()))),
                   Qt::Uninitialized);
    const size_t n = DeflateCodec::compress(format, level, data.constData(), size_t(data.size()),
                                            out.data(), size_t(out.size()));
    out.resize(int(n));
    return out;
}

// zlib's inflate; windowBits -15 raw, 15 zlib, 31 gzip.
QByteArray zlibInflate(const QByteArray &packed, int windowBits, int expected)
{
    z_stream z;
    std::memset(&z, 0, sizeof(z));
    if (inflateInit2(&z, windowBits) != Z_OK)
        return "init failed";
    QByteArray out(expected + 1, Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    z.avail_in = uInt(packed.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = uInt(out.size());
    const int ret = inflate(&z, Z_FINISH);
    out.resize(int(z.total_out));
    inflateEnd(&z);
    return ret == Z_STREAM_END ? out : QByteArray("inflate: ") + QByteArray::number(ret);
}

} // namespace

class TestDeflateCodec : public QObject
{
    Q_OBJECT

private slots:
    void roundTripThroughZlib_data();
    void roundTripThroughZlib();
    void gzipTool();
    void exactSize();
    void consumedLength();
    void growing();
    void growingLimits();
    void compressRefusals();
    void crc32MatchesZlib();
    void threads();
};

void TestDeflateCodec::roundTripThroughZlib_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("data");
    const QList<QPair<const char *, QByteArray>> inputs = {
        {"empty", QByteArray()},
        {"one byte", QByteArray("x")},
        {"text", sampleText(400000, 1)},
        {"noise", noise(100000)},
    };
    const QList<QPair<const char *, int>> formats = {
        {"raw", DeflateCodec::Raw}, {"zlib", DeflateCodec::Zlib}, {"gzip", DeflateCodec::Gzip}};
    for (const auto &f : formats)
        for (int level : {0, 1, 6, 9, 12})
            for (const auto &in : inputs)
                QTest::addRow("%s %d %s", f.first, level, in.first)
                    << f.second << level << in.second;
}

void TestDeflateCodec::roundTripThroughZlib()
{
    QFETCH(int, format);
    QFETCH(int, level);
    QFETCH(QByteArray, data);
    const auto fmt = DeflateCodec::Format(format);
    const QByteArray packed = pack(fmt, level, data);
    QVERIFY(!packed.isEmpty());
    const int windowBits = fmt == DeflateCodec::Raw ? -15 : fmt == DeflateCodec::Zlib ? 15 : 31;
    QCOMPARE(zlibInflate(packed, windowBits, data.size()), data);

    QByteArray back(data.size(), Qt::Uninitialized);
    QCOMPARE(DeflateCodec::decompressExact(fmt, packed.constData(), size_t(packed.size()),
                                           back.data(), size_t(back.size())),
             DeflateCodec::Ok);
    QCOMPARE(back, data);
}

void TestDeflateCodec::gzipTool()
{
    RAVIX_REQUIRE_TOOL(gzip, "gzip");
    QTemporaryDir tmp;
    const QByteArray data = sampleText(200000, 2);
    const QString file =
        ziptest::writeFile(tmp.filePath("t.gz"), pack(DeflateCodec::Gzip, 6, data));
    QByteArray out;
    QCOMPARE(ravixtest::runTool(gzip, {"-d", "-c", file}, &out), 0);
    QCOMPARE(out, data);
}

void TestDeflateCodec::exactSize()
{
    const QByteArray data = sampleText(100000, 3);
    const QByteArray packed = pack(DeflateCodec::Raw, 6, data);
    QByteArray out(data.size() + 1, Qt::Uninitialized);
    const auto exact = [&](size_t size) {
        return DeflateCodec::decompressExact(DeflateCodec::Raw, packed.constData(),
                                             size_t(packed.size()), out.data(), size);
    };
    QCOMPARE(exact(size_t(data.size())), DeflateCodec::Ok);
    QCOMPARE(exact(size_t(data.size()) - 1), DeflateCodec::NoSpace);
    QCOMPARE(exact(size_t(data.size()) + 1), DeflateCodec::ShortOutput);
    QCOMPARE(exact(0), DeflateCodec::NoSpace);
    QCOMPARE(DeflateCodec::decompressExact(DeflateCodec::Raw, packed.constData(),
                                           size_t(packed.size() / 2), out.data(),
                                           size_t(data.size())),
             DeflateCodec::BadData);
    QCOMPARE(DeflateCodec::decompressExact(DeflateCodec::Zlib, packed.constData(),
                                           size_t(packed.size()), out.data(), size_t(data.size())),
             DeflateCodec::BadData);
    // An empty stream into no room at all.
    const QByteArray none = pack(DeflateCodec::Raw, 6, QByteArray());
    QCOMPARE(DeflateCodec::decompressExact(DeflateCodec::Raw, none.constData(), size_t(none.size()),
                                           nullptr, 0),
             DeflateCodec::Ok);
}

void TestDeflateCodec::consumedLength()
{
    const QByteArray data = sampleText(5000, 4);
    for (auto fmt : {DeflateCodec::Raw, DeflateCodec::Zlib, DeflateCodec::Gzip}) {
        const QByteArray packed = pack(fmt, 6, data);
        const QByteArray input = packed + "next record";
        QByteArray out(data.size(), Qt::Uninitialized);
        size_t consumed = 0;
        QCOMPARE(DeflateCodec::decompressExact(fmt, input.constData(), size_t(input.size()),
                                               out.data(), size_t(out.size()), &consumed),
                 DeflateCodec::Ok);
        QCOMPARE(consumed, size_t(packed.size()));
        size_t produced = 0;
        consumed = 0;
        QCOMPARE(DeflateCodec::decompressGrowing(
                     fmt, input.constData(), size_t(input.size()), 10, 1 << 20,
                     [&](size_t n) -> void * {
                         out.resize(int(n));
                         return out.data();
                     },
                     &produced, &consumed),
                 DeflateCodec::Ok);
        QCOMPARE(consumed, size_t(packed.size()));
        QCOMPARE(out.left(int(produced)), data);
    }
}

void TestDeflateCodec::growing()
{
    const QByteArray data = sampleText(1000000, 5);
    const QByteArray packed = pack(DeflateCodec::Zlib, 6, data);
    QByteArray out;
    std::vector<size_t> asked;
    const auto room = [&](size_t n) -> void * {
        asked.push_back(n);
        out = QByteArray(int(n), Qt::Uninitialized);
        return out.data();
    };
    size_t produced = 0;
    QCOMPARE(DeflateCodec::decompressGrowing(DeflateCodec::Zlib, packed.constData(),
                                             size_t(packed.size()), 1000, 50000000, room,
                                             &produced),
             DeflateCodec::Ok);
    // From the guess fourfold (at least 4096) until it fits.
    QCOMPARE(asked, (std::vector<size_t>{1000, 4096, 16384, 65536, 262144, 1048576}));
    QCOMPARE(out.left(int(produced)), data);

    // The last step stops at the bound, and a result of exactly that size fits.
    asked.clear();
    QCOMPARE(DeflateCodec::decompressGrowing(DeflateCodec::Zlib, packed.constData(),
                                             size_t(packed.size()), 300000, size_t(data.size()),
                                             room, &produced),
             DeflateCodec::Ok);
    QCOMPARE(asked, (std::vector<size_t>{300000, size_t(data.size())}));
    QCOMPARE(out, data);
}

void TestDeflateCodec::growingLimits()
{
    const QByteArray data = sampleText(1000000, 6);
    const QByteArray packed = pack(DeflateCodec::Gzip, 6, data);
    QByteArray out;
    int calls = 0;
    const auto room = [&](size_t n) -> void * {
        ++calls;
        out = QByteArray(int(n), Qt::Uninitialized);
        return out.data();
    };
    size_t produced = 0;
    QCOMPARE(DeflateCodec::decompressGrowing(DeflateCodec::Gzip, packed.constData(),
                                             size_t(packed.size()), 0, size_t(data.size()) - 1,
                                             room, &produced),
             DeflateCodec::NoSpace);
    QCOMPARE(DeflateCodec::decompressGrowing(DeflateCodec::Gzip, packed.constData(),
                                             size_t(packed.size()) - 1, 0, 1 << 24, room,
                                             &produced),
             DeflateCodec::BadData);
    calls = 0;
    QCOMPARE(DeflateCodec::decompressGrowing(
                 DeflateCodec::Gzip, packed.constData(), size_t(packed.size()), 4096, 1 << 24,
                 [&](size_t n) -> void * { return n > 100000 ? nullptr : room(n); }, &produced),
             DeflateCodec::OutOfMemory);
    QCOMPARE(calls, 3); // 4096, 16384, 65536; the next one was refused
}

void TestDeflateCodec::compressRefusals()
{
    const QByteArray data = noise(20000);
    QByteArray out(30000, Qt::Uninitialized);
    QCOMPARE(DeflateCodec::compress(DeflateCodec::Raw, 13, data.constData(), size_t(data.size()),
                                    out.data(), size_t(out.size())),
             size_t(0));
    QCOMPARE(DeflateCodec::compress(DeflateCodec::Raw, -1, data.constData(), size_t(data.size()),
                                    out.data(), size_t(out.size())),
             size_t(0));
    // Noise does not fit in fewer bytes than it has.
    QCOMPARE(DeflateCodec::compress(DeflateCodec::Raw, 6, data.constData(), size_t(data.size()),
                                    out.data(), size_t(data.size())),
             size_t(0));
    QVERIFY(DeflateCodec::compress(DeflateCodec::Raw, 6, data.constData(), size_t(data.size()),
                                   out.data(), size_t(out.size())) > size_t(data.size()));
}

void TestDeflateCodec::crc32MatchesZlib()
{
    const QByteArray data = noise(100003);
    for (int length : {0, 1, 7, 64, 1000, 100003}) {
        const uLong theirs =
            ::crc32(0L, reinterpret_cast<const Bytef *>(data.constData()), uInt(length));
        QCOMPARE(DeflateCodec::crc32(0, data.constData(), size_t(length)), quint32(theirs));
    }
    // Continued over pieces.
    const quint32 first = DeflateCodec::crc32(0, data.constData(), 5000);
    QCOMPARE(DeflateCodec::crc32(first, data.constData() + 5000, size_t(data.size()) - 5000),
             DeflateCodec::crc32(0, data.constData(), size_t(data.size())));
}

void TestDeflateCodec::threads()
{
    // Each thread codes with its own objects, at levels that differ between threads and
    // within one thread.
    std::vector<std::thread> workers;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([t, &failures] {
            for (int round = 0; round < 20; ++round) {
                const QByteArray data = sampleText(20000 + 997 * round, t * 100 + round);
                const int level = (t + round) % 10;
                const QByteArray packed = pack(DeflateCodec::Raw, level, data);
                QByteArray back(data.size(), Qt::Uninitialized);
                if (DeflateCodec::decompressExact(DeflateCodec::Raw, packed.constData(),
                                                  size_t(packed.size()), back.data(),
                                                  size_t(back.size())) != DeflateCodec::Ok ||
                    back != data)
                    ++failures[size_t(t)];
            }
        });
    }
    for (auto &w : workers)
        w.join();
    QCOMPARE(failures, std::vector<int>(4, 0));
}

QTEST_GUILESS_MAIN(TestDeflateCodec)
#include "tst_deflatecodec.moc"
