// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/confighelper/abstractconfigparameter.h>
#include <ravixcore/ravixcore_export.h>

#include <QList>
#include <QPair>
#include <QStringList>

#include <type_traits>

namespace ravix {

/// Whole-number parameter with an inclusive range and an optional list of allowed values.
/// Instantiated for int (type Int) and qlonglong (type LongLong) only.
template <typename T> class IntConfigParameter : public AbstractConfigParameter
{
    static_assert(std::is_same<T, int>::value || std::is_same<T, qlonglong>::value,
                  "IntConfigParameter holds int or qlonglong");

public:
    /// The type tag of this instantiation.
    static constexpr Type ownType() { return std::is_same<T, int>::value ? Int : LongLong; }
    /// The full range of T, the range a map without "range" restores.
    static QPair<T, T> defaultRange();

    explicit IntConfigParameter(const QString &name = QString());
    IntConfigParameter(const QString &name, T value);
    IntConfigParameter(const QString &name, const QPair<T, T> &range, T value);
    IntConfigParameter(const IntConfigParameter &other) = default;
    IntConfigParameter(IntConfigParameter &&other) = default;
    IntConfigParameter &operator=(const IntConfigParameter &other) = default;
    IntConfigParameter &operator=(IntConfigParameter &&other) = default;
    ~IntConfigParameter() override;

    bool isValid() const override;
    /// Valid, within the range and, when allowed values are listed, among them.
    bool valueIsValid() const override;
    QVariantMap toMap() const override;
    void parseMap(const QVariantMap &map) override;
    QSharedPointer<AbstractConfigParameter> clone() const override;

    /// Same type, name and value; the range and the allowed values are constraints, not compared.
    bool operator==(const IntConfigParameter &other) const;
    bool operator!=(const IntConfigParameter &other) const { return !(*this == other); }

    T value() const { return m_value; }
    void setValue(T value) { m_value = value; }
    QPair<T, T> range() const { return m_range; }
    void setRange(const QPair<T, T> &range) { m_range = range; }
    QList<T> enumerated() const { return m_enumerated; }
    void setEnumerated(const QList<T> &enumerated) { m_enumerated = enumerated; }
    /// Decided by the type tag: the full 32-bit range for Int, the full 64-bit range for LongLong.
    bool rangeIsDefault() const;

private:
    T m_value = 0;
    QPair<T, T> m_range;
    QList<T> m_enumerated;
};

// Both instantiations live in the library; hosts use them without instantiating their own.
extern template class RAVIXCORE_EXPORT IntConfigParameter<int>;
extern template class RAVIXCORE_EXPORT IntConfigParameter<qlonglong>;

/// Raw bytes, Base64 in the map form. No constraint.
class RAVIXCORE_EXPORT BytesConfigParameter : public AbstractConfigParameter
{
public:
    BytesConfigParameter();
    BytesConfigParameter(const QString &name, const QByteArray &value);
    BytesConfigParameter(const BytesConfigParameter &other) = default;
    BytesConfigParameter(BytesConfigParameter &&other) = default;
    BytesConfigParameter &operator=(const BytesConfigParameter &other) = default;
    BytesConfigParameter &operator=(BytesConfigParameter &&other) = default;
    ~BytesConfigParameter() override;

    bool isValid() const override;
    /// The same as isValid(): bytes have no constraint.
    bool valueIsValid() const override;
    QVariantMap toMap() const override;
    void parseMap(const QVariantMap &map) override;
    QSharedPointer<AbstractConfigParameter> clone() const override;

    bool operator==(const BytesConfigParameter &other) const;
    bool operator!=(const BytesConfigParameter &other) const { return !(*this == other); }

    QByteArray value() const { return m_value; }
    void setValue(const QByteArray &value) { m_value = value; }
    operator QByteArray() const { return m_value; }

private:
    QByteArray m_value;
};

/// Floating-point parameter with an inclusive range.
class RAVIXCORE_EXPORT DoubleConfigParameter : public AbstractConfigParameter
{
public:
    /// Minus and plus the largest finite double.
    static QPair<double, double> defaultRange();
    /// Relative comparison with twelve significant digits; zero equals only zero.
    static bool fuzzyEqual(double a, double b);

