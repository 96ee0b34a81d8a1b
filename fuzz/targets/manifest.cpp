// SPDX-License-Identifier: MIT
// SrvManifest reading an arbitrary manifest file: every service it keeps is valid, and copies
// compare equal.
#include "fuzzsupport.h"

#include <ravixcore/srvmanifest/srvmanifest.h>

#include <QFile>

using ravix::ExeInstance;
using ravix::SrvManifest;

RAVIX_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 65536)
        return 0;
    const QString path = ravixfuzz::scratch().filePath(QStringLiteral("manifest.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    const SrvManifest manifest(ravixfuzz::scratch().filePath(QStringLiteral("none.json")), path,
                               ravixfuzz::scratch().path(), ravixfuzz::scratch().path());
    for (const ExeInstance &service : manifest.instances()) {
        RAVIX_FUZZ_CHECK(service.isValid());
        RAVIX_FUZZ_CHECK(!service.workDir().isEmpty());
        service.nativeExeFilePath();
        service.params();
    }
    const SrvManifest copy(manifest);
    RAVIX_FUZZ_CHECK(copy == manifest);
    return 0;
}
