// SPDX-License-Identifier: MIT
#include <ravixcore/fixnumber/currency.h>

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>
#include <QtTest>

#include <limits>

using ravix::Currency;

namespace {

Currency rub()
{
    Currency c;
    c.setNumber3(643);
    c.setAlpha3(QStringLiteral("RUB"));
    c.setRealMultiplier(100u);
    return c;
}

// Columns of the sums-in-words tables: the sum and its text.
void addSumColumns()
{
    QTest::addColumn<double>("sum");
    QTest::addColumn<QString>("expected");
}

void row(const char *name, double sum, const char *text)
{
    QTest::newRow(name) << sum << QString::fromUtf8(text);
}

// Installs the library's compiled catalogue of one language for the life of the object.
class Catalogue
{
public:
    explicit Catalogue(const QString &lang)
    {
        const QString dir = qEnvironmentVariable("RAVIX_QM_DIR");
        m_loaded = !dir.isEmpty() && m_translator.load(QStringLiteral("ravixcore_") + lang, dir) &&
                   QCoreApplication::installTranslator(&m_translator);
    }
    ~Catalogue() { QCoreApplication::removeTranslator(&m_translator); }
    bool loaded() const { return m_loaded; }

private:
    QTranslator m_translator;
    bool m_loaded = false;
};

} // namespace

