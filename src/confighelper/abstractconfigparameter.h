// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>
#include <QSharedPointer>
#include <QString>
#include <QVariant>
#include <QVariantMap>

namespace ravix {

/// Polymorphic base of every configuration parameter: a name, a type tag and the shared part of
/// the variant-map form. Parameters travel as QSharedPointer<AbstractConfigParameter>.
///
/// The map form is what hosts store, so it is fixed. Every parameter's map has "type" (the
/// Type number as an integer) and, by type:
/// - Int, LongLong: "val" as decimal text; "range" a map {"f": from, "t": to} of decimal texts,
///   absent for the type's full range; "enum" a list of decimal texts when values are listed.
///   Text keeps 64-bit values whole through JSON, whose numbers are doubles.
/// - Double: "val" a number; "range" {"f", "t"} numbers, absent for the full range.
/// - String: "val" the text (absent when empty); "enum" the list of allowed texts.
/// - Bytes: "val" Base64 text (absent when empty).
/// - KeyVal: "key" the chosen key; "enum" a map of key to value.
/// A group's map (ConfigParametresGroup) holds one such map per member, keyed by its name.
/// The parameter's own name is not written into its map.
class RAVIXCORE_EXPORT AbstractConfigParameter
{
public:
    /// The numbers are stored in maps as plain integers; keep them stable.
    enum Type : qint32 {
        Undefined = 0,
        Group = 1,
        Int = 2,
        LongLong = 3,
        String = 4,
        Bytes = 5,
        Double = 6,
        KeyVal = 7
    };

    explicit AbstractConfigParameter(Type type);
    AbstractConfigParameter(Type type, const QString &name);
    AbstractConfigParameter(const AbstractConfigParameter &other) = default;
    AbstractConfigParameter(AbstractConfigParameter &&other) = default;
    AbstractConfigParameter &operator=(const AbstractConfigParameter &other) = default;
    AbstractConfigParameter &operator=(AbstractConfigParameter &&other) = default;
    virtual ~AbstractConfigParameter();

    /// True when the type is one of the known tags (1-7) and the name is not empty.
    virtual bool isValid() const;
    /// True when the parameter is valid and its value satisfies its constraints.
    virtual bool valueIsValid() const = 0;
    /// The map form: "type" here, the derived classes add their own keys. The name is not written.
    virtual QVariantMap toMap() const;
    /// Reads "type" (0 when missing); the name is left as it is.
    virtual void parseMap(const QVariantMap &map);
    /// An independent copy of the same dynamic class.
    virtual QSharedPointer<AbstractConfigParameter> clone() const = 0;

    /// Same type and same name.
    bool operator==(const AbstractConfigParameter &other) const;
    bool operator!=(const AbstractConfigParameter &other) const { return !(*this == other); }

    QString name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    Type type() const { return m_type; }

    // Read-only conversions of the value, chosen by the dynamic class. An invalid parameter, or
    // one whose class holds no scalar value (a group), gives zero or null with ok false.
    int toInt(bool *ok = nullptr) const;
    qlonglong toLongLong(bool *ok = nullptr) const;
    double toDouble(bool *ok = nullptr) const;
    QString toString() const;
    QByteArray toByteArray() const;
    QVariant valueToVariant() const;

private:
    template <typename I> I toInteger(bool *ok) const;

    QString m_name;
    Type m_type;
};

} // namespace ravix
