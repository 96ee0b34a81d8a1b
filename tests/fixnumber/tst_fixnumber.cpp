// SPDX-License-Identifier: MIT
#include <ravixcore/fixnumber/fixnumber.h>

#include <QLocale>
#include <QRandomGenerator>
#include <QtTest>

#include <limits>

using ravix::ExtFixNumber;
using ravix::FixNumber;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();
// -1 in a round-type column stands for plain FixNumber.
constexpr int kPlain = -1;

using Int128 = __int128;

// Reference model: rounds num ÷ den (den > 0) by a round type, on the magnitude.
Int128 roundedQuotient(Int128 num, Int128 den, int type)
{
    const bool negative = num < 0;
    const Int128 mag = negative ? -num : num;
    const Int128 q = mag / den;
    const Int128 twice = mag % den * 2;
    bool up = false;
    switch (type) {
    case 0:
        up = twice > den || (twice == den && q % 2 == 0);
        break;
    case 1:
        up = twice > den || (twice == den && q % 2 == 1);
        break;
    case 2:
        up = twice >= den && twice != 0;
        break;
    case 3:
        up = twice != 0;
        break;
    default:
        break;
    }
    const Int128 r = q + (up ? 1 : 0);
    return negative ? -r : r;
}

qint64 power10(int n)
{
    qint64 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// Uniform enough for these tests: lo ≤ result < hi.
qint64 randomIn(QRandomGenerator &rng, qint64 lo, qint64 hi)
{
    return lo + qint64(rng.generate64() % quint64(hi - lo));
}

} // namespace

