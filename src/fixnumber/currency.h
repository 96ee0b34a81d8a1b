// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QString>
#include <QVariantMap>

namespace ravix {

/// One currency: ISO 4217 codes, the scale of its minor unit, the locale that names it and the
/// symbols and names receipts print. Amounts are integers in minor units.
class RAVIXCORE_EXPORT Currency
{
public:
    Currency();
    explicit Currency(const QVariantMap &map);

    int number3() const { return m_number3; }
    void setNumber3(const int &number3) { m_number3 = number3; }
    QString alpha3() const { return m_alpha3; }
    void setAlpha3(const QString &alpha3) { m_alpha3 = alpha3; }
    unsigned int realMultiplier() const { return m_realMultiplier; }
    void setRealMultiplier(const unsigned int &multiplier) { m_realMultiplier = multiplier; }
    /// A negative multiplier stores 0.
    void setRealMultiplier(const int &multiplier);
    QString locale() const { return m_locale; }
    void setLocale(const QString &locale) { m_locale = locale; }
    void setCurrencySymbol(const QString &symbol) { m_currencySymbol = symbol; }
    QString extSymbol() const { return m_extSymbol; }
    void setExtSymbol(const QString &symbol) { m_extSymbol = symbol; }
    QString nameRu() const { return m_nameRu; }
    void setNameRu(const QString &name) { m_nameRu = name; }
    QString nameEn() const { return m_nameEn; }
    void setNameEn(const QString &name) { m_nameEn = name; }

    /// Number of decimals of the multiplier: 100 → 2.
    int decimals() const;
    /// A numeric code of at least 1, an alphabetic code and a multiplier.
    bool isValid() const;

    /// Codes, multiplier and the stored symbols; locale and names are not compared.
    bool operator==(const Currency &other) const;
    bool operator!=(const Currency &other) const { return !(*this == other); }
    /// Ordering by the numeric code.
    bool operator<(const Currency &other) const { return m_number3 < other.m_number3; }
    bool operator<=(const Currency &other) const { return m_number3 <= other.m_number3; }
    bool operator>(const Currency &other) const { return m_number3 > other.m_number3; }
    bool operator>=(const Currency &other) const { return m_number3 >= other.m_number3; }

    /// Keys "n3", "a3", "rm", "locale", "sym", "esym", "nru", "nen".
    QVariantMap toMap() const;
    void setMap(const QVariantMap &map);

    /// The locale's display name of its currency; alpha3 without a locale or for "unknown".
    QString currencyName() const;
    /// The stored symbol, else the locale's symbol; alpha3 without a locale or for "unknown".
    QString currencySymbol() const;

    /// Minor units to major units.
    double valueToDouble(qint64 v) const;
    /// Major units to minor units, rounded half to even on the decimal reading of \a x.
    qint64 doubleToValue(double x) const;
    /// "1 234,56 RUB": the default locale's decimal point, then alpha3 or currencySymbol().
    QString valueToString(qint64 v, bool useAlpha3, const QChar &groupSeparator) const;
    /// The bare number with the default locale's decimal point.
    QString valueToString(qint64 v) const;

    /// The sum in words for printed documents: "one thousand two hundred R, 50 c ". The words
    /// come from the installed translations (context "QObject"); the words of digits are read
    /// at the first call and kept for the life of the process, so install the catalogue before.
    /// Zero is always "ноль ". The units are given as they are to be printed. Hundredths are
    /// rounded half up; sums beyond ±999999999999.99 give the text "Big money ...".
    static QString sumAsString(double sum, const QString &majorUnit, const QString &minorUnit);

private:
    int m_number3 = 0;
    QString m_alpha3;
    unsigned int m_realMultiplier = 0;
    QString m_locale;
    QString m_currencySymbol;
    QString m_extSymbol;
    QString m_nameRu;
    QString m_nameEn;
};

} // namespace ravix
