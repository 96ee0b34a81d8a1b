// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QChar>
#include <QString>
#include <QVariantMap>

namespace ravix {

/// A decimal number held as a signed 64-bit integer scaled by a multiplier (a power of ten):
/// the number is value ÷ realMultiplier, so sums of prices never drift.
///
/// A multiplier of 0 marks a number without scale: toDouble() and toString() give the bare
/// value; in ordering and sums such a number counts as absent (below every scaled number,
/// contributing nothing), while == compares its bare value.
///
/// Doubles are read from their shortest round-trip text, so 2.675 is the decimal 2.675 (a tie)
/// although the double just below it is stored. Rounding works on the magnitude and restores the
/// sign, so −1.279 rounds like 1.279. Conversions and round() saturate beyond 64 bits; sums
/// wrap around.
class RAVIXCORE_EXPORT FixNumber
{
public:
    FixNumber();
    explicit FixNumber(unsigned int multiplier);
    FixNumber(unsigned int multiplier, qint64 value);
    FixNumber(unsigned int multiplier, double x);
    FixNumber(unsigned int multiplier, const QString &text);
    FixNumber(const FixNumber &other) = default;
    FixNumber(FixNumber &&other) noexcept = default;
    FixNumber &operator=(const FixNumber &other) = default;
    FixNumber &operator=(FixNumber &&other) noexcept = default;

    virtual ~FixNumber();

    /// value ÷ multiplier; the value itself for multiplier 0.
    virtual double toDouble() const;
    /// The default locale's decimal point, no group separator.
    virtual QString toString() const;
    /// Sign, integer part in groups of three joined by \a groupSeparator (nothing when null),
    /// \a decimalPoint, and exactly decimals() fraction digits.
    virtual QString toString(const QChar &decimalPoint, const QChar &groupSeparator) const;
    /// The same number under \a multiplier, rounded half to even when digits are dropped.
    virtual FixNumber round(unsigned int multiplier) const;
    /// The value nearest to x under the multiplier, ties to even.
    virtual void setDouble(double x);
    /// Reads "[-]digits[.|,digits]" (or ".digits"); other text leaves the number unchanged.
    virtual void setString(const QString &text);
    /// Takes multiplier and value from decimal text: "12,50" gives multiplier 100, value 1250.
    /// False for more than one decimal point, more than 9 fraction digits, or digits that do not
    /// form a 64-bit integer (then the multiplier is already set and the value is 0).
    virtual bool setAllFromString(const QString &text);
    /// Number of decimal digits of the multiplier: 100 → 2, 1 or 0 → 0.
    virtual int decimals() const;
    /// Multiplier := 10^d for 0 ≤ d ≤ 9; other d change nothing. The value is kept.
    virtual void setDecimal(int d);

    qint64 value() const { return m_value; }
    void setValue(const qint64 &value) { m_value = value; }
    unsigned int realMultiplier() const { return m_realMultiplier; }
    /// Changes only the scale, so the number it stands for changes.
    void setRealMultiplier(const unsigned int &multiplier) { m_realMultiplier = multiplier; }

    /// "rm" and "value", both as decimal text.
    QVariantMap toMap() const;
    void setMap(const QVariantMap &map);

    /// Exact comparison of the numbers, across multipliers; a multiplier of 0 compares by
    /// its bare value. Exact rather than a relative tolerance on the doubles, which would make
    /// different sums of ten billion and more equal and disagree with < and >.
    bool operator==(const FixNumber &other) const;
    bool operator!=(const FixNumber &other) const { return !(*this == other); }
    /// Ordering across multipliers; a number with multiplier 0 is below every scaled number.
    bool operator<(const FixNumber &other) const;
    bool operator>(const FixNumber &other) const;
    bool operator<=(const FixNumber &other) const { return *this == other || *this < other; }
    bool operator>=(const FixNumber &other) const { return *this == other || *this > other; }

    /// Sums under the larger multiplier; an operand with multiplier 0 contributes nothing.
    /// Values wrap around in 64-bit two's complement.
    FixNumber operator+(const FixNumber &other) const;
    FixNumber operator-(const FixNumber &other) const;
    FixNumber &operator+=(const FixNumber &other);
    FixNumber &operator-=(const FixNumber &other);

protected:
    /// Rounds to \a multiplier under a round type of ExtFixNumber.
    FixNumber roundBy(unsigned int multiplier, int roundType) const;
    /// Sets the value from \a x under a round type of ExtFixNumber.
    void setDoubleBy(double x, int roundType);
    /// *this := *this ± other as operator+ and operator- define it (\a sign is 1 or −1).
    void combine(const FixNumber &other, int sign);

private:
    unsigned int m_realMultiplier = 100;
    qint64 m_value = 0;
};

/// A FixNumber that carries its own rounding rule for doubles and for round().
class RAVIXCORE_EXPORT ExtFixNumber : public FixNumber
{
public:
    /// How a dropped remainder is rounded; every other value behaves as RoundDown.
    enum ERoundType : int {
        RoundHalfOdd = 0,  ///< ties go to the odd neighbour
        RoundHalfEven = 1, ///< ties go to the even neighbour (the rule of FixNumber)
        RoundHalfUp = 2,   ///< ties go away from zero
        RoundUp = 3,       ///< any remainder goes away from zero
        RoundDown = 4      ///< the remainder is dropped (toward zero)
    };

    ExtFixNumber();
    explicit ExtFixNumber(unsigned int multiplier, ERoundType roundType = RoundHalfEven);
    ExtFixNumber(unsigned int multiplier, qint64 value, ERoundType roundType = RoundHalfEven);
    ExtFixNumber(unsigned int multiplier, double x, ERoundType roundType = RoundHalfEven);
    ExtFixNumber(unsigned int multiplier, const QString &text,
                 ERoundType roundType = RoundHalfEven);
    ExtFixNumber(const ExtFixNumber &other) = default;
    ExtFixNumber(ExtFixNumber &&other) noexcept = default;
    ExtFixNumber &operator=(const ExtFixNumber &other) = default;
    ExtFixNumber &operator=(ExtFixNumber &&other) noexcept = default;
    ~ExtFixNumber() override;

    FixNumber round(unsigned int multiplier) const override;
    void setDouble(double x) override;

    ERoundType roundType() const { return m_roundType; }
    void setRoundType(const ERoundType &roundType) { m_roundType = roundType; }

    /// As for FixNumber; the result keeps this number's round type.
    ExtFixNumber operator+(const FixNumber &other) const;
    ExtFixNumber operator-(const FixNumber &other) const;
    ExtFixNumber &operator+=(const FixNumber &other);
    ExtFixNumber &operator-=(const FixNumber &other);

private:
    ERoundType m_roundType = RoundHalfEven;
};

} // namespace ravix
