// SPDX-License-Identifier: MIT
// ConfigParametresGroup::parseMap of an arbitrary JSON document, then the group's map form,
// copies and clones.
#include "fuzzsupport.h"

#include <ravixcore/confighelper/configparametresgroup.h>

#include <QJsonDocument>
#include <QVariantMap>

using ravix::AbstractConfigParameter;
using ravix::ConfigParametresGroup;

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const QJsonDocument doc = QJsonDocument::fromJson(ravixfuzz::bytes(data, size));
    const QVariantMap map = doc.toVariant().toMap();

    ConfigParametresGroup group(QStringLiteral("root"));
    group.parseMap(map);
    const QVariantMap written = group.toMap();

    // A deep copy and a clone write the same map as the original.
    const ConfigParametresGroup copy(group);
    RAVIX_FUZZ_CHECK(copy.toMap() == written);
    const QSharedPointer<AbstractConfigParameter> clone = group.clone();
    RAVIX_FUZZ_CHECK(clone && clone->toMap() == written);

    // Every member is reachable by its name and writes its own map.
    const ConfigParametresGroup::ParametersMap members = group.parameters();
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        RAVIX_FUZZ_CHECK(group.contains(it.key()));
        RAVIX_FUZZ_CHECK(group[it.key()] == it.value());
        it.value()->isValid();
        it.value()->toMap();
    }

    // Reading the written form again must not fail, whatever it holds.
    ConfigParametresGroup reread(QStringLiteral("root"));
    reread.parseMap(written);
    reread.toMap();

    ConfigParametresGroup moved(std::move(group));
    moved.toMap();
    return 0;
}
