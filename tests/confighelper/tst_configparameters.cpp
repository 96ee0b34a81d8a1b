// SPDX-License-Identifier: MIT
#include <ravixcore/confighelper/configparameters.h>
#include <ravixcore/confighelper/configparametresgroup.h>

#include "paramtools.h"

#include <QtTest>

#include <cmath>
#include <limits>

using namespace ravix;
using paramtools::s;
using paramtools::vmap;

namespace {

using IntParam = IntConfigParameter<int>;
using LongParam = IntConfigParameter<qlonglong>;

const double DMAX = std::numeric_limits<double>::max();
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();
const qlonglong LLMIN = std::numeric_limits<qlonglong>::min();
const qlonglong LLMAX = std::numeric_limits<qlonglong>::max();
const int IMIN = std::numeric_limits<int>::min();
const int IMAX = std::numeric_limits<int>::max();

template <typename P> ParamPtr ptr(const P &p)
{
    return ParamPtr(new P(p));
}

ParamPtr intParam(const QString &name, int value, QPair<int, int> range = IntParam::defaultRange(),
                  const QList<int> &allowed = {})
{
    IntParam p(name, range, value);
    p.setEnumerated(allowed);
    return ptr(p);
}

ParamPtr longParam(const QString &name, qlonglong value,
                   QPair<qlonglong, qlonglong> range = LongParam::defaultRange(),
                   const QList<qlonglong> &allowed = {})
{
    LongParam p(name, range, value);
    p.setEnumerated(allowed);
    return ptr(p);
}

ParamPtr doubleParam(const QString &name, double value,
                     QPair<double, double> range = DoubleConfigParameter::defaultRange())
{
    return ptr(DoubleConfigParameter(name, range, value));
}

ParamPtr stringParam(const QString &name, const QString &value, const QStringList &allowed = {})
{
    return ptr(StringConfigParameter(name, allowed, value));
}

ParamPtr bytesParam(const QString &name, const QByteArray &value)
{
    return ptr(BytesConfigParameter(name, value));
}

ParamPtr keyValParam(const QString &name, const QVariantMap &choices, const QString &key)
{
    return ptr(KeyValConfigParameter(name, choices, key));
}

// A parameter of the class of \a p, named like it, with every other member set to something the
// next parseMap() has to overwrite.
ParamPtr stale(const AbstractConfigParameter &p)
{
    const QString n = p.name();
    if (dynamic_cast<const IntParam *>(&p))
        return intParam(n, 77, {5, 99}, {77, 78});
    if (dynamic_cast<const LongParam *>(&p))
        return longParam(n, 77, {5, 99}, {77, 78});
    if (dynamic_cast<const DoubleConfigParameter *>(&p))
        return doubleParam(n, 7.5, {1.0, 9.0});
    if (dynamic_cast<const StringConfigParameter *>(&p))
        return stringParam(n, QStringLiteral("stale"), {QStringLiteral("stale")});
    if (dynamic_cast<const BytesConfigParameter *>(&p))
        return bytesParam(n, "stale");
    if (dynamic_cast<const KeyValConfigParameter *>(&p))
        return keyValParam(n, {{QStringLiteral("s"), 1}}, QStringLiteral("s"));
    return {};
}

ParamPtr parsed(ParamPtr target, const QVariantMap &map)
{
    target->parseMap(map);
    return target;
}

QVariantMap rangeMap(const QVariant &from, const QVariant &to)
{
    return vmap({{QStringLiteral("f"), from}, {QStringLiteral("t"), to}});
}

} // namespace

class TestConfigParameters : public QObject
{
    Q_OBJECT

private slots:
    void conversions_data();
    void conversions();
    void toMap_data();
    void toMap();
    void parseMap_data();
    void parseMap();
    void validity_data();
    void validity();
    void equality_data();
    void equality();
    void mismatchedType_data();
    void mismatchedType();
    void rangeIsDefault();
    void cloneIsIndependent_data();
    void cloneIsIndependent();
    void accessors();
};

