// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QString>

namespace ravix {

class InitConfig;

/// Turns a Windows workstation into a dedicated terminal for one application: logon shell,
/// screen savers, firewall ports, file-system checks, page files, User Account Control and
/// the disk write cache; also process look-up, start-up folders and shell links.
/// Windows XP and older keep the process's own registry view; later systems are changed in
/// the 64-bit view. Every operation logs what it did as warnings.
class RAVIXCORE_EXPORT WinUtils
{
public:
    WinUtils();
    ~WinUtils();

    /// True on Windows Vista and later (major version above 5).
    static bool osIsMoreThenWinXp();
    /// Whether a process with this executable name runs (case-insensitive).
    static bool procIsRunning(const QString &name);
    /// Ends every process with this executable name (case-insensitive), then runs "taskkill"
    /// with the name as one argument. An empty name does nothing.
    static void killProcess(QString name);
    /// Switches the screen saver off, and on XP the low-power and power-off modes too.
    static void cleanScreenSavers();

    /// The Winlogon "Shell" value; empty when it cannot be read.
    static QString getShell();
    /// The Winlogon "Userinit" value; empty when it cannot be read.
    static QString getUserInit();
    /// Writes the Winlogon "Shell" and "Userinit" values.
    static void setShell(const QString &shell, const QString &userInit);
    /// Makes Explorer the logon shell again and ends running Explorer processes; with
    /// \a restartExplorer starts Explorer afresh.
    static void setSystemShell(bool restartExplorer);
    /// Makes the existing executable \a exePath the logon shell and Userinit program, unless it
    /// already is; with \a killExplorer ends a running Explorer.
    static void setCustomShell(const QString &exePath, bool killExplorer);
    /// Whether both Winlogon values name \a exePath's file. A half-set shell (only Userinit)
    /// is repaired and reported as false.
    static bool shellIsCustomShell(const QString &exePath);

    /// Opens the work directory of \a config and everything below it to everyone; linked
    /// entries are not followed.
    static void changeWorkDirPermissions(const InitConfig &config);
    /// The current user's Start-up folder.
    static QString startupFolder();
    /// The Start-up folder of all users.
    static QString allUsersStartupFolder();
    /// Reads a shell link (.lnk): its target, arguments and working folder. False when the
    /// link cannot be loaded or resolved.
    static bool resolveSymLink(const QString &linkPath, QString &target, QString &arguments,
                               QString &workDir);

    /// Opens the firewall for \a port under the rule \a name ("netsh", started detached).
    static void allowPort(quint16 port, const QString &name);
    /// Sets "Disk\UserWriteCacheSetting" under every "Device Parameters" key below \a keyPath
    /// (XP only; false on later systems).
    static bool setUserWriteCacheSetting(const QString &keyPath, bool enable,
                                         bool isDeviceParameters);
    /// The disk write cache of the IDE disks on or off; false when nothing was set.
    static bool setDiskCachePolicy(bool enable);
    /// Marks every drive for a file-system check at the next boot ("fsutil dirty set").
    static void setDirtyFlag();
    /// Makes the page files system-managed and, on Vista and later, switches User Account
    /// Control off; reboots when a setting changed.
    static void setPageFiles();
};

} // namespace ravix
