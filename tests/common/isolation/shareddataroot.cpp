// SPDX-License-Identifier: MIT
// Linked into every test program: before main() runs, the shared data root (ALLUSERSPROFILE,
// under which default work directories are made) points at a temporary directory of this
// process, so a start-up file without workDir never creates folders under /var/lib. Child
// processes inherit it.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

namespace {

struct SharedDataRoot
{
    QTemporaryDir dir{QDir::tempPath() + QStringLiteral("/ravixtest-shared-XXXXXX")};

    SharedDataRoot()
    {
        if (dir.isValid())
            qputenv("ALLUSERSPROFILE", QFile::encodeName(dir.path()));
    }
};

const SharedDataRoot sharedDataRoot;

} // namespace
