// SPDX-License-Identifier: MIT
#include "fixnumber/fixnumber.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

namespace ravix {

namespace {

constexpr quint64 kInt64Max = quint64(std::numeric_limits<qint64>::max());
constexpr quint64 kUInt64Max = std::numeric_limits<quint64>::max();

/// What the dropped digits amount to, against half of the last kept unit.
enum class Tail { Zero, BelowHalf, Half, AboveHalf };

bool roundsUp(int roundType, quint64 quotient, Tail tail)
{
    switch (roundType) {
    case ExtFixNumber::RoundHalfOdd:
        return tail == Tail::AboveHalf || (tail == Tail::Half && quotient % 2 == 0);
    case ExtFixNumber::RoundHalfEven:
        return tail == Tail::AboveHalf || (tail == Tail::Half && quotient % 2 == 1);
    case ExtFixNumber::RoundHalfUp:
        return tail == Tail::AboveHalf || tail == Tail::Half;
    case ExtFixNumber::RoundUp:
        return tail != Tail::Zero;
    default:
        return false;
    }
}

quint64 magnitude(qint64 v)
{
    return v < 0 ? 0 - quint64(v) : quint64(v);
}

/// Puts the sign back on a rounded magnitude; what does not fit saturates.
qint64 withSign(quint64 mag, bool negative, bool overflow)
{
    if (negative) {
        if (overflow || mag > kInt64Max)
            return std::numeric_limits<qint64>::min();
        return -qint64(mag);
    }
    if (overflow || mag > kInt64Max)
        return std::numeric_limits<qint64>::max();
    return qint64(mag);
}

/// Rounds quotient + tail by the round type into a signed value.
qint64 roundedValue(quint64 quotient, Tail tail, bool negative, bool overflow, int roundType)
{
    if (!overflow && roundsUp(roundType, quotient, tail)) {
        if (quotient == kUInt64Max)
            overflow = true;
        else
            ++quotient;
    }
    return withSign(quotient, negative, overflow);
}

// Two's-complement wrap-around without signed overflow.
qint64 wrapAdd(qint64 a, qint64 b)
{
    return qint64(quint64(a) + quint64(b));
}
qint64 wrapMul(qint64 a, quint64 b)
{
    return qint64(quint64(a) * b);
}

/// An unsigned product of up to 96 bits: hi * 2^64 + lo.
struct Wide
{
    quint64 hi;
    quint64 lo;
};

Wide mulWide(quint64 a, quint32 b)
{
    const quint64 low = (a & 0xffffffffu) * b;
    const quint64 high = (a >> 32) * b;
    const quint64 lo = low + (high << 32);
    return {(high >> 32) + (lo < low ? 1 : 0), lo};
}

int compareWide(const Wide &a, const Wide &b)
{
    if (a.hi != b.hi)
        return a.hi < b.hi ? -1 : 1;
    if (a.lo != b.lo)
        return a.lo < b.lo ? -1 : 1;
    return 0;
}

/// n ÷ d by 32-bit limbs; false when the quotient does not fit 64 bits.
bool divWide(const Wide &n, quint32 d, quint64 *quotient, quint64 *remainder)
{
    const quint64 limbs[3] = {n.hi & 0xffffffffu, n.lo >> 32, n.lo & 0xffffffffu};
    quint64 q[3];
    quint64 r = 0;
    for (int i = 0; i < 3; ++i) {
        const quint64 cur = (r << 32) | limbs[i];
        q[i] = cur / d;
        r = cur % d;
    }
    *quotient = (q[1] << 32) | q[2];
    *remainder = r;
    return q[0] == 0 && n.hi >> 32 == 0;
}

Tail tailOf(quint64 remainder, quint64 divisor)
{
    if (remainder == 0)
        return Tail::Zero;
    const quint64 twice = remainder * 2; // remainder < divisor < 2^32
    if (twice < divisor)
        return Tail::BelowHalf;
    return twice == divisor ? Tail::Half : Tail::AboveHalf;
}

/// |x| × multiplier, read exactly from the shortest text that gives x back: 2.675 is the
/// decimal 2.675 here, not the binary fraction just below it.
struct Scaled
{
    quint64 whole = 0;
    Tail tail = Tail::Zero;
    bool negative = false;
    bool overflow = false;
};

Scaled scaleDouble(double x, quint32 multiplier)
{
    Scaled s;
    if (std::isnan(x))
        return s;
    s.negative = std::signbit(x);
    if (std::isinf(x)) {
        s.overflow = true;
        return s;
    }
    // "d.ddde±xx": the digits and the power of ten of the last one.
    const QByteArray text = QByteArray::number(std::fabs(x), 'e', QLocale::FloatingPointShortest);
    const int e = text.indexOf('e');
    QByteArray digits = text.left(e);
    const int point = digits.indexOf('.');
    int exponent = text.mid(e + 1).toInt();
    if (point >= 0) {
        exponent -= digits.size() - point - 1;
        digits.remove(point, 1);
    }

    // digits × multiplier in decimal, least significant digit first.
    QByteArray product;
    quint64 carry = 0;
    for (int i = digits.size() - 1; i >= 0; --i) {
        const quint64 cur = quint64(digits.at(i) - '0') * multiplier + carry;
        product.append(char('0' + cur % 10));
        carry = cur / 10;
    }
    for (; carry; carry /= 10)
        product.append(char('0' + carry % 10));
    while (product.size() > 1 && product.endsWith('0'))
        product.chop(1);
    std::reverse(product.begin(), product.end());
    if (product == "0")
        return s;

    QByteArray wholeDigits = product;
    QByteArray fraction;
    if (exponent >= 0) {
        if (product.size() + exponent > 20) {
            s.overflow = true;
            return s;
        }
        wholeDigits.append(exponent, '0');
    } else {
        const int k = -exponent;
        if (product.size() > k) {
            wholeDigits = product.left(product.size() - k);
            fraction = product.mid(product.size() - k);
        } else {
            wholeDigits.clear();
            fraction = QByteArray(k - product.size(), '0') + product;
        }
    }
    for (const char c : qAsConst(wholeDigits)) {
        const quint64 d = quint64(c - '0');
        if (s.whole > (kUInt64Max - d) / 10) {
            s.overflow = true;
            return s;
        }
        s.whole = s.whole * 10 + d;
    }
    if (!fraction.isEmpty()) {
        const bool restNonZero = fraction.mid(1).count('0') != fraction.size() - 1;
        const char first = fraction.at(0);
        if (first > '5' || (first == '5' && restNonZero))
            s.tail = Tail::AboveHalf;
        else if (first == '5')
            s.tail = Tail::Half;
        else
            s.tail = (first > '0' || restNonZero) ? Tail::BelowHalf : Tail::Zero;
    }
    return s;
}

/// a <=> b for the numbers, exactly; a multiplier of 0 stands for the bare value.
int compareExact(qint64 av, unsigned int am, qint64 bv, unsigned int bm)
{
    const int as = (av > 0) - (av < 0);
    const int bs = (bv > 0) - (bv < 0);
    if (as != bs)
        return as < bs ? -1 : 1;
    if (as == 0)
        return 0;
    const int c =
        compareWide(mulWide(magnitude(av), bm ? bm : 1), mulWide(magnitude(bv), am ? am : 1));
    return as > 0 ? c : -c;
}

} // namespace

// FixNumber ---------------------------------------------------------------------------------------

FixNumber::FixNumber() = default;

FixNumber::FixNumber(unsigned int multiplier) : m_realMultiplier(multiplier) {}

FixNumber::FixNumber(unsigned int multiplier, qint64 value)
    : m_realMultiplier(multiplier), m_value(value)
{
}

FixNumber::FixNumber(unsigned int multiplier, double x) : m_realMultiplier(multiplier)
{
    FixNumber::setDouble(x);
}

FixNumber::FixNumber(unsigned int multiplier, const QString &text) : m_realMultiplier(multiplier)
{
    FixNumber::setString(text);
}

FixNumber::~FixNumber() = default;

double FixNumber::toDouble() const
{
    if (m_realMultiplier == 0)
        return double(m_value);
    return double(m_value) / double(m_realMultiplier);
}

QString FixNumber::toString() const
{
    return toString(QLocale().decimalPoint(), QChar());
}

QString FixNumber::toString(const QChar &decimalPoint, const QChar &groupSeparator) const
{
    if (m_realMultiplier <= 1)
        return QString::number(m_value, 10);

    const quint64 a = magnitude(m_value);
    quint64 integer = a / m_realMultiplier;
    const quint64 fraction = a % m_realMultiplier;

    QStringList groups;
    while (integer > 999) {
        groups.prepend(QStringLiteral("%1").arg(integer % 1000, 3, 10, QLatin1Char('0')));
        integer /= 1000;
    }
    groups.prepend(QString::number(integer));

    const int places = decimals();
    QString result;
    if (m_value < 0)
        result += QLatin1Char('-');
    result += groupSeparator.isNull() ? groups.join(QString()) : groups.join(groupSeparator);
    result += decimalPoint;
    result += QString::number(fraction).rightJustified(places, QLatin1Char('0'), true);
    return result;
}

FixNumber FixNumber::round(unsigned int multiplier) const
{
    return roundBy(multiplier, ExtFixNumber::RoundHalfEven);
}

void FixNumber::setDouble(double x)
{
    setDoubleBy(x, ExtFixNumber::RoundHalfEven);
}

void FixNumber::setString(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("\\A(?:(\\-?[0-9]+)([\\.,]?)([0-9]*))\\z"));
    QString s = text.trimmed();
    if (s.startsWith(QLatin1Char('.')))
        s.prepend(QLatin1Char('0'));
    if (!pattern.match(s).hasMatch())
        return;
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    setDouble(s.toDouble());
}

