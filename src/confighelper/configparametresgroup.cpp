// SPDX-License-Identifier: MIT
#include "confighelper/configparametresgroup.h"

#include "confighelper/configparameters.h"
#include "logger/logwrappers.h"

#include <QDebug>

namespace ravix {

namespace {

const QString TYPE_KEY = QStringLiteral("type");

ConfigParametresGroup::ParametersMap clonedMembers(const ConfigParametresGroup::ParametersMap &src)
{
    ConfigParametresGroup::ParametersMap copy;
    for (auto it = src.cbegin(); it != src.cend(); ++it)
        copy.insert(it.key(), it.value() ? it.value()->clone() : it.value());
    return copy;
}

QSharedPointer<AbstractConfigParameter> createMember(int type, const QString &name)
{
    switch (type) {
    case AbstractConfigParameter::Group:
        return QSharedPointer<ConfigParametresGroup>::create(name);
    case AbstractConfigParameter::Int:
        return QSharedPointer<IntConfigParameter<int>>::create(name);
    case AbstractConfigParameter::LongLong:
        return QSharedPointer<IntConfigParameter<qlonglong>>::create(name);
    case AbstractConfigParameter::String:
        return QSharedPointer<StringConfigParameter>::create(name, QString());
    case AbstractConfigParameter::Bytes:
        return QSharedPointer<BytesConfigParameter>::create(name, QByteArray());
    case AbstractConfigParameter::Double:
        return QSharedPointer<DoubleConfigParameter>::create(name, 0.0);
    case AbstractConfigParameter::KeyVal:
        return QSharedPointer<KeyValConfigParameter>::create(name);
    default:
        return {};
    }
}

} // namespace

ConfigParametresGroup::ConfigParametresGroup() : AbstractConfigParameter(Group) {}

ConfigParametresGroup::ConfigParametresGroup(const QString &name)
    : AbstractConfigParameter(Group, name)
{
}

ConfigParametresGroup::ConfigParametresGroup(const ConfigParametresGroup &other)
    : AbstractConfigParameter(other), m_parameters(clonedMembers(other.m_parameters))
{
}

ConfigParametresGroup::ConfigParametresGroup(ConfigParametresGroup &&other)
    : AbstractConfigParameter(other), m_parameters(std::move(other.m_parameters))
{
}

ConfigParametresGroup &ConfigParametresGroup::operator=(const ConfigParametresGroup &other)
{
    // Clone before assigning, so that assigning a group to itself keeps its members.
    ParametersMap copy = clonedMembers(other.m_parameters);
    AbstractConfigParameter::operator=(other);
    m_parameters = std::move(copy);
    return *this;
}

ConfigParametresGroup &ConfigParametresGroup::operator=(ConfigParametresGroup &&other)
{
    AbstractConfigParameter::operator=(other);
    m_parameters.swap(other.m_parameters);
    return *this;
}

ConfigParametresGroup::~ConfigParametresGroup() = default;

bool ConfigParametresGroup::isValid() const
{
    return type() == Group && !m_parameters.isEmpty() && !name().isEmpty();
}

bool ConfigParametresGroup::valueIsValid() const
{
    return isValid();
}

bool ConfigParametresGroup::addParameter(QSharedPointer<AbstractConfigParameter> p)
{
    if (!p || !p->isValid())
        return false;
    m_parameters.insert(p->name(), p);
    return true;
}

QVariantMap ConfigParametresGroup::toMap() const
{
    QVariantMap map;
    if (!isValid())
        return map;
    for (auto it = m_parameters.cbegin(); it != m_parameters.cend(); ++it) {
        const QSharedPointer<AbstractConfigParameter> &member = it.value();
        if (!member || !member->isValid())
            continue;
        const QString key = member->name().isEmpty() ? it.key() : member->name();
        map.insert(key, QVariant(member->toMap()));
    }
    return map;
}

void ConfigParametresGroup::parseMap(const QVariantMap &map)
{
    m_parameters.clear();
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QVariantMap sub = it.value().toMap();
        const int type = sub.value(TYPE_KEY).toInt();
        QSharedPointer<AbstractConfigParameter> member = createMember(type, it.key());
        if (!member) {
            QMessageLogger("confighelper/configparametresgroup.cpp", __LINE__, Q_FUNC_INFO)
                    .warning()
                << "WRONG CONFIG PARAMETER " << logvariant(QVariant(sub));
            continue;
        }
        member->parseMap(sub);
        m_parameters.insert(it.key(), member);
    }
}

QSharedPointer<AbstractConfigParameter> ConfigParametresGroup::clone() const
{
    return QSharedPointer<ConfigParametresGroup>::create(*this);
}

bool ConfigParametresGroup::operator==(const ConfigParametresGroup &other) const
{
    return AbstractConfigParameter::operator==(other);
}

} // namespace ravix