void TestConfigParameters::conversions_data()
{
    QTest::addColumn<ParamPtr>("param");
    QTest::addColumn<int>("toInt");
    QTest::addColumn<bool>("intOk");
    QTest::addColumn<qlonglong>("toLongLong");
    QTest::addColumn<bool>("longOk");
    QTest::addColumn<double>("toDouble");
    QTest::addColumn<bool>("doubleOk");
    QTest::addColumn<QString>("toString"); // a null QString here means a null result
    QTest::addColumn<QByteArray>("toByteArray");
    QTest::addColumn<QVariant>("variant");

    const QString n = QStringLiteral("p");
    QTest::newRow("int") << intParam(n, -42) << -42 << true << -42LL << true << -42.0 << true
                         << s("-42") << QByteArray("-42") << QVariant(-42);
    QTest::newRow("int out of its own range still converts")
        << intParam(n, 50, {1, 10}) << 50 << true << 50LL << true << 50.0 << true << s("50")
        << QByteArray("50") << QVariant(50);
    QTest::newRow("longlong 2^32")
        << longParam(n, 4294967296LL) << 0 << false << 4294967296LL << true << 4294967296.0 << true
        << s("4294967296") << QByteArray("4294967296") << QVariant(4294967296LL);
    QTest::newRow("longlong 2^33+1 keeps low bits")
        << longParam(n, 8589934593LL) << 1 << false << 8589934593LL << true << 8589934593.0 << true
        << s("8589934593") << QByteArray("8589934593") << QVariant(8589934593LL);
    QTest::newRow("longlong -5") << longParam(n, -5) << -5 << true << -5LL << true << -5.0 << true
                                 << s("-5") << QByteArray("-5") << QVariant(qlonglong(-5));
    QTest::newRow("longlong int min")
        << longParam(n, IMIN) << IMIN << true << qlonglong(IMIN) << true << double(IMIN) << true
        << s("-2147483648") << QByteArray("-2147483648") << QVariant(qlonglong(IMIN));
    QTest::newRow("longlong min") << longParam(n, LLMIN) << 0 << false << LLMIN << true
                                  << double(LLMIN) << true << s("-9223372036854775808")
                                  << QByteArray("-9223372036854775808") << QVariant(LLMIN);
    QTest::newRow("string number")
        << stringParam(n, s("123")) << 123 << true << 123LL << true << 123.0 << true << s("123")
        << QByteArray("123") << QVariant(s("123"));
    QTest::newRow("string fraction")
        << stringParam(n, s("1.5")) << 0 << false << 0LL << false << 1.5 << true << s("1.5")
        << QByteArray("1.5") << QVariant(s("1.5"));
    QTest::newRow("string too big for int")
        << stringParam(n, s("4294967296")) << 0 << false << 4294967296LL << true << 4294967296.0
        << true << s("4294967296") << QByteArray("4294967296") << QVariant(s("4294967296"));
    QTest::newRow("string text as UTF-8")
        << stringParam(n, s("Grüße")) << 0 << false << 0LL << false << 0.0 << false << s("Grüße")
        << QByteArray("Gr\xc3\xbc\xc3\x9f"
                      "e")
        << QVariant(s("Grüße"));
    QTest::newRow("bytes number") << bytesParam(n, "77") << 77 << true << 77LL << true << 77.0
                                  << true << s("Nzc=") << QByteArray("77")
                                  << QVariant(QByteArray("Nzc="));
    QTest::newRow("bytes binary") << bytesParam(n, QByteArray("\x00\xff", 2)) << 0 << false << 0LL
                                  << false << 0.0 << false << s("AP8=") << QByteArray("\x00\xff", 2)
                                  << QVariant(QByteArray("AP8="));
    QTest::newRow("double 3.9") << doubleParam(n, 3.9) << 3 << false << 3LL << false << 3.9 << true
                                << s("3.9") << QByteArray("3.9") << QVariant(3.9);
    QTest::newRow("double -3.9") << doubleParam(n, -3.9) << -3 << false << -3LL << false << -3.9
                                 << true << s("-3.9") << QByteArray("-3.9") << QVariant(-3.9);
    QTest::newRow("double without fraction")
        << doubleParam(n, 5.0) << 5 << false << 5LL << false << 5.0 << true << s("5")
        << QByteArray("5") << QVariant(5.0);
    QTest::newRow("double 1234567.0")
        << doubleParam(n, 1234567.0) << 1234567 << false << 1234567LL << false << 1234567.0 << true
        << s("1.23457e+06") << QByteArray("1.23457e+06") << QVariant(1234567.0);
    // Doubles beyond the integer types saturate instead of wrapping; NaN gives 0.
    QTest::newRow("double 1e300") << doubleParam(n, 1e300) << IMAX << false << LLMAX << false
                                  << 1e300 << true << s("1e+300") << QByteArray("1e+300")
                                  << QVariant(1e300);
    QTest::newRow("double -1e300")
        << doubleParam(n, -1e300) << IMIN << false << LLMIN << false << -1e300 << true
        << s("-1e+300") << QByteArray("-1e+300") << QVariant(-1e300);
    QTest::newRow("double NaN") << doubleParam(n, NaN) << 0 << false << 0LL << false << NaN << true
                                << s("nan") << QByteArray("nan") << QVariant(NaN);
    const QVariantMap choices = vmap({{s("a"), s("12")}, {s("b"), s("x")}, {s("c"), 4.0}});
    QTest::newRow("keyval selects a number text")
        << keyValParam(n, choices, s("a")) << 12 << true << 12LL << true << 12.0 << true << s("12")
        << QByteArray("12") << QVariant(s("12"));
    QTest::newRow("keyval selects text")
        << keyValParam(n, choices, s("b")) << 0 << false << 0LL << false << 0.0 << false << s("x")
        << QByteArray("x") << QVariant(s("x"));
    QTest::newRow("keyval selects a double")
        << keyValParam(n, choices, s("c")) << 4 << true << 4LL << true << 4.0 << true << s("4")
        << QByteArray("4") << QVariant(4.0);
    QTest::newRow("keyval key not in map")
        << keyValParam(n, choices, s("zz")) << 0 << false << 0LL << false << 0.0 << false
        << QString() << QByteArray() << QVariant();

    // Invalid parameters give zero and null whatever they hold.
    QTest::newRow("int without name") << intParam(QString(), 5) << 0 << false << 0LL << false << 0.0
                                      << false << QString() << QByteArray() << QVariant();
    QTest::newRow("string without name")
        << stringParam(QString(), s("5")) << 0 << false << 0LL << false << 0.0 << false << QString()
        << QByteArray() << QVariant();
    QTest::newRow("int parsed from a map without type")
        << parsed(intParam(n, 5), vmap({{s("val"), s("5")}})) << 0 << false << 0LL << false << 0.0
        << false << QString() << QByteArray() << QVariant();
    QTest::newRow("int parsed from a longlong map")
        << parsed(intParam(n, 0), vmap({{s("type"), 3}, {s("val"), s("5")}})) << 0 << false << 0LL
        << false << 0.0 << false << QString() << QByteArray() << QVariant();
    QTest::newRow("keyval with empty map")
        << keyValParam(n, {}, s("a")) << 0 << false << 0LL << false << 0.0 << false << QString()
        << QByteArray() << QVariant();
    QTest::newRow("double without name")
        << doubleParam(QString(), 2.0) << 0 << false << 0LL << false << 0.0 << false << QString()
        << QByteArray() << QVariant();
    QTest::newRow("bytes without name") << bytesParam(QString(), "1") << 0 << false << 0LL << false
                                        << 0.0 << false << QString() << QByteArray() << QVariant();

    ConfigParametresGroup group(n);
    group.addParameter(intParam(s("m"), 3));
    QTest::newRow("group") << ptr(group) << 0 << false << 0LL << false << 0.0 << false << QString()
                           << QByteArray() << QVariant();
}

