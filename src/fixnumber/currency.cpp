// SPDX-License-Identifier: MIT
#include "fixnumber/currency.h"

#include "fixnumber/fixnumber.h"

#include <QCoreApplication>
#include <QLocale>

#include <cmath>

namespace ravix {

namespace {

const QLatin1String kUnknownLocale("unknown");

// The words of sums are translations in the context "QObject"; every key but "Big money ..."
// carries the space that separates it from the next word.
const char kContext[] = "QObject";

const char *const kOnes[10] = {
    nullptr,
    QT_TRANSLATE_NOOP("QObject", "1 "),
    QT_TRANSLATE_NOOP("QObject", "2 "),
    QT_TRANSLATE_NOOP("QObject", "3 "),
    QT_TRANSLATE_NOOP("QObject", "4 "),
    QT_TRANSLATE_NOOP("QObject", "5 "),
    QT_TRANSLATE_NOOP("QObject", "6 "),
    QT_TRANSLATE_NOOP("QObject", "7 "),
    QT_TRANSLATE_NOOP("QObject", "8 "),
    QT_TRANSLATE_NOOP("QObject", "9 "),
};
// Thousands are feminine in Russian: "одна тысяча", "две тысячи".
const char *const kOnesFeminine[10] = {
    nullptr,
    QT_TRANSLATE_NOOP("QObject", "1f "),
    QT_TRANSLATE_NOOP("QObject", "2f "),
    QT_TRANSLATE_NOOP("QObject", "3f "),
    QT_TRANSLATE_NOOP("QObject", "4f "),
    QT_TRANSLATE_NOOP("QObject", "5f "),
    QT_TRANSLATE_NOOP("QObject", "6f "),
    QT_TRANSLATE_NOOP("QObject", "7f "),
    QT_TRANSLATE_NOOP("QObject", "8f "),
    QT_TRANSLATE_NOOP("QObject", "9f "),
};
const char *const kTeens[10] = {
    QT_TRANSLATE_NOOP("QObject", "10 "), QT_TRANSLATE_NOOP("QObject", "11 "),
    QT_TRANSLATE_NOOP("QObject", "12 "), QT_TRANSLATE_NOOP("QObject", "13 "),
    QT_TRANSLATE_NOOP("QObject", "14 "), QT_TRANSLATE_NOOP("QObject", "15 "),
    QT_TRANSLATE_NOOP("QObject", "16 "), QT_TRANSLATE_NOOP("QObject", "17 "),
    QT_TRANSLATE_NOOP("QObject", "18 "), QT_TRANSLATE_NOOP("QObject", "19 "),
};
const char *const kTens[10] = {
    nullptr,
    nullptr,
    QT_TRANSLATE_NOOP("QObject", "20 "),
    QT_TRANSLATE_NOOP("QObject", "30 "),
    QT_TRANSLATE_NOOP("QObject", "40 "),
    QT_TRANSLATE_NOOP("QObject", "50 "),
    QT_TRANSLATE_NOOP("QObject", "60 "),
    QT_TRANSLATE_NOOP("QObject", "70 "),
    QT_TRANSLATE_NOOP("QObject", "80 "),
    QT_TRANSLATE_NOOP("QObject", "90 "),
};
const char *const kHundreds[10] = {
    nullptr,
    QT_TRANSLATE_NOOP("QObject", "100 "),
    QT_TRANSLATE_NOOP("QObject", "200 "),
    QT_TRANSLATE_NOOP("QObject", "300 "),
    QT_TRANSLATE_NOOP("QObject", "400 "),
    QT_TRANSLATE_NOOP("QObject", "500 "),
    QT_TRANSLATE_NOOP("QObject", "600 "),
    QT_TRANSLATE_NOOP("QObject", "700 "),
    QT_TRANSLATE_NOOP("QObject", "800 "),
    QT_TRANSLATE_NOOP("QObject", "900 "),
};
// Scale words of groups 2–4 in the forms for 1, for 2–4 and for the rest.
const char *const kScales[3][3] = {
    {QT_TRANSLATE_NOOP("QObject", "1000 "), QT_TRANSLATE_NOOP("QObject", "1000_1 "),
     QT_TRANSLATE_NOOP("QObject", "1000_2 ")},
    {QT_TRANSLATE_NOOP("QObject", "1000000 "), QT_TRANSLATE_NOOP("QObject", "1000000_1 "),
     QT_TRANSLATE_NOOP("QObject", "1000000_2 ")},
    {QT_TRANSLATE_NOOP("QObject", "1000000000 "), QT_TRANSLATE_NOOP("QObject", "1000000000_1 "),
     QT_TRANSLATE_NOOP("QObject", "1000000000_2 ")},
};
const char kMinus[] = QT_TRANSLATE_NOOP("QObject", "Minus ");
const char kBigMoney[] = QT_TRANSLATE_NOOP("QObject", "Big money ...");

QString word(const char *key)
{
    return key ? QCoreApplication::translate(kContext, key) : QString();
}

/// The words of digits, read from the translations once, at the first sum; the scale words and
/// the sign are read on every call.
struct DigitWords
{
    QString ones[10];
    QString onesFeminine[10];
    QString teens[10];
    QString tens[10];
    QString hundreds[10];
};

const DigitWords &digitWords()
{
    static const DigitWords words = [] {
        DigitWords w;
        for (int i = 0; i < 10; ++i) {
            w.ones[i] = word(kOnes[i]);
            w.onesFeminine[i] = word(kOnesFeminine[i]);
            w.teens[i] = word(kTeens[i]);
            w.tens[i] = word(kTens[i]);
            w.hundreds[i] = word(kHundreds[i]);
        }
        return w;
    }();
    return words;
}

/// 0 for units 1 (not in the teens), 1 for units 2–4 (not in the teens), 2 otherwise.
int pluralForm(int tens, int units)
{
    if (tens != 1 && units == 1)
        return 0;
    if (tens != 1 && units >= 2 && units <= 4)
        return 1;
    return 2;
}

/// The words of a group of three digits; \a index 1 is the major unit, 2–4 thousands to billions.
QString groupText(int value, int index, const QString &majorUnit)
{
    const int h = value / 100;
    const int t = value / 10 % 10;
    const int u = value % 10;
    const DigitWords &words = digitWords();
    QString text = words.hundreds[h];
    if (t == 1)
        text += words.teens[u];
    else
        text += words.tens[t] + (index == 2 ? words.onesFeminine[u] : words.ones[u]);
    if (index == 1)
        text += majorUnit + QLatin1String(", ");
    else
        text += word(kScales[index - 2][pluralForm(t, u)]);
    return text;
}

} // namespace

Currency::Currency() = default;

Currency::Currency(const QVariantMap &map)
{
    setMap(map);
}

void Currency::setRealMultiplier(const int &multiplier)
{
    m_realMultiplier = multiplier < 0 ? 0u : unsigned(multiplier);
}

int Currency::decimals() const
{
    return FixNumber(m_realMultiplier).decimals();
}

bool Currency::isValid() const
{
    return m_number3 >= 1 && !m_alpha3.isEmpty() && m_realMultiplier != 0;
}

bool Currency::operator==(const Currency &other) const
{
    return m_number3 == other.m_number3 && m_alpha3 == other.m_alpha3 &&
           m_realMultiplier == other.m_realMultiplier &&
           m_currencySymbol == other.m_currencySymbol && m_extSymbol == other.m_extSymbol;
}

QVariantMap Currency::toMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("n3"), m_number3);
    map.insert(QStringLiteral("a3"), m_alpha3);
    map.insert(QStringLiteral("rm"), m_realMultiplier);
    map.insert(QStringLiteral("locale"), m_locale);
    map.insert(QStringLiteral("sym"), m_currencySymbol);
    map.insert(QStringLiteral("esym"), m_extSymbol);
    map.insert(QStringLiteral("nru"), m_nameRu);
    map.insert(QStringLiteral("nen"), m_nameEn);
    return map;
}

