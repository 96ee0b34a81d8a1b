// SPDX-License-Identifier: MIT
// UpdatesHelper::parseUpdateInfo of an arbitrary server document, then the written forms of
// every update it keeps.
#include "fuzzsupport.h"

#include <ravixcore/updates/updateshelper.h>

#include <QJsonObject>

using ravix::UpdateInfo;
using ravix::UpdatePackageInfo;
using ravix::UpdatePkgConfig;
using ravix::UpdatesHelper;

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const UpdatePkgConfig config(ravixfuzz::scratch().filePath(QStringLiteral("store")));
    UpdatesHelper helper(config, ravixfuzz::scratch().path(), QStringLiteral("app"));
    const bool parsed = helper.parseUpdateInfo(ravixfuzz::bytes(data, size));
    const QList<UpdateInfo> infos = helper.infos();
    RAVIX_FUZZ_CHECK(parsed == !infos.isEmpty());
    for (const UpdateInfo &info : infos) {
        // Only valid updates are kept.
        RAVIX_FUZZ_CHECK(info.isValid());
        const QJsonObject written = info.toObject();
        info.toMap();
        // The written form reads back as an update of the same version and packages (a
        // package's own version is not written, so validity may change).
        const UpdateInfo back(written, config);
        RAVIX_FUZZ_CHECK(back.version() == info.version());
        RAVIX_FUZZ_CHECK(back.packages().size() == info.packages().size());
        for (const UpdatePackageInfo &pkg : info.packages()) {
            pkg.fileName();
            pkg.appVersion();
        }
    }
    return 0;
}
