// SPDX-License-Identifier: MIT
#include <ravixcore/fixnumber/bcd.h>

#include <QRandomGenerator>
#include <QtTest>

#include <limits>

using ravix::BCD;

class TestBcd : public QObject
{
    Q_OBJECT
private slots:
    void int2bcd_data()
    {
        QTest::addColumn<quint64>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("padded") << quint64(123456) << 8 << QByteArray::fromHex("00123456");
        QTest::newRow("odd digit count") << quint64(123) << 4 << QByteArray::fromHex("0123");
        QTest::newRow("longer than asked") << quint64(12345) << 2 << QByteArray::fromHex("012345");
        QTest::newRow("zero") << quint64(0) << 6 << QByteArray::fromHex("000000");
        QTest::newRow("one digit") << quint64(7) << 1 << QByteArray::fromHex("07");
        QTest::newRow("zero, no digits") << quint64(0) << 0 << QByteArray();
        QTest::newRow("zero, one digit") << quint64(0) << 1 << QByteArray();
        QTest::newRow("hundred") << quint64(100) << 0 << QByteArray::fromHex("0100");
        QTest::newRow("largest") << std::numeric_limits<quint64>::max() << 20
                                 << QByteArray::fromHex("18446744073709551615");
        QTest::newRow("255 digits")
            << quint64(1) << 255 << QByteArray(126, '\0') + QByteArray::fromHex("01");
    }
    void int2bcd()
    {
        QFETCH(quint64, value);
        QFETCH(int, digits);
        QFETCH(QByteArray, bytes);
        QCOMPARE(BCD::int2bcd(value, quint8(digits)).toHex(), bytes.toHex());
    }

    void bcd2int_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint64>("value");
        QTest::newRow("padded") << QByteArray::fromHex("00123456") << quint64(123456);
        QTest::newRow("99") << QByteArray::fromHex("99") << quint64(99);
        QTest::newRow("100") << QByteArray::fromHex("0100") << quint64(100);
        QTest::newRow("empty") << QByteArray() << quint64(0);
        QTest::newRow("invalid nibbles") << QByteArray::fromHex("AB") << quint64(111);
        QTest::newRow("invalid nibbles low") << QByteArray::fromHex("01AB") << quint64(211);
        // Beyond the 53 bits a double holds exactly.
        QTest::newRow("2^53 + 1") << QByteArray::fromHex("09007199254740993")
                                  << quint64(9007199254740993ull);
        QTest::newRow("largest") << QByteArray::fromHex("18446744073709551615")
                                 << std::numeric_limits<quint64>::max();
        // More than 255 bytes: every byte is decoded.
        QTest::newRow("300 bytes")
            << QByteArray(298, '\0') + QByteArray::fromHex("1234") << quint64(1234);
        QTest::newRow("256 bytes")
            << QByteArray(255, '\0') + QByteArray::fromHex("42") << quint64(42);
    }
    void bcd2int()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(quint64, value);
        const QByteArray before = bytes;
        QCOMPARE(BCD::bcd2int(bytes), value);
        QCOMPARE(bytes, before);
    }

    void bcd2intInPlace_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("decoded");
        QTest::newRow("two pairs")
            << QByteArray::fromHex("1234") << 2 << QByteArray::fromHex("0C22");
        QTest::newRow("invalid nibbles")
            << QByteArray::fromHex("ABFF") << 2 << QByteArray::fromHex("6FA5");
        QTest::newRow("first only")
            << QByteArray::fromHex("9999") << 1 << QByteArray::fromHex("6399");
        QTest::newRow("none") << QByteArray::fromHex("99") << 0 << QByteArray::fromHex("99");
    }
    void bcd2intInPlace()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, length);
        QFETCH(QByteArray, decoded);
        BCD::bcd2int(reinterpret_cast<uchar *>(bytes.data()), uchar(length));
        QCOMPARE(bytes.toHex(), decoded.toHex());
    }

    // Encoding and decoding give every value back, with the length asked for or the one needed.
    void roundTrip()
    {
        QRandomGenerator rng(1812);
        for (int i = 0; i < 100000; ++i) {
            // Spread over all magnitudes, not only the largest.
            const quint64 v = rng.generate64() >> rng.bounded(0, 64);
            const quint8 digits = quint8(rng.bounded(0, 48));
            const QByteArray bytes = BCD::int2bcd(v, digits);
            QCOMPARE(BCD::bcd2int(bytes), v);

            int pairs = 0;
            for (quint64 rest = v; rest; rest /= 100)
                ++pairs;
            QCOMPARE(bytes.size(), qMax(pairs, digits / 2));
            for (const char b : bytes)
                QVERIFY((uchar(b) >> 4) <= 9 && (uchar(b) & 0x0F) <= 9);
        }
    }
};

QTEST_GUILESS_MAIN(TestBcd)
#include "tst_bcd.moc"