    DoubleConfigParameter();
    DoubleConfigParameter(const QString &name, double value);
    DoubleConfigParameter(const QString &name, const QPair<double, double> &range, double value);
    DoubleConfigParameter(const DoubleConfigParameter &other) = default;
    DoubleConfigParameter(DoubleConfigParameter &&other) = default;
    DoubleConfigParameter &operator=(const DoubleConfigParameter &other) = default;
    DoubleConfigParameter &operator=(DoubleConfigParameter &&other) = default;
    ~DoubleConfigParameter() override;

    bool isValid() const override;
    /// Valid and within the range (a NaN value or bound fails).
    bool valueIsValid() const override;
    QVariantMap toMap() const override;
    void parseMap(const QVariantMap &map) override;
    QSharedPointer<AbstractConfigParameter> clone() const override;

    /// Same type and name, values fuzzily equal; the ranges are not compared.
    bool operator==(const DoubleConfigParameter &other) const;
    bool operator!=(const DoubleConfigParameter &other) const { return !(*this == other); }

    double value() const { return m_value; }
    void setValue(double value) { m_value = value; }
    QPair<double, double> range() const { return m_range; }
    void setRange(const QPair<double, double> &range) { m_range = range; }
    bool rangeIsDefault() const;

private:
    double m_value = 0.0;
    QPair<double, double> m_range;
};

/// Text parameter with an optional list of allowed values, matched without regard to case.
class RAVIXCORE_EXPORT StringConfigParameter : public AbstractConfigParameter
{
public:
    StringConfigParameter();
    StringConfigParameter(const QString &name, const QString &value);
    StringConfigParameter(const QString &name, const QStringList &enumerated, const QString &value);
    StringConfigParameter(const StringConfigParameter &other) = default;
    StringConfigParameter(StringConfigParameter &&other) = default;
    StringConfigParameter &operator=(const StringConfigParameter &other) = default;
    StringConfigParameter &operator=(StringConfigParameter &&other) = default;
    ~StringConfigParameter() override;

    bool isValid() const override;
    /// Valid and, when allowed values are listed, among them (case-insensitive).
    bool valueIsValid() const override;
    QVariantMap toMap() const override;
    void parseMap(const QVariantMap &map) override;
    QSharedPointer<AbstractConfigParameter> clone() const override;

    /// Same type and name, values equal with case; the allowed values are not compared.
    bool operator==(const StringConfigParameter &other) const;
    bool operator!=(const StringConfigParameter &other) const { return !(*this == other); }

    QString value() const { return m_value; }
    void setValue(const QString &value) { m_value = value; }
    operator QString() const { return m_value; }
    QStringList enumerated() const { return m_enumerated; }
    void setEnumerated(const QStringList &enumerated) { m_enumerated = enumerated; }

private:
    QString m_value;
    QStringList m_enumerated;
};

/// A choice among the entries of a map; the key selects the value.
class RAVIXCORE_EXPORT KeyValConfigParameter : public AbstractConfigParameter
{
public:
    KeyValConfigParameter();
    explicit KeyValConfigParameter(const QString &name);
    KeyValConfigParameter(const QString &name, const QVariantMap &enumerated, const QString &key);
    KeyValConfigParameter(const KeyValConfigParameter &other) = default;
    KeyValConfigParameter(KeyValConfigParameter &&other) = default;
    KeyValConfigParameter &operator=(const KeyValConfigParameter &other) = default;
    KeyValConfigParameter &operator=(KeyValConfigParameter &&other) = default;
    ~KeyValConfigParameter() override;

    bool isValid() const override;
    /// Valid and the key names one of the entries.
    bool valueIsValid() const override;
    QVariantMap toMap() const override;
    void parseMap(const QVariantMap &map) override;
    QSharedPointer<AbstractConfigParameter> clone() const override;

    bool operator==(const KeyValConfigParameter &other) const;
    bool operator!=(const KeyValConfigParameter &other) const { return !(*this == other); }

    QString key() const { return m_key; }
    void setKey(const QString &key) { m_key = key; }
    QVariantMap enumerated() const { return m_enumerated; }
    void setEnumerated(const QVariantMap &enumerated) { m_enumerated = enumerated; }
    /// The entry under the key, or an invalid variant.
    QVariant value() const { return m_enumerated.value(m_key); }
    operator QVariant() const { return value(); }
    /// The entry under \a k, or an invalid variant.
    QVariant operator[](const QString &k) const { return m_enumerated.value(k); }

private:
    QString m_key;
    QVariantMap m_enumerated;
};

} // namespace ravix