bool FixNumber::setAllFromString(const QString &text)
{
    QString s = text.trimmed();
    s.replace(QLatin1Char(','), QLatin1Char('.'));
    if (s.isEmpty()) {
        m_realMultiplier = 1;
        m_value = 0;
        return true;
    }
    bool ok = false;
    if (!s.contains(QLatin1Char('.'))) {
        m_realMultiplier = 1;
        m_value = s.toLongLong(&ok, 10);
        return ok;
    }
    const QStringList parts = s.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    if (parts.size() != 2)
        return false;
    const QString integer = parts.at(0).trimmed();
    const QString fraction = parts.at(1).trimmed();
    // A multiplier of 32 bits holds at most nine decimals.
    if (fraction.size() > 9)
        return false;
    unsigned int multiplier = 1;
    for (int i = 0; i < fraction.size(); ++i)
        multiplier *= 10;
    m_realMultiplier = multiplier;
    m_value = (integer + fraction).toLongLong(&ok, 10);
    return ok;
}

int FixNumber::decimals() const
{
    int n = 0;
    for (unsigned int m = m_realMultiplier; m > 1; m /= 10)
        ++n;
    return n;
}

void FixNumber::setDecimal(int d)
{
    // 10^10 and above do not fit the 32-bit multiplier.
    if (d < 0 || d > 9)
        return;
    unsigned int m = 1;
    for (int i = 0; i < d; ++i)
        m *= 10;
    m_realMultiplier = m;
}

