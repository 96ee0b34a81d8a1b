// SPDX-License-Identifier: MIT
#include "confighelper/configparameters.h"

#include <cmath>
#include <limits>

namespace ravix {

namespace {

const QString VAL_KEY = QStringLiteral("val");
const QString RANGE_KEY = QStringLiteral("range");
const QString ENUM_KEY = QStringLiteral("enum");
const QString KEY_KEY = QStringLiteral("key");
const QString FROM_KEY = QStringLiteral("f");
const QString TO_KEY = QStringLiteral("t");

} // namespace

// ---- IntConfigParameter<T> ----

template <typename T> QPair<T, T> IntConfigParameter<T>::defaultRange()
{
    return qMakePair(std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
}

template <typename T>
IntConfigParameter<T>::IntConfigParameter(const QString &name)
    : AbstractConfigParameter(ownType(), name), m_range(defaultRange())
{
}

template <typename T>
IntConfigParameter<T>::IntConfigParameter(const QString &name, T value)
    : AbstractConfigParameter(ownType(), name), m_value(value), m_range(defaultRange())
{
}

template <typename T>
IntConfigParameter<T>::IntConfigParameter(const QString &name, const QPair<T, T> &range, T value)
    : AbstractConfigParameter(ownType(), name), m_value(value), m_range(range)
{
}

template <typename T> IntConfigParameter<T>::~IntConfigParameter() = default;

template <typename T> bool IntConfigParameter<T>::isValid() const
{
    return AbstractConfigParameter::isValid() && type() == ownType();
}

template <typename T> bool IntConfigParameter<T>::valueIsValid() const
{
    return isValid() && m_range.first <= m_value && m_value <= m_range.second &&
           (m_enumerated.isEmpty() || m_enumerated.contains(m_value));
}

template <typename T> bool IntConfigParameter<T>::rangeIsDefault() const
{
    // The tag decides, so an object whose tag does not match its class never has a default range.
    const qlonglong lower = m_range.first;
    const qlonglong upper = m_range.second;
    switch (type()) {
    case Int:
        return lower == std::numeric_limits<int>::min() && upper == std::numeric_limits<int>::max();
    case LongLong:
        return lower == std::numeric_limits<qlonglong>::min() &&
               upper == std::numeric_limits<qlonglong>::max();
    default:
        return false;
    }
}

template <typename T> QVariantMap IntConfigParameter<T>::toMap() const
{
    QVariantMap map = AbstractConfigParameter::toMap();
    map.insert(VAL_KEY, QString::number(m_value, 10));
    if (!rangeIsDefault()) {
        QVariantMap range;
        range.insert(FROM_KEY, QString::number(m_range.first, 10));
        range.insert(TO_KEY, QString::number(m_range.second, 10));
        map.insert(RANGE_KEY, range);
    }
    if (!m_enumerated.isEmpty()) {
        QVariantList list;
        for (T v : m_enumerated)
            list.append(QString::number(v, 10));
        map.insert(ENUM_KEY, list);
    }
    return map;
}

template <typename T> void IntConfigParameter<T>::parseMap(const QVariantMap &map)
{
    AbstractConfigParameter::parseMap(map);
    // Numbers read through qlonglong are cut to T (the low bits for int), as a cast would.
    m_value = 0;
    if (type() == LongLong)
        m_value = static_cast<T>(map.value(VAL_KEY).toLongLong());
    else if (type() == Int)
        m_value = static_cast<T>(map.value(VAL_KEY).toInt());

    m_range = defaultRange();
    if (map.contains(RANGE_KEY)) {
        const QVariantMap range = map.value(RANGE_KEY).toMap();
        m_range.first = static_cast<T>(range.value(FROM_KEY).toLongLong());
        m_range.second = static_cast<T>(range.value(TO_KEY).toLongLong());
    }

    m_enumerated.clear();
    if (map.contains(ENUM_KEY)) {
        const QVariantList list = map.value(ENUM_KEY).toList();
        for (const QVariant &v : list)
            m_enumerated.append(static_cast<T>(v.toLongLong()));
    }
}

template <typename T> QSharedPointer<AbstractConfigParameter> IntConfigParameter<T>::clone() const
{
    return QSharedPointer<IntConfigParameter<T>>::create(*this);
}

template <typename T> bool IntConfigParameter<T>::operator==(const IntConfigParameter &other) const
{
    return AbstractConfigParameter::operator==(other) && m_value == other.m_value;
}

template class IntConfigParameter<int>;
template class IntConfigParameter<qlonglong>;

// ---- BytesConfigParameter ----

BytesConfigParameter::BytesConfigParameter() : AbstractConfigParameter(Bytes) {}

BytesConfigParameter::BytesConfigParameter(const QString &name, const QByteArray &value)
    : AbstractConfigParameter(Bytes, name), m_value(value)
{
}

BytesConfigParameter::~BytesConfigParameter() = default;

bool BytesConfigParameter::isValid() const
{
    return type() == Bytes && !name().isEmpty();
}

bool BytesConfigParameter::valueIsValid() const
{
    return isValid();
}

QVariantMap BytesConfigParameter::toMap() const
{
    QVariantMap map = AbstractConfigParameter::toMap();
    if (!m_value.isEmpty())
        map.insert(VAL_KEY, QString::fromLatin1(m_value.toBase64()));
    return map;
}

void BytesConfigParameter::parseMap(const QVariantMap &map)
{
    AbstractConfigParameter::parseMap(map);
    if (map.contains(VAL_KEY))
        m_value = QByteArray::fromBase64(map.value(VAL_KEY).toString().toLatin1());
    else
        m_value.clear();
}

QSharedPointer<AbstractConfigParameter> BytesConfigParameter::clone() const
{
    return QSharedPointer<BytesConfigParameter>::create(*this);
}

bool BytesConfigParameter::operator==(const BytesConfigParameter &other) const
{
    return AbstractConfigParameter::operator==(other) && m_value == other.m_value;
}

// ---- DoubleConfigParameter ----

QPair<double, double> DoubleConfigParameter::defaultRange()
{
    return qMakePair(-std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
}

bool DoubleConfigParameter::fuzzyEqual(double a, double b)
{
    // Identical values are equal first, so that two infinities of one sign compare equal (their
    // difference is NaN); other infinite pairs would pass the relative test, NaN equals nothing.
    if (a == b)
        return true;
    if (!std::isfinite(a) || !std::isfinite(b))
        return false;
    return std::fabs(a - b) * 1000000000000.0 <= std::min(std::fabs(a), std::fabs(b));
}

DoubleConfigParameter::DoubleConfigParameter()
    : AbstractConfigParameter(Double), m_range(defaultRange())
{
}

DoubleConfigParameter::DoubleConfigParameter(const QString &name, double value)
    : AbstractConfigParameter(Double, name), m_value(value), m_range(defaultRange())
{
}

DoubleConfigParameter::DoubleConfigParameter(const QString &name,
                                             const QPair<double, double> &range, double value)
    : AbstractConfigParameter(Double, name), m_value(value), m_range(range)
{
}

DoubleConfigParameter::~DoubleConfigParameter() = default;

bool DoubleConfigParameter::isValid() const
{
    return !name().isEmpty() && type() == Double;
}

bool DoubleConfigParameter::valueIsValid() const
{
    // Written as two comparisons so that a NaN value or bound fails.
    return isValid() && m_range.first <= m_value && m_value <= m_range.second;
}

bool DoubleConfigParameter::rangeIsDefault() const
{
    const QPair<double, double> def = defaultRange();
    return fuzzyEqual(m_range.first, def.first) && fuzzyEqual(m_range.second, def.second);
}

QVariantMap DoubleConfigParameter::toMap() const
{
    QVariantMap map = AbstractConfigParameter::toMap();
    map.insert(VAL_KEY, QVariant(m_value));
    if (!rangeIsDefault()) {
        QVariantMap range;
        range.insert(FROM_KEY, QVariant(m_range.first));
        range.insert(TO_KEY, QVariant(m_range.second));
        map.insert(RANGE_KEY, range);
    }
    return map;
}

void DoubleConfigParameter::parseMap(const QVariantMap &map)
{
    AbstractConfigParameter::parseMap(map);
    m_value = map.value(VAL_KEY).toDouble();
    m_range = defaultRange();
    if (map.contains(RANGE_KEY)) {
        const QVariantMap range = map.value(RANGE_KEY).toMap();
        m_range.first = range.value(FROM_KEY).toDouble();
        m_range.second = range.value(TO_KEY).toDouble();
    }
}

QSharedPointer<AbstractConfigParameter> DoubleConfigParameter::clone() const
{
    return QSharedPointer<DoubleConfigParameter>::create(*this);
}

bool DoubleConfigParameter::operator==(const DoubleConfigParameter &other) const
{
    return AbstractConfigParameter::operator==(other) && fuzzyEqual(m_value, other.m_value);
}

// ---- StringConfigParameter ----

StringConfigParameter::StringConfigParameter() : AbstractConfigParameter(String) {}

StringConfigParameter::StringConfigParameter(const QString &name, const QString &value)
    : AbstractConfigParameter(String, name), m_value(value)
{
}

StringConfigParameter::StringConfigParameter(const QString &name, const QStringList &enumerated,
                                             const QString &value)
    : AbstractConfigParameter(String, name), m_value(value), m_enumerated(enumerated)
{
}

StringConfigParameter::~StringConfigParameter() = default;

bool StringConfigParameter::isValid() const
{
    return !name().isEmpty() && type() == String;
}

bool StringConfigParameter::valueIsValid() const
{
    return isValid() &&
           (m_enumerated.isEmpty() || m_enumerated.contains(m_value, Qt::CaseInsensitive));
}

QVariantMap StringConfigParameter::toMap() const
{
    QVariantMap map = AbstractConfigParameter::toMap();
    if (!m_value.isEmpty())
        map.insert(VAL_KEY, m_value);
    if (!m_enumerated.isEmpty()) {
        QVariantList list;
        for (const QString &v : m_enumerated)
            list.append(v);
        map.insert(ENUM_KEY, list);
    }
    return map;
}

void StringConfigParameter::parseMap(const QVariantMap &map)
{
    AbstractConfigParameter::parseMap(map);
    m_value = map.value(VAL_KEY).toString();
    m_enumerated.clear();
    if (map.contains(ENUM_KEY)) {
        const QVariantList list = map.value(ENUM_KEY).toList();
        for (const QVariant &v : list)
            m_enumerated.append(v.toString());
    }
}

QSharedPointer<AbstractConfigParameter> StringConfigParameter::clone() const
{
    return QSharedPointer<StringConfigParameter>::create(*this);
}

bool StringConfigParameter::operator==(const StringConfigParameter &other) const
{
    return AbstractConfigParameter::operator==(other) && m_value == other.m_value;
}

// ---- KeyValConfigParameter ----

KeyValConfigParameter::KeyValConfigParameter() : AbstractConfigParameter(KeyVal) {}

KeyValConfigParameter::KeyValConfigParameter(const QString &name)
    : AbstractConfigParameter(KeyVal, name)
{
}

KeyValConfigParameter::KeyValConfigParameter(const QString &name, const QVariantMap &enumerated,
                                             const QString &key)
    : AbstractConfigParameter(KeyVal, name), m_key(key), m_enumerated(enumerated)
{
}

KeyValConfigParameter::~KeyValConfigParameter() = default;

bool KeyValConfigParameter::isValid() const
{
    return type() == KeyVal && !name().isEmpty() && !m_enumerated.isEmpty();
}

bool KeyValConfigParameter::valueIsValid() const
{
    return isValid() && m_enumerated.contains(m_key);
}

QVariantMap KeyValConfigParameter::toMap() const
{
    QVariantMap map = AbstractConfigParameter::toMap();
    if (!m_key.isEmpty())
        map.insert(KEY_KEY, m_key);
    if (!m_enumerated.isEmpty())
        map.insert(ENUM_KEY, m_enumerated);
    return map;
}

void KeyValConfigParameter::parseMap(const QVariantMap &map)
{
    AbstractConfigParameter::parseMap(map);
    m_key = map.value(KEY_KEY).toString();
    m_enumerated = map.value(ENUM_KEY).toMap();
}

QSharedPointer<AbstractConfigParameter> KeyValConfigParameter::clone() const
{
    return QSharedPointer<KeyValConfigParameter>::create(*this);
}

bool KeyValConfigParameter::operator==(const KeyValConfigParameter &other) const
{
    return AbstractConfigParameter::operator==(other) && m_key == other.m_key &&
           m_enumerated == other.m_enumerated;
}

} // namespace ravix
