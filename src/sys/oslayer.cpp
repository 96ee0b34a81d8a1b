// SPDX-License-Identifier: MIT
#include "sys/oslayer_p.h"

#include <QMutex>
#include <QMutexLocker>

namespace ravix {
namespace oslayer {

namespace {

QMutex &selectionMutex()
{
    static QMutex mutex;
    return mutex;
}

std::unique_ptr<OsLayer> &selected()
{
    static std::unique_ptr<OsLayer> backend;
    return backend;
}

} // namespace

OsLayer &OsLayer::current()
{
    QMutexLocker lock(&selectionMutex());
    std::unique_ptr<OsLayer> &backend = selected();
    if (!backend)
        backend = createDefaultOsLayer();
    return *backend;
}

bool OsLayer::select(std::unique_ptr<OsLayer> backend)
{
    QMutexLocker lock(&selectionMutex());
    std::unique_ptr<OsLayer> &current = selected();
    if (current || !backend)
        return false;
    current = std::move(backend);
    return true;
}

} // namespace oslayer
} // namespace ravix