QVariantMap FixNumber::toMap() const
{
    QVariantMap map;
    map.insert(QStringLiteral("rm"), QString::number(m_realMultiplier));
    map.insert(QStringLiteral("value"), QString::number(m_value));
    return map;
}

void FixNumber::setMap(const QVariantMap &map)
{
    m_realMultiplier = map.value(QStringLiteral("rm")).toString().toUInt();
    m_value = map.value(QStringLiteral("value")).toString().toLongLong();
}

bool FixNumber::operator==(const FixNumber &other) const
{
    if (m_realMultiplier == other.m_realMultiplier)
        return m_value == other.m_value;
    return compareExact(m_value, m_realMultiplier, other.m_value, other.m_realMultiplier) == 0;
}

bool FixNumber::operator<(const FixNumber &other) const
{
    if (m_realMultiplier == other.m_realMultiplier)
        return m_value < other.m_value;
    if (m_realMultiplier == 0)
        return true;
    if (other.m_realMultiplier == 0)
        return false;
    return compareExact(m_value, m_realMultiplier, other.m_value, other.m_realMultiplier) < 0;
}

bool FixNumber::operator>(const FixNumber &other) const
{
    if (m_realMultiplier == other.m_realMultiplier)
        return m_value > other.m_value;
    if (m_realMultiplier == 0)
        return false;
    if (other.m_realMultiplier == 0)
        return true;
    return compareExact(m_value, m_realMultiplier, other.m_value, other.m_realMultiplier) > 0;
}