void TestConfigParameters::conversions()
{
    QFETCH(ParamPtr, param);
    QFETCH(int, toInt);
    QFETCH(bool, intOk);
    QFETCH(qlonglong, toLongLong);
    QFETCH(bool, longOk);
    QFETCH(double, toDouble);
    QFETCH(bool, doubleOk);
    QFETCH(QString, toString);
    QFETCH(QByteArray, toByteArray);
    QFETCH(QVariant, variant);

    // The flag starts at the opposite value so that a conversion that forgets it shows.
    bool ok = !intOk;
    QCOMPARE(param->toInt(&ok), toInt);
    QCOMPARE(ok, intOk);
    QCOMPARE(param->toInt(), toInt);

    ok = !longOk;
    QCOMPARE(param->toLongLong(&ok), toLongLong);
    QCOMPARE(ok, longOk);
    QCOMPARE(param->toLongLong(), toLongLong);

    ok = !doubleOk;
    QCOMPARE(param->toDouble(&ok), toDouble);
    QCOMPARE(ok, doubleOk);

    QCOMPARE(param->toString(), toString);
    QCOMPARE(param->toString().isNull(), toString.isNull());
    QCOMPARE(param->toByteArray(), toByteArray);
    QCOMPARE(param->toByteArray().isNull(), toByteArray.isNull());
    RAVIX_COMPARE_STRICT(param->valueToVariant(), variant);
}

