// SPDX-License-Identifier: MIT
#include "appframe/atomicwrite_p.h"

#include "sys/safefile_p.h"

namespace ravix {

bool writeFileAtomically(const QString &path, const QByteArray &data, QString *error)
{
    // Not writable by other accounts: these files steer what the daemon does.
    safefile::AtomicFile file(path, 0644);
    if (!file.open(error))
        return false;
    if (file.device()->write(data) != data.size()) {
        if (error)
            *error = file.device()->errorString();
        return false;
    }
    return file.commit(error);
}

} // namespace ravix