class TestCurrency : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void defaults()
    {
        const Currency c;
        QCOMPARE(c.number3(), 0);
        QVERIFY(c.alpha3().isEmpty());
        QCOMPARE(c.realMultiplier(), 0u);
        QVERIFY(c.locale().isEmpty());
        QVERIFY(c.extSymbol().isEmpty());
        QVERIFY(c.nameRu().isEmpty());
        QVERIFY(c.nameEn().isEmpty());
        QVERIFY(!c.isValid());

        Currency m;
        m.setRealMultiplier(100);
        QCOMPARE(m.realMultiplier(), 100u);
        m.setRealMultiplier(-5);
        QCOMPARE(m.realMultiplier(), 0u);
        m.setRealMultiplier(1000);
        QCOMPARE(m.decimals(), 3);
    }

    void validity_data()
    {
        QTest::addColumn<int>("number3");
        QTest::addColumn<QString>("alpha3");
        QTest::addColumn<uint>("multiplier");
        QTest::addColumn<bool>("valid");
        QTest::newRow("RUB") << 643 << QStringLiteral("RUB") << 100u << true;
        QTest::newRow("no multiplier") << 643 << QStringLiteral("RUB") << 0u << false;
        QTest::newRow("no number") << 0 << QStringLiteral("RUB") << 100u << false;
        QTest::newRow("negative number") << -1 << QStringLiteral("RUB") << 100u << false;
        QTest::newRow("no alpha") << 643 << QString() << 100u << false;
        QTest::newRow("whole units") << 392 << QStringLiteral("JPY") << 1u << true;
    }
    void validity()
    {
        QFETCH(int, number3);
        QFETCH(QString, alpha3);
        QFETCH(uint, multiplier);
        QFETCH(bool, valid);
        Currency c;
        c.setNumber3(number3);
        c.setAlpha3(alpha3);
        c.setRealMultiplier(multiplier);
        QCOMPARE(c.isValid(), valid);
    }

    void equalityAndOrder()
    {
        Currency a = rub();
        a.setNameEn(QStringLiteral("Russian ruble"));
        a.setNameRu(QStringLiteral("Российский рубль"));
        a.setLocale(QStringLiteral("ru_RU"));
        Currency b = rub();
        b.setNameEn(QStringLiteral("Rouble"));
        QVERIFY(a == b);
        QVERIFY(!(a != b));

        b.setCurrencySymbol(QStringLiteral("р."));
        QVERIFY(a != b);
        b = rub();
        b.setExtSymbol(QStringLiteral("R"));
        QVERIFY(a != b);
        b = rub();
        b.setRealMultiplier(1000u);
        QVERIFY(a != b);
        b = rub();
        b.setAlpha3(QStringLiteral("RUR"));
        QVERIFY(a != b);

        // Order follows the numeric code alone.
        Currency usd;
        usd.setNumber3(840);
        usd.setAlpha3(QStringLiteral("USD"));
        QVERIFY(a < usd);
        QVERIFY(a <= usd);
        QVERIFY(usd > a);
        QVERIFY(usd >= a);
        QVERIFY(!(usd < a));
        Currency sameCode = usd;
        sameCode.setAlpha3(QStringLiteral("XXX"));
        QVERIFY(usd <= sameCode && usd >= sameCode && !(usd < sameCode));
        Currency negative;
        negative.setNumber3(-1);
        QVERIFY(negative < Currency());
    }

    void maps()
    {
        Currency c = rub();
        c.setLocale(QStringLiteral("ru_RU"));
        c.setCurrencySymbol(QStringLiteral("₽"));
        c.setExtSymbol(QStringLiteral("руб."));
        c.setNameRu(QStringLiteral("Российский рубль"));
        c.setNameEn(QStringLiteral("Russian ruble"));

        const QVariantMap map = c.toMap();
        QCOMPARE(map.keys(),
                 (QStringList{"a3", "esym", "locale", "n3", "nen", "nru", "rm", "sym"}));
        QCOMPARE(map.value("n3").userType(), int(QMetaType::Int));
        QCOMPARE(map.value("rm").userType(), int(QMetaType::UInt));
        QCOMPARE(map.value("a3").userType(), int(QMetaType::QString));
        QCOMPARE(map.value("n3").toInt(), 643);
        QCOMPARE(map.value("rm").toUInt(), 100u);
        QCOMPARE(map.value("sym").toString(), QStringLiteral("₽"));

        const Currency back(map);
        QVERIFY(back == c);
        QCOMPARE(back.locale(), c.locale());
        QCOMPARE(back.nameRu(), c.nameRu());
        QCOMPARE(back.nameEn(), c.nameEn());
        QCOMPARE(back.extSymbol(), c.extSymbol());

        // The derived symbol is not stored in place of an empty one.
        Currency derived = rub();
        derived.setLocale(QStringLiteral("en_US"));
        QCOMPARE(derived.toMap().value("sym").toString(), QString());

        // Text values from a configuration file are read too; missing keys give defaults.
        Currency parsed = c;
        parsed.setMap(QVariantMap{{"n3", "978"}, {"a3", "EUR"}, {"rm", "100"}});
        QCOMPARE(parsed.number3(), 978);
        QCOMPARE(parsed.alpha3(), QStringLiteral("EUR"));
        QCOMPARE(parsed.realMultiplier(), 100u);
        QVERIFY(parsed.locale().isEmpty());
        QVERIFY(parsed.nameEn().isEmpty());
        QCOMPARE(parsed.currencySymbol(), QStringLiteral("EUR"));
    }

    void symbols_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("name");
        QTest::newRow("no locale")
            << QString() << QString() << QStringLiteral("RUB") << QStringLiteral("RUB");
        QTest::newRow("unknown") << QStringLiteral("unknown") << QString() << QStringLiteral("RUB")
                                 << QStringLiteral("RUB");
        QTest::newRow("stored wins") << QStringLiteral("unknown") << QStringLiteral("р.")
                                     << QStringLiteral("р.") << QStringLiteral("RUB");
        QTest::newRow("en_US") << QStringLiteral("en_US") << QString() << QStringLiteral("$")
                               << QStringLiteral("US Dollar");
        QTest::newRow("ru_RU") << QStringLiteral("ru_RU") << QString()
                               << QLocale(QLocale::Russian, QLocale::Russia).currencySymbol()
                               << QLocale(QLocale::Russian, QLocale::Russia)
                                      .currencySymbol(QLocale::CurrencyDisplayName);
    }
    void symbols()
    {
        QFETCH(QString, locale);
        QFETCH(QString, stored);
        QFETCH(QString, symbol);
        QFETCH(QString, name);
        QVERIFY(!symbol.isEmpty());
        Currency c = rub();
        c.setLocale(locale);
        c.setCurrencySymbol(stored);
        QCOMPARE(c.currencySymbol(), symbol);
        QCOMPARE(c.currencyName(), name);
    }

    void values()
    {
        const Currency c = rub();
        QCOMPARE(c.valueToDouble(-12345), -123.45);
        QCOMPARE(c.doubleToValue(2.675), qint64(268));
        QCOMPARE(c.doubleToValue(2.6349), qint64(263));
        QCOMPARE(c.doubleToValue(-1.279), qint64(-128));
        QCOMPARE(c.valueToString(123456), QStringLiteral("1234.56"));
        QCOMPARE(c.valueToString(123456, true, QLatin1Char(' ')), QStringLiteral("1 234.56 RUB"));

        Currency sym = c;
        sym.setCurrencySymbol(QStringLiteral("р."));
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(c.valueToString(123456, true, QLatin1Char(' ')), QStringLiteral("1 234,56 RUB"));
        QCOMPARE(sym.valueToString(-123456, false, QChar()), QStringLiteral("-1234,56 р."));
        QCOMPARE(sym.valueToString(123456, true, QChar()), QStringLiteral("1234,56 RUB"));
        QCOMPARE(c.valueToString(5), QStringLiteral("0,05"));
    }

    // Without a catalogue every key stands for itself.
    void sumAsStringKeys_data()
    {
        addSumColumns();
        row("1234.5", 1234.5, "1f 1000 200 30 4 R, 50 c ");
        row("11.07", 11.07, "11 R, 07 c ");
        row("0.05", 0.05, "ноль R, 05 c ");
        row("0", 0.0, "ноль R, 00 c ");
        row("-3.5", -3.5, "Minus 3 R, 50 c ");
        row("too big", 2000000000000.0, "Big money ...");
        row("too big negative", -2000000000000.0, "Big money ...");
        row("infinite", std::numeric_limits<double>::infinity(), "Big money ...");
        row("not a number", std::numeric_limits<double>::quiet_NaN(), "Big money ...");
        row("thousands of 2", 2000.0, "2f 1000_1 R, 00 c ");
        row("millions of 5", 5000000.0, "5 1000000_2 R, 00 c ");
        row("thousands of 12", 12000.0, "12 1000_2 R, 00 c ");
        row("thousands of 21", 21000.0, "20 1f 1000 R, 00 c ");
        row("millions of 111", 111000000.0, "100 11 1000000_2 R, 00 c ");
        row("billions of 3", 3000000000.0, "3 1000000000_1 R, 00 c ");
        row("largest", 999999999999.99,
            "900 90 9 1000000000_2 900 90 9 1000000_2 900 90 9f 1000_2 900 90 9 R, 99 c ");
        // No scale word for a group of zeros.
        row("1000000", 1000000.0, "1 1000000 R, 00 c ");
        row("1000000000", 1000000000.0, "1 1000000000 R, 00 c ");
        row("1000001000", 1000001000.0, "1 1000000000 1f 1000 R, 00 c ");
        row("1001", 1001.0, "1f 1000 1 R, 00 c ");
        // Hundredths from the decimal reading, carried into the units.
        row("1.005", 1.005, "1 R, 01 c ");
        row("1.995", 1.995, "2 R, 00 c ");
        row("999.999", 999.999, "1f 1000 R, 00 c ");
        row("0.994", 0.994, "ноль R, 99 c ");
        row("-0.001", -0.001, "Minus ноль R, 00 c ");
        row("-0.005", -0.005, "Minus ноль R, 01 c ");
    }
    void sumAsStringKeys()
    {
        QFETCH(double, sum);
        QFETCH(QString, expected);
        QCOMPARE(Currency::sumAsString(sum, QStringLiteral("R"), QStringLiteral("c")), expected);
    }

    // The words of digits are those of the first call; a catalogue installed later changes only
    // the scale words and the sign.
    void sumAsStringLateCatalogue()
    {
        QCOMPARE(Currency::sumAsString(1234.5, QStringLiteral("R"), QStringLiteral("c")),
                 QStringLiteral("1f 1000 200 30 4 R, 50 c "));
        Catalogue ru(QStringLiteral("ru"));
        QVERIFY2(ru.loaded(), "ravixcore_ru.qm not found in RAVIX_QM_DIR");
        QCOMPARE(Currency::sumAsString(1234.5, QStringLiteral("R"), QStringLiteral("c")),
                 QString::fromUtf8("1f тысяча 200 30 4 R, 50 c "));
        QCOMPARE(Currency::sumAsString(-2000000.0, QStringLiteral("R"), QStringLiteral("c")),
                 QString::fromUtf8("минус 2 миллиона R, 00 c "));
        QCOMPARE(Currency::sumAsString(2e12, QStringLiteral("R"), QStringLiteral("c")),
                 QString::fromUtf8("Сумма слишком велика"));
    }
};

QTEST_GUILESS_MAIN(TestCurrency)
#include "tst_currency.moc"