void TestConfigParameters::toMap_data()
{
    QTest::addColumn<ParamPtr>("param");
    QTest::addColumn<QVariantMap>("expected");

    const QString n = s("p");
    const QString T = s("type"), V = s("val"), R = s("range"), E = s("enum"), K = s("key");

    QTest::newRow("int default") << intParam(n, 0) << vmap({{T, 2}, {V, s("0")}});
    QTest::newRow("int range and allowed values")
        << intParam(n, -3, {-10, 10}, {5, -3, 1})
        << vmap({{T, 2},
                 {V, s("-3")},
                 {R, rangeMap(s("-10"), s("10"))},
                 {E, QVariantList{s("5"), s("-3"), s("1")}}});
    QTest::newRow("int range default only at one end")
        << intParam(n, 1, {IMIN, 10})
        << vmap({{T, 2}, {V, s("1")}, {R, rangeMap(s("-2147483648"), s("10"))}});
    QTest::newRow("longlong default")
        << longParam(n, LLMAX) << vmap({{T, 3}, {V, s("9223372036854775807")}});
    QTest::newRow("longlong with the int range")
        << longParam(n, 1, {IMIN, IMAX})
        << vmap({{T, 3}, {V, s("1")}, {R, rangeMap(s("-2147483648"), s("2147483647"))}});
    QTest::newRow("string empty") << stringParam(n, QString()) << vmap({{T, 4}});
    QTest::newRow("string with allowed values")
        << stringParam(n, s("on"), {s("on"), s("off")})
        << vmap({{T, 4}, {V, s("on")}, {E, QVariantList{s("on"), s("off")}}});
    QTest::newRow("bytes empty") << bytesParam(n, QByteArray()) << vmap({{T, 5}});
    QTest::newRow("bytes as Base64")
        << bytesParam(n, QByteArray("\x00\x01\xfe", 3)) << vmap({{T, 5}, {V, s("AAH+")}});
    QTest::newRow("double default") << doubleParam(n, 0.0) << vmap({{T, 6}, {V, 0.0}});
    QTest::newRow("double range") << doubleParam(n, 0.5, {0.0, 1.0})
                                  << vmap({{T, 6}, {V, 0.5}, {R, rangeMap(0.0, 1.0)}});
    QTest::newRow("keyval empty") << ptr(KeyValConfigParameter(n)) << vmap({{T, 7}});
    QTest::newRow("keyval") << keyValParam(n, {{s("a"), 1}, {s("b"), s("two")}}, s("b"))
                            << vmap({{T, 7},
                                     {K, s("b")},
                                     {E, vmap({{s("a"), 1}, {s("b"), s("two")}})}});
    QTest::newRow("invalid parameter still writes")
        << intParam(QString(), 4) << vmap({{T, 2}, {V, s("4")}});
}

void TestConfigParameters::toMap()
{
    QFETCH(ParamPtr, param);
    QFETCH(QVariantMap, expected);

    const QVariantMap written = param->toMap();
    RAVIX_COMPARE_STRICT(written, expected);

    // Reading the map back into a parameter full of other values restores every member.
    ParamPtr back = stale(*param);
    back->parseMap(written);
    RAVIX_COMPARE_FIELDS(*back, *param);
}