void Currency::setMap(const QVariantMap &map)
{
    m_number3 = map.value(QStringLiteral("n3")).toInt();
    m_alpha3 = map.value(QStringLiteral("a3")).toString();
    m_realMultiplier = map.value(QStringLiteral("rm")).toUInt();
    m_locale = map.value(QStringLiteral("locale")).toString();
    m_currencySymbol = map.value(QStringLiteral("sym")).toString();
    m_extSymbol = map.value(QStringLiteral("esym")).toString();
    m_nameRu = map.value(QStringLiteral("nru")).toString();
    m_nameEn = map.value(QStringLiteral("nen")).toString();
}

QString Currency::currencyName() const
{
    if (m_locale.isEmpty() || m_locale == kUnknownLocale)
        return m_alpha3;
    return QLocale(m_locale).currencySymbol(QLocale::CurrencyDisplayName);
}

QString Currency::currencySymbol() const
{
    if (!m_currencySymbol.isEmpty())
        return m_currencySymbol;
    if (m_locale.isEmpty() || m_locale == kUnknownLocale)
        return m_alpha3;
    return QLocale(m_locale).currencySymbol(QLocale::CurrencySymbol);
}

double Currency::valueToDouble(qint64 v) const
{
    return FixNumber(m_realMultiplier, v).toDouble();
}

qint64 Currency::doubleToValue(double x) const
{
    return FixNumber(m_realMultiplier, x).value();
}

QString Currency::valueToString(qint64 v, bool useAlpha3, const QChar &groupSeparator) const
{
    return FixNumber(m_realMultiplier, v).toString(QLocale().decimalPoint(), groupSeparator) +
           QLatin1Char(' ') + (useAlpha3 ? m_alpha3 : currencySymbol());
}

QString Currency::valueToString(qint64 v) const
{
    return FixNumber(m_realMultiplier, v).toString();
}

QString Currency::sumAsString(double sum, const QString &majorUnit, const QString &minorUnit)
{
    constexpr qint64 kMaxHundredths = Q_INT64_C(99999999999999);
    if (!std::isfinite(sum) || std::fabs(sum) > 999999999999.99)
        return word(kBigMoney);
    // Hundredths from the decimal reading of the sum, half up: 1.005 gives 01, and 1.995 is
    // carried into 2 units.
    const qint64 hundredths = ExtFixNumber(100, std::fabs(sum), ExtFixNumber::RoundHalfUp).value();
    if (hundredths > kMaxHundredths)
        return word(kBigMoney);

    const int minor = int(hundredths % 100);
    QString text = QString::number(minor / 10) + QString::number(minor % 10) + QLatin1Char(' ') +
                   minorUnit + QLatin1Char(' ');
    qint64 integer = hundredths / 100;
    if (integer == 0) {
        // Zero is not among the translated words.
        text.prepend(QStringLiteral(u"ноль ") + majorUnit + QLatin1String(", "));
    } else {
        // A group of zeros above the units says nothing: 1000000 is "one million".
        for (int index = 1; integer > 0; ++index, integer /= 1000) {
            const int group = int(integer % 1000);
            if (index == 1 || group != 0)
                text.prepend(groupText(group, index, majorUnit));
        }
    }
    if (sum < 0)
        text.prepend(word(kMinus));
    return text;
}

} // namespace ravix
