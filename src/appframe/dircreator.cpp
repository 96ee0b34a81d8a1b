// SPDX-License-Identifier: MIT
#include "appframe/dircreator.h"

#include "appframe/everyoneaccess_p.h"
#include "sys/safefile_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;
#endif

namespace ravix {

namespace {

constexpr QFileDevice::Permission operator""_p(unsigned long long v)
{
    return QFileDevice::Permission(int(v));
}

// Qt only consults NTFS access lists while its process-wide counter is raised.
struct NtfsLookupGuard
{
    NtfsLookupGuard()
    {
#ifdef Q_OS_WIN
        ++qt_ntfs_permission_lookup;
#endif
    }
    ~NtfsLookupGuard()
    {
#ifdef Q_OS_WIN
        --qt_ntfs_permission_lookup;
#endif
    }
};

} // namespace

const QFlags<QFileDevice::Permission> DirCreator::DEFAULT_OWNER(0x7700_p);
const QFlags<QFileDevice::Permission> DirCreator::DEFAULT_GROUP(0x7770_p);
const QFlags<QFileDevice::Permission> DirCreator::DEFAULT_ALL(0x7777_p);
const QFlags<QFileDevice::Permission> DirCreator::FILE_DEFAULT_OWNER(0x6000_p);
const QFlags<QFileDevice::Permission> DirCreator::FILE_DEFAULT_GROUP(0x6060_p);
const QFlags<QFileDevice::Permission> DirCreator::FILE_DEFAULT_ALL(0x6066_p);

bool DirCreator::checkAndCreate(const QString &path, const QFlags<QFileDevice::Permission> &mask)
{
    if (path.isEmpty())
        return false;
    if (QFileInfo::exists(path))
        return true;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QDir().mkpath(absolute);
    {
        NtfsLookupGuard guard;
        safefile::setPermissionsAt(absolute, mask);
    }
    return QFileInfo::exists(path);
}

bool DirCreator::changeFilePermissionsP(const QString &path,
                                        const QFlags<QFileDevice::Permission> &mask)
{
    const QString p = QDir::fromNativeSeparators(path);
    if (p.isEmpty() || !QFileInfo::exists(p))
        return false;
    safefile::setPermissionsAt(QFileInfo(p).absoluteFilePath(), mask);
    grantEveryoneFullAccess(path);
    return true;
}

bool DirCreator::changeFilePermissions(const QString &path,
                                       const QFlags<QFileDevice::Permission> &mask)
{
    NtfsLookupGuard guard;
    return changeFilePermissionsP(path, mask);
}

bool DirCreator::changeDirPermissionsP(const QString &path, bool recursive,
                                       const QFlags<QFileDevice::Permission> &mask)
{
    const QString p = QDir::fromNativeSeparators(path);
    if (!recursive || !QFileInfo(p).isDir())
        return changeFilePermissionsP(path, mask);
    if (p.isEmpty())
        return false;
    // Directories are entered by descriptor and links never followed: a link, or a folder
    // swapped for one meanwhile, could lead outside the tree. Devices, pipes and sockets are
    // left alone.
    bool top = true;
    safefile::walkTree(p, [&](safefile::TreeEntry &entry) {
        if (!entry.isDir() && !entry.isFile())
            return;
        entry.setPermissions(mask);
        grantEveryoneFullAccess(top ? path : entry.path());
        top = false;
    });
    return true;
}

bool DirCreator::changeDirPermissions(const QString &path, bool recursive,
                                      const QFlags<QFileDevice::Permission> &mask)
{
    NtfsLookupGuard guard;
    return changeDirPermissionsP(path, recursive, mask);
}

} // namespace ravix