void TestConfigParameters::parseMap_data()
{
    QTest::addColumn<ParamPtr>("target");
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<ParamPtr>("expected");

    const QString n = s("p");
    const QString T = s("type"), V = s("val"), R = s("range"), E = s("enum"), K = s("key");

    QTest::newRow("int missing keys restore defaults")
        << intParam(n, 7, {1, 9}, {7}) << vmap({{T, 2}}) << intParam(n, 0);
    QTest::newRow("int range holding only t")
        << intParam(n, 0) << vmap({{T, 2}, {V, s("5")}, {R, vmap({{s("t"), s("10")}})}})
        << intParam(n, 5, {0, 10});
    QTest::newRow("int range that is no map")
        << intParam(n, 0) << vmap({{T, 2}, {V, s("5")}, {R, s("junk")}}) << intParam(n, 5, {0, 0});
    QTest::newRow("int non-numeric text")
        << intParam(n, 3) << vmap({{T, 2}, {V, s("abc")}}) << intParam(n, 0);
    // The variant's own conversion to int keeps the low 32 bits of an oversized number.
    QTest::newRow("int value too big for type 2")
        << intParam(n, 3) << vmap({{T, 2}, {V, s("4294967297")}}) << intParam(n, 1);
    QTest::newRow("int allowed values in order, junk as 0")
        << intParam(n, 0) << vmap({{T, 2}, {E, QVariantList{s("3"), s("x"), 1}}})
        << intParam(n, 0, IntParam::defaultRange(), {3, 0, 1});
    QTest::newRow("longlong extremes") << longParam(n, 0)
                                       << vmap({{T, 3},
                                                {V, s("-9223372036854775808")},
                                                {R, rangeMap(s("-1"), s("9223372036854775807"))}})
                                       << longParam(n, LLMIN, {-1, LLMAX});
    QTest::newRow("string resets allowed values")
        << stringParam(n, s("a"), {s("a")}) << vmap({{T, 4}, {V, s("b")}})
        << stringParam(n, s("b"));
    QTest::newRow("string allowed values")
        << stringParam(n, QString()) << vmap({{T, 4}, {E, QVariantList{s("x"), 5}}})
        << stringParam(n, QString(), {s("x"), s("5")});
    QTest::newRow("bytes without val empties")
        << bytesParam(n, "old") << vmap({{T, 5}}) << bytesParam(n, QByteArray());
    QTest::newRow("bytes from Base64") << bytesParam(n, "old") << vmap({{T, 5}, {V, s("AAH+")}})
                                       << bytesParam(n, QByteArray("\x00\x01\xfe", 3));
    QTest::newRow("double range holding only f")
        << doubleParam(n, 1.0) << vmap({{T, 6}, {V, 2.5}, {R, vmap({{s("f"), -1.5}})}})
        << doubleParam(n, 2.5, {-1.5, 0.0});
    QTest::newRow("double from text")
        << doubleParam(n, 1.0, {0, 1}) << vmap({{T, 6}, {V, s("0.25")}}) << doubleParam(n, 0.25);
    QTest::newRow("double without val")
        << doubleParam(n, 1.0) << vmap({{T, 6}}) << doubleParam(n, 0.0);
    QTest::newRow("keyval without enum")
        << keyValParam(n, {{s("a"), 1}}, s("a")) << vmap({{T, 7}, {K, s("b")}})
        << keyValParam(n, {}, s("b"));
    QTest::newRow("keyval full") << ptr(KeyValConfigParameter(n))
                                 << vmap({{T, 7}, {K, s("b")}, {E, vmap({{s("b"), 2}})}})
                                 << keyValParam(n, {{s("b"), 2}}, s("b"));
}

void TestConfigParameters::parseMap()
{
    QFETCH(ParamPtr, target);
    QFETCH(QVariantMap, map);
    QFETCH(ParamPtr, expected);

    target->parseMap(map);
    RAVIX_COMPARE_FIELDS(*target, *expected);
    // Parsing the same map again gives the same object.
    target->parseMap(map);
    RAVIX_COMPARE_FIELDS(*target, *expected);
}

void TestConfigParameters::mismatchedType_data()
{
    QTest::addColumn<QVariantMap>("map");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");

    // Type 3 read into the int class: the numbers go through qlonglong and are cut to 32 bits.
    QTest::newRow("type 3") << vmap({{s("type"), 3},
                                     {s("val"), s("4294967297")},
                                     {s("range"), rangeMap(s("4294967296"), s("4294967306"))}})
                            << 3 << 1 << 0 << 10;
    // Without a type the value is not read at all.
    QTest::newRow("no type") << vmap({{s("val"), s("4")}}) << 0 << 0 << IMIN << IMAX;
    QTest::newRow("type 4") << vmap({{s("type"), 4}, {s("val"), s("4")}}) << 4 << 0 << IMIN << IMAX;
}

void TestConfigParameters::mismatchedType()
{
    QFETCH(QVariantMap, map);
    QFETCH(int, type);
    QFETCH(int, value);
    QFETCH(int, lower);
    QFETCH(int, upper);

    IntParam p(s("p"), 99);
    p.parseMap(map);
    QCOMPARE(int(p.type()), type);
    QCOMPARE(p.value(), value);
    QCOMPARE(p.range(), qMakePair(lower, upper));
    QVERIFY(!p.isValid());
    QVERIFY(!p.valueIsValid());
    // The default range is judged by the tag, so a mismatched tag never has one.
    QVERIFY(!p.rangeIsDefault());
}

