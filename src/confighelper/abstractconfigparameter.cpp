// SPDX-License-Identifier: MIT
#include "confighelper/abstractconfigparameter.h"

#include "confighelper/configparameters.h"

#include <cmath>
#include <limits>
#include <type_traits>

namespace ravix {

namespace {

const QString TYPE_KEY = QStringLiteral("type");

void setOk(bool *ok, bool value)
{
    if (ok)
        *ok = value;
}

// Truncates toward zero; values beyond the range of I saturate and NaN gives 0, because a plain
// cast of such a double is undefined.
template <typename I> I truncated(double v)
{
    if (std::isnan(v))
        return 0;
    if (v <= static_cast<double>(std::numeric_limits<I>::min()))
        return std::numeric_limits<I>::min();
    if (v >= static_cast<double>(std::numeric_limits<I>::max()))
        return std::numeric_limits<I>::max();
    return static_cast<I>(v);
}

// Decimal text (QString or QByteArray) read as int or qlonglong.
template <typename I, typename Text> I textToInteger(const Text &text, bool *ok)
{
    if constexpr (std::is_same<I, int>::value)
        return text.toInt(ok, 10);
    else
        return text.toLongLong(ok, 10);
}

template <typename I> I variantToInteger(const QVariant &v, bool *ok)
{
    if constexpr (std::is_same<I, int>::value)
        return v.toInt(ok);
    else
        return v.toLongLong(ok);
}

} // namespace

AbstractConfigParameter::AbstractConfigParameter(Type type) : m_type(type) {}

AbstractConfigParameter::AbstractConfigParameter(Type type, const QString &name)
    : m_name(name), m_type(type)
{
}

AbstractConfigParameter::~AbstractConfigParameter() = default;

bool AbstractConfigParameter::isValid() const
{
    return m_type >= Group && m_type <= KeyVal && !m_name.isEmpty();
}

QVariantMap AbstractConfigParameter::toMap() const
{
    QVariantMap map;
    map.insert(TYPE_KEY, QVariant(static_cast<int>(m_type)));
    return map;
}

void AbstractConfigParameter::parseMap(const QVariantMap &map)
{
    m_type = static_cast<Type>(map.value(TYPE_KEY).toInt());
}

bool AbstractConfigParameter::operator==(const AbstractConfigParameter &other) const
{
    return m_type == other.m_type && m_name == other.m_name;
}

// toInt() and toLongLong() differ only in the target type.
template <typename I> I AbstractConfigParameter::toInteger(bool *ok) const
{
    setOk(ok, false);
    if (!isValid())
        return 0;
    if (auto p = dynamic_cast<const IntConfigParameter<int> *>(this)) {
        setOk(ok, true);
        return p->value();
    }
    if (auto p = dynamic_cast<const IntConfigParameter<qlonglong> *>(this)) {
        const qlonglong v = p->value();
        if constexpr (!std::is_same<I, int>::value) {
            setOk(ok, true);
            return static_cast<I>(v);
        }
        setOk(ok, v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max());
        // The low 32 bits, as the value would be cut when stored in an int.
        return static_cast<I>(static_cast<int>(static_cast<quint32>(static_cast<quint64>(v))));
    }
    if (auto p = dynamic_cast<const StringConfigParameter *>(this))
        return textToInteger<I>(p->value(), ok);
    if (auto p = dynamic_cast<const BytesConfigParameter *>(this))
        return textToInteger<I>(p->value(), ok);
    if (auto p = dynamic_cast<const DoubleConfigParameter *>(this))
        return truncated<I>(p->value());
    if (auto p = dynamic_cast<const KeyValConfigParameter *>(this))
        return variantToInteger<I>(p->value(), ok);
    return 0;
}

int AbstractConfigParameter::toInt(bool *ok) const
{
    return toInteger<int>(ok);
}

qlonglong AbstractConfigParameter::toLongLong(bool *ok) const
{
    return toInteger<qlonglong>(ok);
}

double AbstractConfigParameter::toDouble(bool *ok) const
{
    setOk(ok, false);
    if (!isValid())
        return 0.0;
    if (auto p = dynamic_cast<const IntConfigParameter<int> *>(this)) {
        setOk(ok, true);
        return p->value();
    }
    if (auto p = dynamic_cast<const IntConfigParameter<qlonglong> *>(this)) {
        setOk(ok, true);
        return static_cast<double>(p->value());
    }
    if (auto p = dynamic_cast<const StringConfigParameter *>(this))
        return p->value().toDouble(ok);
    if (auto p = dynamic_cast<const BytesConfigParameter *>(this))
        return p->value().toDouble(ok);
    if (auto p = dynamic_cast<const DoubleConfigParameter *>(this)) {
        setOk(ok, true);
        return p->value();
    }
    if (auto p = dynamic_cast<const KeyValConfigParameter *>(this))
        return p->value().toDouble(ok);
    return 0.0;
}

QString AbstractConfigParameter::toString() const
{
    if (!isValid())
        return QString();
    if (auto p = dynamic_cast<const IntConfigParameter<int> *>(this))
        return QString::number(p->value(), 10);
    if (auto p = dynamic_cast<const IntConfigParameter<qlonglong> *>(this))
        return QString::number(p->value(), 10);
    if (auto p = dynamic_cast<const StringConfigParameter *>(this))
        return p->value();
    if (auto p = dynamic_cast<const BytesConfigParameter *>(this))
        return QString::fromLatin1(p->value().toBase64());
    if (auto p = dynamic_cast<const DoubleConfigParameter *>(this))
        return QString::number(p->value(), 'g', 6);
    if (auto p = dynamic_cast<const KeyValConfigParameter *>(this))
        return p->value().toString();
    return QString();
}

QByteArray AbstractConfigParameter::toByteArray() const
{
    if (!isValid())
        return QByteArray();
    if (auto p = dynamic_cast<const IntConfigParameter<int> *>(this))
        return QByteArray::number(p->value(), 10);
    if (auto p = dynamic_cast<const IntConfigParameter<qlonglong> *>(this))
        return QByteArray::number(p->value(), 10);
    if (auto p = dynamic_cast<const StringConfigParameter *>(this))
        return p->value().toUtf8();
    if (auto p = dynamic_cast<const BytesConfigParameter *>(this))
        return p->value();
    if (auto p = dynamic_cast<const DoubleConfigParameter *>(this))
        return QByteArray::number(p->value(), 'g', 6);
    if (auto p = dynamic_cast<const KeyValConfigParameter *>(this))
        return p->value().toByteArray();
    return QByteArray();
}

QVariant AbstractConfigParameter::valueToVariant() const
{
    if (!isValid())
        return QVariant();
    if (auto p = dynamic_cast<const IntConfigParameter<int> *>(this))
        return QVariant(p->value());
    if (auto p = dynamic_cast<const IntConfigParameter<qlonglong> *>(this))
        return QVariant(p->value());
    if (auto p = dynamic_cast<const StringConfigParameter *>(this))
        return QVariant(p->value());
    if (auto p = dynamic_cast<const BytesConfigParameter *>(this))
        return QVariant(p->value().toBase64()); // the map form's text, not the raw bytes
    if (auto p = dynamic_cast<const DoubleConfigParameter *>(this))
        return QVariant(p->value());
    if (auto p = dynamic_cast<const KeyValConfigParameter *>(this))
        return p->value();
    return QVariant();
}

} // namespace ravix
