// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/confighelper/abstractconfigparameter.h>
#include <ravixcore/ravixcore_export.h>

#include <QMap>

namespace ravix {

/// A parameter whose value is a set of named parameters, possibly groups again, so that settings
/// form a tree. Its map form is member name -> member map, and parseMap() is the factory that
/// creates members from their "type" numbers.
///
/// Members are shared pointers: what addParameter(), setParameters(), operator[] and parameters()
/// hand over is shared with the caller. Copies of a group (copy construction, copy assignment,
/// clone()) hold clones of the members instead.
class RAVIXCORE_EXPORT ConfigParametresGroup : public AbstractConfigParameter
{
public:
    using ParametersMap = QMap<QString, QSharedPointer<AbstractConfigParameter>>;

    ConfigParametresGroup();
    explicit ConfigParametresGroup(const QString &name);
    ConfigParametresGroup(const ConfigParametresGroup &other);
    ConfigParametresGroup(ConfigParametresGroup &&other);
    ConfigParametresGroup &operator=(const ConfigParametresGroup &other);
    ConfigParametresGroup &operator=(ConfigParametresGroup &&other);
    ~ConfigParametresGroup() override;

    /// Type Group, a name and at least one member; the members themselves are not examined.
    bool isValid() const override;
    bool valueIsValid() const override;
    /// Member name -> member map for every valid member; no "type" of its own. Empty when the
    /// group is invalid.
    QVariantMap toMap() const override;
    /// Rebuilds the members from \a map; entries with an unknown type are logged and skipped.
    /// The group's own name and type stay as they are.
    void parseMap(const QVariantMap &map) override;
    QSharedPointer<AbstractConfigParameter> clone() const override;

    /// Same type and name; the members are not compared.
    bool operator==(const ConfigParametresGroup &other) const;
    bool operator!=(const ConfigParametresGroup &other) const { return !(*this == other); }

    ParametersMap parameters() const { return m_parameters; }
    /// Takes the map as it is: no cloning, no checks.
    void setParameters(const ParametersMap &parameters) { m_parameters = parameters; }
    /// Inserts \a p under its name, replacing a member of that name; false for a null or invalid
    /// parameter, which leaves the group unchanged.
    bool addParameter(QSharedPointer<AbstractConfigParameter> p);
    bool contains(const QString &name) const { return m_parameters.contains(name); }
    /// The member, or a null pointer; never inserts.
    QSharedPointer<AbstractConfigParameter> operator[](const QString &name) const
    {
        return m_parameters.value(name);
    }

private:
    ParametersMap m_parameters;
};

} // namespace ravix