void TestConfigParameters::validity_data()
{
    QTest::addColumn<ParamPtr>("param");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("valueValid");

    const QString n = s("p");
    QTest::newRow("int at upper bound") << intParam(n, 10, {1, 10}) << true << true;
    QTest::newRow("int at lower bound") << intParam(n, 1, {1, 10}) << true << true;
    QTest::newRow("int above range") << intParam(n, 11, {1, 10}) << true << false;
    QTest::newRow("int below range") << intParam(n, 0, {1, 10}) << true << false;
    QTest::newRow("int in range, not allowed")
        << intParam(n, 2, {1, 10}, {1, 3, 5}) << true << false;
    QTest::newRow("int allowed") << intParam(n, 3, {1, 10}, {1, 3, 5}) << true << true;
    QTest::newRow("int allowed but out of range")
        << intParam(n, 20, {1, 10}, {20}) << true << false;
    QTest::newRow("int reversed range") << intParam(n, 5, {10, 1}) << true << false;
    QTest::newRow("int without name") << intParam(QString(), 5) << false << false;
    QTest::newRow("longlong extreme") << longParam(n, LLMAX) << true << true;
    QTest::newRow("longlong above range") << longParam(n, 4294967296LL, {0, IMAX}) << true << false;
    QTest::newRow("string any value") << stringParam(n, s("whatever")) << true << true;
    QTest::newRow("string empty value") << stringParam(n, QString()) << true << true;
    QTest::newRow("string allowed regardless of case")
        << stringParam(n, s("ON"), {s("on"), s("off")}) << true << true;
    QTest::newRow("string not allowed")
        << stringParam(n, s("maybe"), {s("on"), s("off")}) << true << false;
    QTest::newRow("string without name") << stringParam(QString(), s("x")) << false << false;
    QTest::newRow("bytes empty value") << bytesParam(n, QByteArray()) << true << true;
    QTest::newRow("bytes without name") << bytesParam(QString(), "x") << false << false;
    QTest::newRow("double in range") << doubleParam(n, 0.5, {0.0, 1.0}) << true << true;
    QTest::newRow("double at bound") << doubleParam(n, 1.0, {0.0, 1.0}) << true << true;
    QTest::newRow("double above range") << doubleParam(n, 1.0000001, {0.0, 1.0}) << true << false;
    QTest::newRow("double NaN value") << doubleParam(n, NaN, {0.0, 1.0}) << true << false;
    QTest::newRow("double NaN value, default range") << doubleParam(n, NaN) << true << false;
    QTest::newRow("double NaN bound") << doubleParam(n, 0.5, {NaN, 1.0}) << true << false;
    QTest::newRow("double infinity, default range") << doubleParam(n, INF) << true << false;
    QTest::newRow("double without name") << doubleParam(QString(), 0.5) << false << false;
    QTest::newRow("keyval empty map") << keyValParam(n, {}, s("a")) << false << false;
    QTest::newRow("keyval key missing") << keyValParam(n, {{s("a"), 1}}, s("b")) << true << false;
    QTest::newRow("keyval key present") << keyValParam(n, {{s("a"), 1}}, s("a")) << true << true;
    QTest::newRow("keyval without name")
        << keyValParam(QString(), {{s("a"), 1}}, s("a")) << false << false;
    QTest::newRow("string parsed without type")
        << parsed(stringParam(n, s("x")), vmap({{s("val"), s("x")}})) << false << false;
    QTest::newRow("double parsed as type 9")
        << parsed(doubleParam(n, 1.0), vmap({{s("type"), 9}})) << false << false;
}

void TestConfigParameters::validity()
{
    QFETCH(ParamPtr, param);
    QFETCH(bool, valid);
    QFETCH(bool, valueValid);

    QCOMPARE(param->isValid(), valid);
    QCOMPARE(param->valueIsValid(), valueValid);
}

namespace {

struct Comparison
{
    bool equal;
    bool notEqual;
};

// Compares through the operators of the common dynamic class, or of the base when the classes
// differ.
template <typename P> bool compareAs(const ParamPtr &a, const ParamPtr &b, Comparison *result)
{
    auto pa = a.dynamicCast<P>();
    auto pb = b.dynamicCast<P>();
    if (!pa || !pb)
        return false;
    *result = {*pa == *pb, *pa != *pb};
    return true;
}

Comparison typedCompare(const ParamPtr &a, const ParamPtr &b)
{
    Comparison result{*a == *b, *a != *b};
    compareAs<IntParam>(a, b, &result) || compareAs<LongParam>(a, b, &result) ||
        compareAs<BytesConfigParameter>(a, b, &result) ||
        compareAs<DoubleConfigParameter>(a, b, &result) ||
        compareAs<StringConfigParameter>(a, b, &result) ||
        compareAs<KeyValConfigParameter>(a, b, &result);
    return result;
}

} // namespace

