// SPDX-License-Identifier: MIT
#include "appframe/everyoneaccess_p.h"

#include "sys/oslayer_p.h"

namespace ravix {

void grantEveryoneFullAccess(const QString &path)
{
    oslayer::OsLayer::current().grantEveryoneFullAccess(path.toStdWString());
}

} // namespace ravix