FixNumber FixNumber::operator+(const FixNumber &other) const
{
    FixNumber r(*this);
    r.combine(other, 1);
    return r;
}

FixNumber FixNumber::operator-(const FixNumber &other) const
{
    FixNumber r(*this);
    r.combine(other, -1);
    return r;
}

FixNumber &FixNumber::operator+=(const FixNumber &other)
{
    if (other.m_realMultiplier != 0)
        combine(other, 1);
    return *this;
}

FixNumber &FixNumber::operator-=(const FixNumber &other)
{
    if (other.m_realMultiplier != 0)
        combine(other, -1);
    return *this;
}

void FixNumber::combine(const FixNumber &other, int sign)
{
    const qint64 rhs = sign < 0 ? wrapMul(other.m_value, kUInt64Max) : other.m_value;
    if (m_realMultiplier == other.m_realMultiplier) {
        m_value = wrapAdd(m_value, rhs);
        return;
    }
    const unsigned int m = qMax(m_realMultiplier, other.m_realMultiplier);
    const qint64 lhs = m_realMultiplier ? wrapMul(m_value, m / m_realMultiplier) : 0;
    const qint64 scaled = other.m_realMultiplier ? wrapMul(rhs, m / other.m_realMultiplier) : 0;
    m_realMultiplier = m;
    m_value = wrapAdd(lhs, scaled);
}

FixNumber FixNumber::roundBy(unsigned int multiplier, int roundType) const
{
    if (multiplier == m_realMultiplier)
        return FixNumber(multiplier, m_value);
    // A multiplier of 0 stands for the bare value, as in toDouble().
    const quint32 from = m_realMultiplier ? m_realMultiplier : 1;
    const quint32 to = multiplier ? multiplier : 1;
    quint64 quotient = 0;
    quint64 remainder = 0;
    const bool fits = divWide(mulWide(magnitude(m_value), to), from, &quotient, &remainder);
    return FixNumber(
        multiplier, roundedValue(quotient, tailOf(remainder, from), m_value < 0, !fits, roundType));
}

void FixNumber::setDoubleBy(double x, int roundType)
{
    const Scaled s = scaleDouble(x, m_realMultiplier);
    m_value = roundedValue(s.whole, s.tail, s.negative, s.overflow, roundType);
}

// ExtFixNumber ------------------------------------------------------------------------------------

ExtFixNumber::ExtFixNumber() = default;

ExtFixNumber::ExtFixNumber(unsigned int multiplier, ERoundType roundType)
    : FixNumber(multiplier), m_roundType(roundType)
{
}

ExtFixNumber::ExtFixNumber(unsigned int multiplier, qint64 value, ERoundType roundType)
    : FixNumber(multiplier, value), m_roundType(roundType)
{
}

ExtFixNumber::ExtFixNumber(unsigned int multiplier, double x, ERoundType roundType)
    : FixNumber(multiplier), m_roundType(roundType)
{
    ExtFixNumber::setDouble(x);
}

ExtFixNumber::ExtFixNumber(unsigned int multiplier, const QString &text, ERoundType roundType)
    : FixNumber(multiplier), m_roundType(roundType)
{
    // setString() calls the virtual setDouble(), which is ours by now.
    setString(text);
}

ExtFixNumber::~ExtFixNumber() = default;

FixNumber ExtFixNumber::round(unsigned int multiplier) const
{
    return roundBy(multiplier, m_roundType);
}

void ExtFixNumber::setDouble(double x)
{
    setDoubleBy(x, m_roundType);
}

ExtFixNumber ExtFixNumber::operator+(const FixNumber &other) const
{
    ExtFixNumber r(*this);
    r.combine(other, 1);
    return r;
}

ExtFixNumber ExtFixNumber::operator-(const FixNumber &other) const
{
    ExtFixNumber r(*this);
    r.combine(other, -1);
    return r;
}

ExtFixNumber &ExtFixNumber::operator+=(const FixNumber &other)
{
    FixNumber::operator+=(other);
    return *this;
}

ExtFixNumber &ExtFixNumber::operator-=(const FixNumber &other)
{
    FixNumber::operator-=(other);
    return *this;
}

} // namespace ravix
