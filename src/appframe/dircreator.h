// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QFileDevice>
#include <QString>

namespace ravix {

/// Creates the shared directories of a service family and opens files and trees to every account.
/// Every function reports only whether the path exists at its end.
class RAVIXCORE_EXPORT DirCreator
{
public:
    static const QFlags<QFileDevice::Permission> DEFAULT_OWNER;      ///< 0x7700
    static const QFlags<QFileDevice::Permission> DEFAULT_GROUP;      ///< 0x7770
    static const QFlags<QFileDevice::Permission> DEFAULT_ALL;        ///< 0x7777
    static const QFlags<QFileDevice::Permission> FILE_DEFAULT_OWNER; ///< 0x6000
    static const QFlags<QFileDevice::Permission> FILE_DEFAULT_GROUP; ///< 0x6060
    static const QFlags<QFileDevice::Permission> FILE_DEFAULT_ALL;   ///< 0x6066

    /// Creates the directory with its parents and applies the mask; an existing path is left untouched.
    static bool checkAndCreate(const QString &path, const QFlags<QFileDevice::Permission> &mask);

    /// Applies the mask and grants everyone full access to one file (NTFS lookup switched on).
    static bool changeFilePermissions(const QString &path,
                                      const QFlags<QFileDevice::Permission> &mask);
    /// As changeFilePermissions(), without touching the NTFS permission lookup switch.
    static bool changeFilePermissionsP(const QString &path,
                                       const QFlags<QFileDevice::Permission> &mask);

    /// Opens a directory, and with \a recursive everything below it, to everyone.
    static bool changeDirPermissions(const QString &path, bool recursive,
                                     const QFlags<QFileDevice::Permission> &mask);
    /// As changeDirPermissions(), without touching the NTFS permission lookup switch.
    static bool changeDirPermissionsP(const QString &path, bool recursive,
                                      const QFlags<QFileDevice::Permission> &mask);
};

} // namespace ravix