class TestFixNumber : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void construction()
    {
        const FixNumber plain;
        QCOMPARE(plain.realMultiplier(), 100u);
        QCOMPARE(plain.value(), 0);
        QCOMPARE(FixNumber(1000u).realMultiplier(), 1000u);
        QCOMPARE(FixNumber(1000u).value(), 0);

        const ExtFixNumber ext;
        QCOMPARE(ext.realMultiplier(), 100u);
        QCOMPARE(ext.roundType(), ExtFixNumber::RoundHalfEven);
        const ExtFixNumber typed(1000u, ExtFixNumber::RoundUp);
        QCOMPARE(typed.realMultiplier(), 1000u);
        QCOMPARE(typed.roundType(), ExtFixNumber::RoundUp);

        ExtFixNumber copy(100u, qint64(5), ExtFixNumber::RoundDown);
        ExtFixNumber assigned;
        assigned = copy;
        QCOMPARE(assigned.roundType(), ExtFixNumber::RoundDown);
        QCOMPARE(assigned.value(), 5);
        ExtFixNumber moved(std::move(copy));
        QCOMPARE(moved.roundType(), ExtFixNumber::RoundDown);
        QCOMPARE(moved.value(), 5);

        // Only the scale changes, so the number it stands for does.
        FixNumber n(100u, qint64(150));
        n.setRealMultiplier(10);
        QCOMPARE(n.value(), 150);
        QCOMPARE(n.toDouble(), 15.0);
    }

    void fromDouble_data()
    {
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<double>("x");
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("expected");

        QTest::newRow("2.625 tie, even kept") << 100u << 2.625 << kPlain << qint64(262);
        QTest::newRow("2.875 tie, odd kept") << 100u << 2.875 << kPlain << qint64(288);
        QTest::newRow("0.125") << 100u << 0.125 << kPlain << qint64(12);
        QTest::newRow("2.5 exact") << 100u << 2.5 << kPlain << qint64(250);
        QTest::newRow("ext 2.625 half up") << 100u << 2.625 << 2 << qint64(263);
        QTest::newRow("ext 2.625 half odd") << 100u << 2.625 << 0 << qint64(263);
        QTest::newRow("ext 2.875 half odd") << 100u << 2.875 << 0 << qint64(287);
        QTest::newRow("ext 2.621 up") << 100u << 2.621 << 3 << qint64(263);
        QTest::newRow("ext 2.629 down") << 100u << 2.629 << 4 << qint64(262);

        // Just below a half is not a tie.
        QTest::newRow("2.6349") << 100u << 2.6349 << kPlain << qint64(263);
        QTest::newRow("2.6349 half up") << 100u << 2.6349 << 2 << qint64(263);
        // Stored as 2.67499999..., written 2.675: a tie all the same.
        QTest::newRow("2.675 even") << 100u << 2.675 << kPlain << qint64(268);
        QTest::newRow("2.675 half up") << 100u << 2.675 << 2 << qint64(268);
        QTest::newRow("2.675 half odd") << 100u << 2.675 << 0 << qint64(267);
        QTest::newRow("1.005 half up") << 100u << 1.005 << 2 << qint64(101);
        // Noise far below the cent is no reason for half rules to move.
        QTest::newRow("2.62 up, no noise") << 100u << 2.62 << 3 << qint64(262);
        QTest::newRow("2.6201 up") << 100u << 2.6201 << 3 << qint64(263);

        // Negative amounts round their magnitude.
        QTest::newRow("-1.279") << 100u << -1.279 << kPlain << qint64(-128);
        QTest::newRow("-2.625") << 100u << -2.625 << kPlain << qint64(-262);
        QTest::newRow("-2.875") << 100u << -2.875 << kPlain << qint64(-288);
        QTest::newRow("-2.625 half up") << 100u << -2.625 << 2 << qint64(-263);
        QTest::newRow("-2.875 half odd") << 100u << -2.875 << 0 << qint64(-287);
        QTest::newRow("-2.621 up") << 100u << -2.621 << 3 << qint64(-263);
        QTest::newRow("-2.629 down") << 100u << -2.629 << 4 << qint64(-262);
        QTest::newRow("-0.001 up") << 100u << -0.001 << 3 << qint64(-1);

        // Every round type on each kind of remainder.
        struct Case
        {
            const char *name;
            double x;
            qint64 byType[5];
        };
        const Case cases[] = {
            {"tie above even", 2.625, {263, 262, 263, 263, 262}},
            {"tie above odd", 2.635, {263, 264, 264, 264, 263}},
            {"below half", 2.6349, {263, 263, 263, 264, 263}},
            {"above half", 2.6351, {264, 264, 264, 264, 263}},
            {"exact", 2.63, {263, 263, 263, 263, 263}},
        };
        for (const Case &c : cases) {
            for (int type = 0; type < 5; ++type) {
                QTest::addRow("%s, type %d", c.name, type) << 100u << c.x << type << c.byType[type];
                QTest::addRow("-(%s), type %d", c.name, type)
                    << 100u << -c.x << type << -c.byType[type];
            }
        }
        QTest::newRow("unknown type rounds down") << 100u << 2.6351 << 7 << qint64(263);
        QTest::newRow("negative type rounds down") << 100u << 2.6351 << -5 << qint64(263);

        QTest::newRow("multiplier 1, 2.5") << 1u << 2.5 << kPlain << qint64(2);
        QTest::newRow("multiplier 1, 3.5") << 1u << 3.5 << kPlain << qint64(4);
        QTest::newRow("multiplier 10000") << 10000u << 1.23456 << kPlain << qint64(12346);
        QTest::newRow("multiplier 0") << 0u << 2.5 << kPlain << qint64(0);
        QTest::newRow("tiny, half up") << 100u << 1e-7 << 2 << qint64(0);
        QTest::newRow("tiny, up") << 100u << 1e-7 << 3 << qint64(1);
        QTest::newRow("0.005 even") << 100u << 0.005 << kPlain << qint64(0);
        QTest::newRow("0.015 even") << 100u << 0.015 << kPlain << qint64(2);
        QTest::newRow("large exact")
            << 100u << 92233720368547.75 << kPlain << qint64(9223372036854775);
        QTest::newRow("1e15 multiplier 1000")
            << 1000u << 1e15 << kPlain << qint64(1000000000000000000);
        QTest::newRow("beyond 64 bits") << 100u << 1e300 << kPlain << kMax;
        QTest::newRow("beyond -64 bits") << 100u << -1e300 << kPlain << kMin;
        QTest::newRow("+inf") << 100u << std::numeric_limits<double>::infinity() << kPlain << kMax;
        QTest::newRow("-inf") << 100u << -std::numeric_limits<double>::infinity() << kPlain << kMin;
        QTest::newRow("nan") << 100u << std::numeric_limits<double>::quiet_NaN() << kPlain
                             << qint64(0);
        QTest::newRow("-0.0") << 100u << -0.0 << 3 << qint64(0);
    }
    void fromDouble()
    {
        QFETCH(uint, multiplier);
        QFETCH(double, x);
        QFETCH(int, type);
        QFETCH(qint64, expected);
        if (type == kPlain) {
            const FixNumber n(multiplier, x);
            QCOMPARE(n.realMultiplier(), multiplier);
            QCOMPARE(n.value(), expected);
            // ExtFixNumber's default is the rule of FixNumber.
            QCOMPARE(ExtFixNumber(multiplier, x).value(), expected);
        } else {
            const ExtFixNumber n(multiplier, x, ExtFixNumber::ERoundType(type));
            QCOMPARE(n.value(), expected);
            // setDouble() on an existing number rounds by its type too.
            ExtFixNumber later(multiplier, ExtFixNumber::ERoundType(type));
            later.setValue(99);
            later.setDouble(x);
            QCOMPARE(later.value(), expected);
            FixNumber &base = later;
            base.setDouble(x);
            QCOMPARE(later.value(), expected);
        }
    }

    // Decimals of up to 15 digits written as doubles round exactly as the decimals do.
    void fromDoubleMatchesDecimal()
    {
        QRandomGenerator rng(20261210);
        for (int i = 0; i < 20000; ++i) {
            const int fractionDigits = rng.bounded(1, 6);
            const int maxIntDigits = 15 - fractionDigits;
            const qint64 bound = power10(rng.bounded(1, maxIntDigits + 1) + fractionDigits);
            const qint64 k = randomIn(rng, 0, bound) * (rng.bounded(2) ? 1 : -1);
            const qint64 den = power10(fractionDigits);
            const double x = double(k) / double(den);
            const int decimals = rng.bounded(0, fractionDigits + 1);
            const unsigned int multiplier = unsigned(power10(decimals));
            const int type = rng.bounded(0, 5);
            const qint64 expected = qint64(roundedQuotient(k, den / multiplier, type));
            const ExtFixNumber n(multiplier, x, ExtFixNumber::ERoundType(type));
            if (n.value() != expected)
                QFAIL(qPrintable(QStringLiteral("%1/%2 under %3, type %4: %5, expected %6")
                                     .arg(k)
                                     .arg(den)
                                     .arg(multiplier)
                                     .arg(type)
                                     .arg(n.value())
                                     .arg(expected)));
        }
    }

    void fromString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("expected");

        const qint64 unchanged = 777;
        QTest::newRow("blanks around .5") << QStringLiteral("  .5 ") << kPlain << qint64(50);
        QTest::newRow("decimal comma") << QStringLiteral("1,25") << kPlain << qint64(125);
        QTest::newRow("two points") << QStringLiteral("1.2.3") << kPlain << unchanged;
        QTest::newRow("letters") << QStringLiteral("abc") << kPlain << unchanged;
        QTest::newRow("empty") << QString() << kPlain << unchanged;
        QTest::newRow("blank") << QStringLiteral("   ") << kPlain << unchanged;
        QTest::newRow("minus point") << QStringLiteral("-.5") << kPlain << unchanged;
        QTest::newRow("inner blank") << QStringLiteral("1 000") << kPlain << unchanged;
        QTest::newRow("exponent") << QStringLiteral("1e3") << kPlain << unchanged;
        QTest::newRow("integer") << QStringLiteral("12") << kPlain << qint64(1200);
        QTest::newRow("trailing point") << QStringLiteral("12.") << kPlain << qint64(1200);
        QTest::newRow("negative") << QStringLiteral("-1.279") << kPlain << qint64(-128);
        QTest::newRow("tie") << QStringLiteral("2.675") << kPlain << qint64(268);
        QTest::newRow("below tie") << QStringLiteral("2.6349") << kPlain << qint64(263);
        QTest::newRow("ext half up") << QStringLiteral("2.625") << 2 << qint64(263);
        QTest::newRow("ext down") << QStringLiteral("2.629") << 4 << qint64(262);
        QTest::newRow("ext up, negative") << QStringLiteral("-2,621") << 3 << qint64(-263);
    }
    void fromString()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(qint64, expected);
        if (type == kPlain) {
            FixNumber n(100u, qint64(777));
            n.setString(text);
            QCOMPARE(n.value(), expected);
            QCOMPARE(n.realMultiplier(), 100u);
            if (expected != 777)
                QCOMPARE(FixNumber(100u, text).value(), expected);
        } else {
            const ExtFixNumber n(100u, text, ExtFixNumber::ERoundType(type));
            QCOMPARE(n.value(), expected);
        }
    }

    void setAllFromString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<qint64>("value");

        // The number starts as 7 under multiplier 1000.
        QTest::newRow("decimal comma") << QStringLiteral("12,50") << true << 100u << qint64(1250);
        QTest::newRow("point") << QStringLiteral(" 12.50 ") << true << 100u << qint64(1250);
        QTest::newRow("empty") << QString() << true << 1u << qint64(0);
        QTest::newRow("negative fraction") << QStringLiteral("-0.5") << true << 10u << qint64(-5);
        QTest::newRow("integer") << QStringLiteral("42") << true << 1u << qint64(42);
        QTest::newRow("trailing point") << QStringLiteral("12.") << true << 1u << qint64(12);
        QTest::newRow("leading point") << QStringLiteral(".5") << true << 10u << qint64(5);
        QTest::newRow("nine decimals")
            << QStringLiteral("1.123456789") << true << 1000000000u << qint64(1123456789);
        QTest::newRow("smallest") << QStringLiteral("-92233720368547758.08") << true << 100u
                                  << kMin;
        QTest::newRow("two points") << QStringLiteral("1.2.3") << false << 1000u << qint64(7);
        QTest::newRow("ten decimals")
            << QStringLiteral("1.1234567891") << false << 1000u << qint64(7);
        QTest::newRow("letters") << QStringLiteral("abc") << false << 1u << qint64(0);
        QTest::newRow("too large")
            << QStringLiteral("99999999999999999999") << false << 1u << qint64(0);
        QTest::newRow("letters in fraction")
            << QStringLiteral("1.5x") << false << 100u << qint64(0);
    }
    void setAllFromString()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(uint, multiplier);
        QFETCH(qint64, value);
        FixNumber n(1000u, qint64(7));
        QCOMPARE(n.setAllFromString(text), ok);
        QCOMPARE(n.realMultiplier(), multiplier);
        QCOMPARE(n.value(), value);
    }

    // Writing a number and reading it back gives the same multiplier and value.
    void setAllFromStringRestoresToString()
    {
        QRandomGenerator rng(7);
        const qint64 extremes[] = {0, 1, -1, kMax, kMin};
        for (int i = 0; i < 20000; ++i) {
            const qint64 v = i < 5 ? extremes[i] : qint64(rng.generate64());
            const int d = rng.bounded(0, 10);
            FixNumber n(unsigned(power10(d)), v);
            const QChar point = rng.bounded(2) ? QLatin1Char('.') : QLatin1Char(',');
            const QString text = n.toString(point, QChar());
            FixNumber back(7u, qint64(3));
            QVERIFY2(back.setAllFromString(text), qPrintable(text));
            QCOMPARE(back.realMultiplier(), n.realMultiplier());
            QCOMPARE(back.value(), v);
        }
    }

    void round_data()
    {
        QTest::addColumn<uint>("from");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<uint>("to");
        QTest::addColumn<int>("type");
        QTest::addColumn<qint64>("expected");

        QTest::newRow("tie, even kept") << 1000u << qint64(12345) << 100u << kPlain << qint64(1234);
        QTest::newRow("tie, odd kept") << 1000u << qint64(12355) << 100u << kPlain << qint64(1236);
        QTest::newRow("up") << 1000u << qint64(12341) << 100u << 3 << qint64(1235);
        QTest::newRow("down") << 1000u << qint64(12341) << 100u << 4 << qint64(1234);
        QTest::newRow("half odd") << 1000u << qint64(12345) << 100u << 0 << qint64(1235);
        QTest::newRow("half up") << 1000u << qint64(12345) << 100u << 2 << qint64(1235);
        QTest::newRow("unknown type") << 1000u << qint64(12349) << 100u << 9 << qint64(1234);

        // The whole remainder decides, not its leading digit.
        QTest::newRow("1.2310") << 10000u << qint64(12310) << 100u << kPlain << qint64(123);
        QTest::newRow("0.0005 half up") << 10000u << qint64(5) << 100u << 2 << qint64(0);
        QTest::newRow("0.010") << 1000u << qint64(10) << 1u << kPlain << qint64(0);
        QTest::newRow("0.0050 half up") << 10000u << qint64(50) << 100u << 2 << qint64(1);
        QTest::newRow("0.0051") << 10000u << qint64(51) << 100u << kPlain << qint64(1);
        QTest::newRow("0.00001 up") << 100000u << qint64(1) << 100u << 3 << qint64(1);

        QTest::newRow("negative tie") << 1000u << qint64(-12355) << 100u << kPlain << qint64(-1236);
        QTest::newRow("negative half up") << 1000u << qint64(-12345) << 100u << 2 << qint64(-1235);
        QTest::newRow("negative up") << 1000u << qint64(-12341) << 100u << 3 << qint64(-1235);
        QTest::newRow("negative down") << 1000u << qint64(-12349) << 100u << 4 << qint64(-1234);

        QTest::newRow("same") << 100u << qint64(12345) << 100u << 3 << qint64(12345);
        QTest::newRow("larger") << 100u << qint64(125) << 10000u << kPlain << qint64(12500);
        QTest::newRow("larger negative") << 100u << qint64(-125) << 10000u << 3 << qint64(-12500);
        QTest::newRow("from bare value") << 0u << qint64(7) << 100u << kPlain << qint64(700);
        QTest::newRow("to bare value") << 100u << qint64(250) << 0u << kPlain << qint64(2);
        QTest::newRow("largest down")
            << 1000u << kMax << 10u << kPlain << qint64(92233720368547758);
        QTest::newRow("smallest down")
            << 1000u << kMin << 10u << kPlain << qint64(-92233720368547758);
        QTest::newRow("saturates") << 1u << kMax << 100u << kPlain << kMax;
        QTest::newRow("saturates negative") << 1u << kMin << 100u << kPlain << kMin;
    }
    void round()
    {
        QFETCH(uint, from);
        QFETCH(qint64, value);
        QFETCH(uint, to);
        QFETCH(int, type);
        QFETCH(qint64, expected);
        const FixNumber plain(from, value);
        const ExtFixNumber ext(from, value, ExtFixNumber::ERoundType(type));
        // Through the base, so the virtual round() of the dynamic type is the one tested.
        const FixNumber &number = type == kPlain ? plain : ext;
        const FixNumber r = number.round(to);
        QCOMPARE(r.realMultiplier(), to);
        QCOMPARE(r.value(), expected);
    }

    // round() against wide integer arithmetic, for any multipliers.
    void roundMatchesWideArithmetic()
    {
        QRandomGenerator rng(42);
        for (int i = 0; i < 50000; ++i) {
            const qint64 v = qint64(rng.generate64()) >> rng.bounded(0, 63);
            const bool powers = rng.bounded(2);
            const unsigned int from =
                powers ? unsigned(power10(rng.bounded(0, 10))) : rng.bounded(1u, 4000000000u);
            const unsigned int to =
                powers ? unsigned(power10(rng.bounded(0, 10))) : rng.bounded(1u, 4000000000u);
            const int type = rng.bounded(0, 6);
            const Int128 exact = roundedQuotient(Int128(v) * to, from, type);
            const qint64 expected = exact > kMax ? kMax : exact < kMin ? kMin : qint64(exact);
            const FixNumber r = ExtFixNumber(from, v, ExtFixNumber::ERoundType(type)).round(to);
            if (r.value() != expected)
                QFAIL(qPrintable(QStringLiteral("%1 from %2 to %3, type %4: %5, expected %6")
                                     .arg(v)
                                     .arg(from)
                                     .arg(to)
                                     .arg(type)
                                     .arg(r.value())
                                     .arg(expected)));
        }
    }

    void toString_data()
    {
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<QChar>("point");
        QTest::addColumn<QChar>("separator");
        QTest::addColumn<QString>("expected");

        const QChar comma(QLatin1Char(','));
        const QChar dot(QLatin1Char('.'));
        const QChar blank(QLatin1Char(' '));
        QTest::newRow("groups") << 100u << qint64(-123456789) << comma << blank
                                << QStringLiteral("-1 234 567,89");
        QTest::newRow("small fraction")
            << 1000u << qint64(5) << comma << blank << QStringLiteral("0,005");
        QTest::newRow("multiplier 1")
            << 1u << qint64(1000000) << comma << blank << QStringLiteral("1000000");
        QTest::newRow("multiplier 1, negative")
            << 1u << qint64(-5) << comma << blank << QStringLiteral("-5");
        QTest::newRow("multiplier 0")
            << 0u << qint64(-42) << comma << blank << QStringLiteral("-42");
        QTest::newRow("no separator")
            << 100u << qint64(123456789) << dot << QChar() << QStringLiteral("1234567.89");
        QTest::newRow("zero groups")
            << 100u << qint64(100000000) << comma << dot << QStringLiteral("1.000.000,00");
        QTest::newRow("exact thousand")
            << 1u << qint64(1000) << dot << blank << QStringLiteral("1000");
        QTest::newRow("negative fraction only")
            << 100u << qint64(-5) << dot << QChar() << QStringLiteral("-0.05");
        QTest::newRow("smallest") << 100u << kMin << dot << blank
                                  << QStringLiteral("-92 233 720 368 547 758.08");
        QTest::newRow("largest") << 1000000000u << kMax << dot << QChar()
                                 << QStringLiteral("9223372036.854775807");
    }
    void toString()
    {
        QFETCH(uint, multiplier);
        QFETCH(qint64, value);
        QFETCH(QChar, point);
        QFETCH(QChar, separator);
        QFETCH(QString, expected);
        QCOMPARE(FixNumber(multiplier, value).toString(point, separator), expected);
    }

    void toStringUsesDefaultLocale()
    {
        const FixNumber n(100u, qint64(123456));
        QCOMPARE(n.toString(), QStringLiteral("1234.56"));
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        const QString russian = n.toString();
        QLocale::setDefault(QLocale::c());
        QCOMPARE(russian, QStringLiteral("1234,56"));
    }

    void toDouble_data()
    {
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("cents") << 100u << qint64(-12345) << -123.45;
        QTest::newRow("multiplier 1") << 1u << qint64(7) << 7.0;
        QTest::newRow("multiplier 0") << 0u << qint64(7) << 7.0;
    }
    void toDouble()
    {
        QFETCH(uint, multiplier);
        QFETCH(qint64, value);
        QFETCH(double, expected);
        QCOMPARE(FixNumber(multiplier, value).toDouble(), expected);
    }

    void decimals_data()
    {
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<int>("decimals");
        QTest::newRow("100") << 100u << 2;
        QTest::newRow("1000") << 1000u << 3;
        QTest::newRow("10") << 10u << 1;
        QTest::newRow("1") << 1u << 0;
        QTest::newRow("0") << 0u << 0;
        QTest::newRow("10^9") << 1000000000u << 9;
    }
    void decimals()
    {
        QFETCH(uint, multiplier);
        QFETCH(int, decimals);
        QCOMPARE(FixNumber(multiplier).decimals(), decimals);
    }

    void setDecimal_data()
    {
        QTest::addColumn<int>("d");
        QTest::addColumn<uint>("multiplier");
        QTest::newRow("3") << 3 << 1000u;
        QTest::newRow("0") << 0 << 1u;
        QTest::newRow("9") << 9 << 1000000000u;
        QTest::newRow("negative keeps") << -1 << 100u;
        QTest::newRow("10 keeps") << 10 << 100u;
    }
    void setDecimal()
    {
        QFETCH(int, d);
        QFETCH(uint, multiplier);
        FixNumber n(100u, qint64(42));
        n.setDecimal(d);
        QCOMPARE(n.realMultiplier(), multiplier);
        QCOMPARE(n.value(), 42);
    }

    void maps()
    {
        const FixNumber n(100u, qint64(-5));
        QVariantMap expected;
        expected.insert(QStringLiteral("rm"), QStringLiteral("100"));
        expected.insert(QStringLiteral("value"), QStringLiteral("-5"));
        QCOMPARE(n.toMap(), expected);

        FixNumber back(7u, qint64(3));
        back.setMap(n.toMap());
        QCOMPARE(back.realMultiplier(), 100u);
        QCOMPARE(back.value(), -5);

        const FixNumber extreme(1000000000u, kMin);
        back.setMap(extreme.toMap());
        QCOMPARE(back.realMultiplier(), 1000000000u);
        QCOMPARE(back.value(), kMin);

        back.setMap(QVariantMap());
        QCOMPARE(back.realMultiplier(), 0u);
        QCOMPARE(back.value(), 0);

        // The round type travels outside the map.
        ExtFixNumber ext(100u, qint64(1), ExtFixNumber::RoundUp);
        QCOMPARE(ext.toMap(), FixNumber(100u, qint64(1)).toMap());
        ext.setMap(n.toMap());
        QCOMPARE(ext.roundType(), ExtFixNumber::RoundUp);
        QCOMPARE(ext.value(), -5);
    }

    void comparisons_data()
    {
        QTest::addColumn<uint>("am");
        QTest::addColumn<qint64>("av");
        QTest::addColumn<uint>("bm");
        QTest::addColumn<qint64>("bv");
        QTest::addColumn<bool>("equal");
        QTest::addColumn<bool>("less");
        QTest::addColumn<bool>("greater");

        QTest::newRow("1.5 == 1.50")
            << 10u << qint64(15) << 100u << qint64(150) << true << false << false;
        QTest::newRow("1.5 < 1.51")
            << 10u << qint64(15) << 100u << qint64(151) << false << true << false;
        QTest::newRow("same multiplier")
            << 100u << qint64(3) << 100u << qint64(2) << false << false << true;
        QTest::newRow("negative across")
            << 100u << qint64(-150) << 10u << qint64(-14) << false << true << false;
        QTest::newRow("zero across")
            << 100u << qint64(0) << 1000u << qint64(0) << true << false << false;
        // Large amounts stay apart by a single cent.
        QTest::newRow("large, one cent") << 100u << qint64(10000000000000) << 100u
                                         << qint64(10000000000001) << false << true << false;
        QTest::newRow("ten billion, one cent across")
            << 1000u << qint64(10000000000010) << 100u << qint64(1000000000002) << false << true
            << false;
        QTest::newRow("large across") << 1000u << qint64(1000000000000000000) << 100u
                                      << qint64(100000000000000001) << false << true << false;
        QTest::newRow("extremes across")
            << 1u << kMax << 1000000000u << kMin << false << false << true;
        QTest::newRow("absent below scaled")
            << 0u << qint64(5) << 100u << qint64(-1000) << false << true << false;
        QTest::newRow("scaled above absent")
            << 100u << qint64(-1000) << 0u << qint64(5) << false << false << true;
        QTest::newRow("both absent")
            << 0u << qint64(5) << 0u << qint64(6) << false << true << false;
    }
    void comparisons()
    {
        QFETCH(uint, am);
        QFETCH(qint64, av);
        QFETCH(uint, bm);
        QFETCH(qint64, bv);
        QFETCH(bool, equal);
        QFETCH(bool, less);
        QFETCH(bool, greater);
        const FixNumber a(am, av);
        const FixNumber b(bm, bv);
        QCOMPARE(a == b, equal);
        QCOMPARE(a != b, !equal);
        QCOMPARE(a < b, less);
        QCOMPARE(a > b, greater);
        QCOMPARE(a <= b, equal || less);
        QCOMPARE(a >= b, equal || greater);
        QCOMPARE(b == a, equal);
        // Round types do not take part.
        const ExtFixNumber ea(am, av, ExtFixNumber::RoundUp);
        const ExtFixNumber eb(bm, bv, ExtFixNumber::RoundDown);
        QCOMPARE(ea == eb, equal);
        QCOMPARE(ea < eb, less);
    }

    void arithmetic_data()
    {
        QTest::addColumn<uint>("am");
        QTest::addColumn<qint64>("av");
        QTest::addColumn<uint>("bm");
        QTest::addColumn<qint64>("bv");
        QTest::addColumn<uint>("rm");
        QTest::addColumn<qint64>("sum");
        QTest::addColumn<qint64>("difference");

        QTest::newRow("1.5 + 0.25")
            << 10u << qint64(15) << 100u << qint64(25) << 100u << qint64(175) << qint64(125);
        QTest::newRow("0.25 + 1.5")
            << 100u << qint64(25) << 10u << qint64(15) << 100u << qint64(175) << qint64(-125);
        QTest::newRow("same multiplier")
            << 100u << qint64(-7) << 100u << qint64(3) << 100u << qint64(-4) << qint64(-10);
        QTest::newRow("absent left")
            << 0u << qint64(5) << 100u << qint64(25) << 100u << qint64(25) << qint64(-25);
        QTest::newRow("absent right")
            << 100u << qint64(25) << 0u << qint64(5) << 100u << qint64(25) << qint64(25);
        QTest::newRow("wraps") << 1u << kMax << 1u << qint64(-1) << 1u << kMax - 1 << kMin;
    }
    void arithmetic()
    {
        QFETCH(uint, am);
        QFETCH(qint64, av);
        QFETCH(uint, bm);
        QFETCH(qint64, bv);
        QFETCH(uint, rm);
        QFETCH(qint64, sum);
        QFETCH(qint64, difference);
        const FixNumber a(am, av);
        const FixNumber b(bm, bv);
        QCOMPARE((a + b).realMultiplier(), rm);
        QCOMPARE((a + b).value(), sum);
        QCOMPARE((a - b).realMultiplier(), rm);
        QCOMPARE((a - b).value(), difference);

        FixNumber c = a;
        c += b;
        QCOMPARE(c.realMultiplier(), rm);
        QCOMPARE(c.value(), sum);
        c = a;
        c -= b;
        QCOMPARE(c.realMultiplier(), rm);
        QCOMPARE(c.value(), difference);

        // The left operand's round type stays.
        const ExtFixNumber ea(am, av, ExtFixNumber::RoundDown);
        const ExtFixNumber s = ea + b;
        QCOMPARE(s.roundType(), ExtFixNumber::RoundDown);
        QCOMPARE(s.value(), sum);
        const ExtFixNumber d = ea - b;
        QCOMPARE(d.roundType(), ExtFixNumber::RoundDown);
        QCOMPARE(d.value(), difference);
        ExtFixNumber e = ea;
        e -= b;
        QCOMPARE(e.roundType(), ExtFixNumber::RoundDown);
        QCOMPARE(e.value(), difference);
    }

    void absentOperands()
    {
        // Two bare values add up; assigning sums leave the left one alone.
        const FixNumber a(0u, qint64(2));
        const FixNumber b(0u, qint64(3));
        QCOMPARE((a + b).realMultiplier(), 0u);
        QCOMPARE((a + b).value(), 5);
        FixNumber c = a;
        c += b;
        QCOMPARE(c.value(), 2);
        c -= b;
        QCOMPARE(c.value(), 2);
    }

    // Sums, differences and order against exact integer arithmetic.
    void arithmeticMatchesIntegers()
    {
        QRandomGenerator rng(1210);
        for (int i = 0; i < 50000; ++i) {
            const int ad = rng.bounded(0, 7);
            const int bd = rng.bounded(0, 7);
            const qint64 av = randomIn(rng, -Q_INT64_C(1000000000000), Q_INT64_C(1000000000000));
            const qint64 bv = randomIn(rng, -Q_INT64_C(1000000000000), Q_INT64_C(1000000000000));
            const FixNumber a(unsigned(power10(ad)), av);
            const FixNumber b(unsigned(power10(bd)), bv);
            const int md = qMax(ad, bd);
            const qint64 as = av * power10(md - ad);
            const qint64 bs = bv * power10(md - bd);

            const FixNumber sum = a + b;
            const FixNumber diff = a - b;
            QCOMPARE(sum.realMultiplier(), unsigned(power10(md)));
            QCOMPARE(sum.value(), as + bs);
            QCOMPARE(diff.value(), as - bs);
            FixNumber acc = a;
            acc += b;
            QCOMPARE(acc.value(), as + bs);
            acc -= b;
            acc -= b;
            QCOMPARE(acc.value(), as - bs);
            QCOMPARE(a < b, as < bs);
            QCOMPARE(a > b, as > bs);
            QCOMPARE(a == b, as == bs);
            // A number equals itself under a larger multiplier.
            if (ad < 6)
                QVERIFY(a == FixNumber(unsigned(power10(ad + 1)), av * 10));
        }
    }
};

QTEST_GUILESS_MAIN(TestFixNumber)
#include "tst_fixnumber.moc"
