// SPDX-License-Identifier: MIT
// Sums in words with the library's catalogue of one language (RAVIX_SUMWORDS_LANG). Each
// language runs in a process of its own, because the words of digits are read once, at the
// first sum, and kept.
#include <ravixcore/fixnumber/currency.h>

#include <QCoreApplication>
#include <QTranslator>
#include <QtTest>

using ravix::Currency;

class TestSumWords : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString dir = qEnvironmentVariable("RAVIX_QM_DIR");
        QVERIFY2(m_translator.load(QStringLiteral("ravixcore_" RAVIX_SUMWORDS_LANG), dir),
                 "ravixcore_" RAVIX_SUMWORDS_LANG ".qm not found in RAVIX_QM_DIR");
        QVERIFY(QCoreApplication::installTranslator(&m_translator));
    }

    void words_data()
    {
        QTest::addColumn<double>("sum");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, double sum, const char *text) {
            QTest::newRow(name) << sum << QString::fromUtf8(text);
        };
        if (qstrcmp(RAVIX_SUMWORDS_LANG, "ru") == 0) {
            row("1234.5", 1234.5, "одна тысяча двести тридцать четыре руб., 50 коп. ");
            row("11.07", 11.07, "одиннадцать руб., 07 коп. ");
            row("0.05", 0.05, "ноль руб., 05 коп. ");
            row("21", 21.0, "двадцать один руб., 00 коп. ");
            row("101", 101.0, "сто один руб., 00 коп. ");
            row("1000000", 1000000.0, "один миллион руб., 00 коп. ");
            row("2001", 2001.0, "две тысячи один руб., 00 коп. ");
            row("5000000.25", 5000000.25, "пять миллионов руб., 25 коп. ");
            row("999999999999.99", 999999999999.99,
                "девятьсот девяносто девять миллиардов девятьсот девяносто девять миллионов "
                "девятьсот девяносто девять тысяч девятьсот девяносто девять руб., 99 коп. ");
            row("-3.5", -3.5, "минус три руб., 50 коп. ");
            row("-1234567.89", -1234567.89,
                "минус один миллион двести тридцать четыре тысячи пятьсот шестьдесят семь руб., "
                "89 коп. ");
            row("22000", 22000.0, "двадцать две тысячи руб., 00 коп. ");
            row("15000", 15000.0, "пятнадцать тысяч руб., 00 коп. ");
            row("311000", 311000.0, "триста одиннадцать тысяч руб., 00 коп. ");
            row("44444", 44444.0, "сорок четыре тысячи четыреста сорок четыре руб., 00 коп. ");
            row("3000000", 3000000.0, "три миллиона руб., 00 коп. ");
            row("2000000000", 2000000000.0, "два миллиарда руб., 00 коп. ");
            row("1.995", 1.995, "два руб., 00 коп. ");
            row("too big", 2e12, "Сумма слишком велика");
        } else {
            row("1234.5", 1234.5, "one thousand two hundred thirty four руб., 50 коп. ");
            row("0.05", 0.05, "ноль руб., 05 коп. ");
            row("-2000000", -2000000.0, "minus two million руб., 00 коп. ");
            row("13", 13.0, "thirteen руб., 00 коп. ");
        }
    }
    void words()
    {
        QFETCH(double, sum);
        QFETCH(QString, expected);
        QCOMPARE(Currency::sumAsString(sum, QString::fromUtf8("руб."), QString::fromUtf8("коп.")),
                 expected);
    }

    // Without the catalogue the scale words fall back to their keys; the words of digits read
    // at the first sum stay.
    void digitWordsKept()
    {
        QVERIFY(QCoreApplication::removeTranslator(&m_translator));
        const QString text =
            Currency::sumAsString(2021.0, QStringLiteral("R"), QStringLiteral("c"));
        QVERIFY(QCoreApplication::installTranslator(&m_translator));
        QCOMPARE(text, QString::fromUtf8(qstrcmp(RAVIX_SUMWORDS_LANG, "ru") == 0
                                             ? "две 1000_1 двадцать один R, 00 c "
                                             : "two 1000_1 twenty one R, 00 c "));
    }

private:
    QTranslator m_translator;
};

QTEST_GUILESS_MAIN(TestSumWords)
#include "tst_sumwords.moc"