void TestConfigParameters::equality_data()
{
    QTest::addColumn<ParamPtr>("a");
    QTest::addColumn<ParamPtr>("b");
    QTest::addColumn<bool>("equal");

    const QString n = s("p");
    QTest::newRow("string case counts")
        << stringParam(n, s("ON")) << stringParam(n, s("on")) << false;
    QTest::newRow("string allowed values ignored")
        << stringParam(n, s("on"), {s("on")}) << stringParam(n, s("on")) << true;
    QTest::newRow("string names differ")
        << stringParam(n, s("x")) << stringParam(s("q"), s("x")) << false;
    QTest::newRow("double 0.1+0.2 and 0.3")
        << doubleParam(n, 0.1 + 0.2) << doubleParam(n, 0.3) << true;
    QTest::newRow("double ranges ignored")
        << doubleParam(n, 1.0, {0, 1}) << doubleParam(n, 1.0) << true;
    QTest::newRow("double differ") << doubleParam(n, 1.0) << doubleParam(n, 1.0000001) << false;
    QTest::newRow("double zero and tiny") << doubleParam(n, 0.0) << doubleParam(n, 1e-300) << false;
    QTest::newRow("double zero and minus zero")
        << doubleParam(n, 0.0) << doubleParam(n, -0.0) << true;
    QTest::newRow("double infinities") << doubleParam(n, INF) << doubleParam(n, INF) << true;
    QTest::newRow("double opposite infinities")
        << doubleParam(n, INF) << doubleParam(n, -INF) << false;
    QTest::newRow("double NaN") << doubleParam(n, NaN) << doubleParam(n, NaN) << false;
    QTest::newRow("bytes equal") << bytesParam(n, "ab") << bytesParam(n, "ab") << true;
    QTest::newRow("bytes differ") << bytesParam(n, "ab") << bytesParam(n, "aB") << false;
    QTest::newRow("keyval equal") << keyValParam(n, {{s("a"), 1}}, s("a"))
                                  << keyValParam(n, {{s("a"), 1}}, s("a")) << true;
    QTest::newRow("keyval keys differ")
        << keyValParam(n, {{s("a"), 1}, {s("b"), 1}}, s("a"))
        << keyValParam(n, {{s("a"), 1}, {s("b"), 1}}, s("b")) << false;
    QTest::newRow("keyval maps differ")
        << keyValParam(n, {{s("a"), 1}}, s("a")) << keyValParam(n, {{s("a"), 2}}, s("a")) << false;
    QTest::newRow("int constraints ignored")
        << intParam(n, 3, {0, 5}, {3}) << intParam(n, 3) << true;
    QTest::newRow("int values differ") << intParam(n, 3) << intParam(n, 4) << false;
    QTest::newRow("int and longlong as base") << intParam(n, 3) << longParam(n, 3) << false;
    QTest::newRow("int and double as base") << intParam(n, 3) << doubleParam(n, 5.0) << false;
}

void TestConfigParameters::equality()
{
    QFETCH(ParamPtr, a);
    QFETCH(ParamPtr, b);
    QFETCH(bool, equal);

    for (const Comparison &c : {typedCompare(a, b), typedCompare(b, a)}) {
        QCOMPARE(c.equal, equal);
        QCOMPARE(c.notEqual, !equal);
    }
}

