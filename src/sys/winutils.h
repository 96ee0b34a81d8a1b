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

    static bool osIsMoreThenWinXp();
    static bool procIsRunning(const QString &name);
    static void killProcess(QString name);
    static void cleanScreenSavers();

    static QString getShell();
    static QString getUserInit();
    static void setShell(const QString &shell, const QString &userInit);
    static void setSystemShell(bool restartExplorer);
    static void setCustomShell(const QString &exePath, bool killExplorer);
    static bool shellIsCustomShell(const QString &exePath);

    static void changeWorkDirPermissions(const InitConfig &config);
    static QString startupFolder();
    static QString allUsersStartupFolder();
    static bool resolveSymLink(const QString &linkPath, QString &target, QString &arguments,
                               QString &workDir);

    static void allowPort(quint16 port, const QString &name);
    static bool setUserWriteCacheSetting(const QString &keyPath, bool enable,
                                         bool isDeviceParameters);
    static bool setDiskCachePolicy(bool enable);
    static void setDirtyFlag();
    static void setPageFiles();
};

} // namespace ravix