void TestConfigParameters::rangeIsDefault()
{
    QVERIFY(IntParam(s("p")).rangeIsDefault());
    QVERIFY(LongParam(s("p")).rangeIsDefault());
    QVERIFY(DoubleConfigParameter(s("p"), 1.0).rangeIsDefault());
    QVERIFY(!IntParam(s("p"), {IMIN, IMAX - 1}, 0).rangeIsDefault());
    QVERIFY(!LongParam(s("p"), {LLMIN + 1, LLMAX}, 0).rangeIsDefault());
    QVERIFY(!LongParam(s("p"), {IMIN, IMAX}, 0).rangeIsDefault());
    QVERIFY(!DoubleConfigParameter(s("p"), {-DMAX, 1e308}, 0.0).rangeIsDefault());
    QVERIFY(!DoubleConfigParameter(s("p"), {-INF, INF}, 0.0).rangeIsDefault());
    // A range fuzzily equal to the default is not written, so it reads back as the exact default.
    const DoubleConfigParameter nearDefault(s("p"), {-DMAX * (1 - 1e-14), DMAX}, 0.0);
    QVERIFY(nearDefault.rangeIsDefault());
    QVERIFY(!nearDefault.toMap().contains(s("range")));

    QVERIFY(DoubleConfigParameter::fuzzyEqual(0.0, 0.0));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(0.0, std::numeric_limits<double>::denorm_min()));
    QVERIFY(DoubleConfigParameter::fuzzyEqual(1e-300, 1e-300 * (1 + 1e-13)));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(1e-300, 1e-300 * (1 + 1e-11)));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(-1.0, 1.0));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(DMAX, -DMAX));
    QVERIFY(DoubleConfigParameter::fuzzyEqual(-INF, -INF));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(-INF, INF));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(DMAX, INF));
    QVERIFY(!DoubleConfigParameter::fuzzyEqual(NaN, NaN));
}

void TestConfigParameters::cloneIsIndependent_data()
{
    QTest::addColumn<ParamPtr>("param");

    const QString n = s("p");
    QTest::newRow("int") << intParam(n, 4, {1, 5}, {4});
    QTest::newRow("longlong") << longParam(n, LLMIN, {LLMIN, 0}, {LLMIN});
    QTest::newRow("string") << stringParam(n, s("a"), {s("a"), s("b")});
    QTest::newRow("bytes") << bytesParam(n, QByteArray("\0x", 2));
    QTest::newRow("double") << doubleParam(n, 0.25, {0, 1});
    QTest::newRow("keyval") << keyValParam(n, {{s("a"), 1}}, s("a"));
    QTest::newRow("invalid keeps its fields") << parsed(intParam(n, 4), vmap({{s("type"), 3}}));
}

void TestConfigParameters::cloneIsIndependent()
{
    QFETCH(ParamPtr, param);

    const ParamPtr copy = param->clone();
    QVERIFY(copy);
    QVERIFY(copy.data() != param.data());
    RAVIX_COMPARE_FIELDS(*copy, *param);

    copy->setName(s("renamed"));
    copy->parseMap(QVariantMap());
    QCOMPARE(param->name(), s("p"));
    QVERIFY(param->type() != AbstractConfigParameter::Undefined);
}

void TestConfigParameters::accessors()
{
    KeyValConfigParameter kv(s("k"), {{s("a"), 1}, {s("b"), s("two")}}, s("b"));
    QCOMPARE(kv.value(), QVariant(s("two")));
    QCOMPARE(QVariant(kv), QVariant(s("two")));
    QCOMPARE(kv[s("a")], QVariant(1));
    QVERIFY(!kv[s("zz")].isValid());
    kv.setKey(s("zz"));
    QVERIFY(!kv.value().isValid());
    QVERIFY(!KeyValConfigParameter().isValid());
    QCOMPARE(KeyValConfigParameter().type(), AbstractConfigParameter::KeyVal);

    StringConfigParameter str(s("s"), s("text"));
    QCOMPARE(QString(str), s("text"));
    BytesConfigParameter bytes(s("b"), "raw");
    QCOMPARE(QByteArray(bytes), QByteArray("raw"));

    // Default-constructed parameters carry their class's type and the documented defaults.
    QCOMPARE(IntParam().type(), AbstractConfigParameter::Int);
    QCOMPARE(IntParam().range(), qMakePair(IMIN, IMAX));
    QCOMPARE(LongParam().type(), AbstractConfigParameter::LongLong);
    QCOMPARE(LongParam().range(), qMakePair(LLMIN, LLMAX));
    QCOMPARE(DoubleConfigParameter().range(), qMakePair(-DMAX, DMAX));
    QCOMPARE(DoubleConfigParameter().value(), 0.0);
    QCOMPARE(StringConfigParameter().type(), AbstractConfigParameter::String);
    QCOMPARE(BytesConfigParameter().type(), AbstractConfigParameter::Bytes);

    // Copies and moves keep name, type and value.
    StringConfigParameter moved(std::move(str));
    QCOMPARE(moved.name(), s("s"));
    QCOMPARE(moved.value(), s("text"));
    StringConfigParameter assigned;
    assigned = moved;
    QVERIFY(assigned == moved);
    QCOMPARE(assigned.type(), AbstractConfigParameter::String);
}

QTEST_GUILESS_MAIN(TestConfigParameters)
#include "tst_configparameters.moc"
