// SPDX-License-Identifier: MIT
#include "sys/winutils.h"

#include "appframe/dircreator.h"
#include "appframe/initconfig.h"
#include "logger/logwrappers.h"
#include "sys/oslayer_p.h"
#include "sys/safefile_p.h"
#include "sys/specwinregwrapper_p.h"
#include "sys/sysutils_p.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegExp>
#include <QThread>

#ifdef Q_OS_WIN
extern Q_CORE_EXPORT int qt_ntfs_permission_lookup;
#endif

namespace ravix {

using swrw::SpecWinRegWrapperPrivate;
using namespace oslayer;

namespace {

const QString WINLOGON_KEY =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
const QString MEMORY_MANAGEMENT_KEY = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management");
const QString POLICIES_SYSTEM_KEY = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
const QString IDE_KEY = QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\IDE");
const QString IDE_KEY_001 = QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet001\\Enum\\IDE");
const QString SYSTEM_SHELL = QStringLiteral("Explorer.exe");
const QString SYSTEM_USERINIT = QStringLiteral("C:\\Windows\\system32\\userinit.exe,");
const QString EXPLORER_UPPER = QStringLiteral("Explorer.exe");
const QString EXPLORER_LOWER = QStringLiteral("explorer.exe");

const char *boolText(bool b)
{
    return b ? "true" : "false";
}

// XP keeps the process's own view, as the framework's native settings see it; later
// systems are changed in the 64-bit view.
std::uint32_t registryView(bool laterThanXp)
{
    return laterThanXp ? REG_KEY_WOW64_64KEY : 0;
}

QString readWinlogon(const QString &name)
{
    SpecWinRegWrapperPrivate settings(WINLOGON_KEY, registryView(WinUtils::osIsMoreThenWinXp()));
    QVariant value;
    if (!settings.get(name, value))
        return QString();
    return value.toString();
}

// Repairing a half-set shell calls setCustomShell(), which asks shellIsCustomShell()
// again; an application named like a system program would otherwise recurse for ever.
bool g_repairingShell = false;

// The reboot that lets a changed setting take effect. These settings are Windows ones: a
// host that runs them elsewhere is never rebooted for them.
void rebootForSettings()
{
    if (SysUtilsPrivate::windowsFlavour())
        SysUtils::reboot();
    else
        qWarning() << "REBOOT: not supported on this platform";
}

// Opens a tree to everyone: links are not followed (one may lead out of the tree, or back
// into it for ever), folders are entered by descriptor, and devices, pipes and sockets are
// left alone. Folders get the sticky bit with the mode.
void openTree(const QString &path)
{
    safefile::walkTree(path, [](safefile::TreeEntry &entry) {
        if (entry.isDir())
            entry.setPermissions(DirCreator::DEFAULT_ALL);
        else if (entry.isFile())
            entry.setPermissions(DirCreator::FILE_DEFAULT_ALL);
    });
}

QString startupFolderOf(KnownFolder known, int csidl)
{
    OsLayer &os = OsLayer::current();
    std::wstring path;
    if (WinUtils::osIsMoreThenWinXp() && os.knownFolderPath(known, &path) && !path.empty())
        return QString::fromStdWString(path);
    path.clear();
    if (!os.specialFolderPath(csidl, &path))
        return QString();
    return QString::fromStdWString(path);
}

} // namespace

WinUtils::WinUtils() = default;
WinUtils::~WinUtils() = default;

bool WinUtils::osIsMoreThenWinXp()
{
    const std::uint32_t version = OsLayer::current().getVersion();
    const int major = int(version & 0xff);
    const int minor = int((version >> 8) & 0xff);
    qWarning().noquote() << QStringLiteral("OS: %1.%2").arg(major).arg(minor);
    return major > 5;
}

bool WinUtils::procIsRunning(const QString &name)
{
    std::vector<ProcessEntry> processes;
    bool running = false;
    if (OsLayer::current().processSnapshot(&processes)) {
        const QString wanted = name.toLower();
        for (const ProcessEntry &p : processes) {
            if (QString::fromStdWString(p.exeName).toLower() == wanted) {
                running = true;
                break;
            }
        }
    }
    qWarning().noquote() << name << boolText(running);
    return running;
}

void WinUtils::killProcess(QString name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return;
    OsLayer &os = OsLayer::current();
    std::vector<ProcessEntry> processes;
    if (os.processSnapshot(&processes)) {
        const QString wanted = name.toLower();
        for (const ProcessEntry &p : processes) {
            if (QString::fromStdWString(p.exeName).toLower() != wanted)
                continue;
            const bool ok = os.terminateProcess(p.pid, 9);
            qWarning().noquote() << "TERMINATE" << name << p.pid << boolText(ok);
        }
    }
    // The name is one argument of its own: no shell sees it, so "&" or "|" in it stay text.
    const CommandResult r =
        os.startCommand(L"taskkill", {L"/im", trimmed.toStdWString(), L"/f"}, true, 30000);
    qWarning().noquote() << "taskkill /im" << trimmed << "/f" << boolText(r.started);
}

void WinUtils::cleanScreenSavers()
{
    OsLayer &os = OsLayer::current();
    const bool later = osIsMoreThenWinXp();
    const std::uint32_t version = os.getVersion();
    bool lowPower = false;
    bool powerOff = false;
    if (!later) {
        lowPower = os.systemParametersInfo(SPI_ACTION_SETLOWPOWERACTIVE, 0, SPI_FLAG_SENDCHANGE);
        powerOff = os.systemParametersInfo(SPI_ACTION_SETPOWEROFFACTIVE, 0, SPI_FLAG_SENDCHANGE);
    }
    const bool screenSaver =
        os.systemParametersInfo(SPI_ACTION_SETSCREENSAVEACTIVE, 0, SPI_FLAG_SENDCHANGE);
    qWarning().noquote() << int(version & 0xff) << int((version >> 8) & 0xff) << boolText(lowPower)
                         << boolText(powerOff) << boolText(screenSaver);
}

QString WinUtils::getShell()
{
    const QString shell = readWinlogon(QStringLiteral("Shell"));
    qWarning().noquote() << "Shell" << shell;
    return shell;
}

QString WinUtils::getUserInit()
{
    const QString userInit = readWinlogon(QStringLiteral("Userinit"));
    qWarning().noquote() << "Userinit" << userInit;
    return userInit;
}

void WinUtils::setShell(const QString &shell, const QString &userInit)
{
    SpecWinRegWrapperPrivate settings(WINLOGON_KEY, registryView(osIsMoreThenWinXp()));
    if (!settings.isWritable())
        qWarning().noquote() << "WINLOGON KEY IS NOT WRITABLE";
    settings.set(QStringLiteral("Shell"), shell);
    settings.set(QStringLiteral("Userinit"), userInit);
    qWarning().noquote() << "SET SHELL" << shell << "USERINIT" << userInit;
}

void WinUtils::setSystemShell(bool restartExplorer)
{
    setShell(SYSTEM_SHELL, SYSTEM_USERINIT);
    if (procIsRunning(EXPLORER_UPPER))
        killProcess(EXPLORER_UPPER);
    if (procIsRunning(EXPLORER_LOWER))
        killProcess(EXPLORER_LOWER);
    if (!restartExplorer)
        return;
    if (!procIsRunning(EXPLORER_UPPER) && !procIsRunning(EXPLORER_LOWER)) {
        OsLayer::current().startCommand(L"cmd", {L"/c", L"Explorer.exe"}, false, 0);
        QThread::msleep(500);
    }
}

bool WinUtils::shellIsCustomShell(const QString &exePath)
{
    const QString shell = getShell();
    const QString userInit = getUserInit();
    const QString fileName = QFileInfo(exePath).fileName().toLower();
    // Every value "contains" an empty name; no file, no custom shell.
    if (fileName.isEmpty())
        return false;
    const bool inShell = shell.toLower().contains(fileName);
    const bool inUserInit = userInit.toLower().contains(fileName);
    if (inShell == inUserInit)
        return inUserInit;
    if (!inShell && !g_repairingShell) {
        qWarning().noquote() << "REPAIR SHELL" << exePath;
        g_repairingShell = true;
        setSystemShell(false);
        setCustomShell(exePath, false);
        g_repairingShell = false;
    }
    return false;
}

void WinUtils::setCustomShell(const QString &exePath, bool killExplorer)
{
    if (shellIsCustomShell(exePath))
        return;
    const QString normalized = QDir::fromNativeSeparators(QDir::toNativeSeparators(exePath));
    if (normalized.isEmpty() || !QFileInfo(normalized).isFile()) {
        qWarning().noquote() << "SHELL FILE NOT FOUND" << exePath;
        return;
    }
    const QString path = QDir::toNativeSeparators(QFileInfo(normalized).absoluteFilePath());
    qWarning().noquote() << "CUSTOM SHELL" << path;
    setShell(path, path + QLatin1Char(','));
    if (killExplorer && (procIsRunning(EXPLORER_UPPER) || procIsRunning(EXPLORER_LOWER))) {
        killProcess(EXPLORER_UPPER);
        killProcess(EXPLORER_LOWER);
    }
}

void WinUtils::changeWorkDirPermissions(const InitConfig &config)
{
#ifdef Q_OS_WIN
    ++qt_ntfs_permission_lookup;
#endif
    const QString workDir = config.workDir();
    qWarning().noquote() << "OPEN WORK DIR" << workDir;
    if (QFileInfo(workDir).isDir())
        openTree(workDir);
#ifdef Q_OS_WIN
    --qt_ntfs_permission_lookup;
#endif
}

QString WinUtils::startupFolder()
{
    const QString folder = startupFolderOf(KnownFolder::Startup, CSIDL_ID_STARTUP);
    qWarning().noquote() << "STARTUP FOLDER" << folder;
    return folder;
}

QString WinUtils::allUsersStartupFolder()
{
    const QString folder = startupFolderOf(KnownFolder::CommonStartup, CSIDL_ID_COMMON_STARTUP);
    qWarning().noquote() << "ALL USERS STARTUP FOLDER" << folder;
    return folder;
}

bool WinUtils::resolveSymLink(const QString &linkPath, QString &target, QString &arguments,
                              QString &workDir)
{
    ShellLinkInfo info;
    std::string step;
    long code = 0;
    if (!OsLayer::current().resolveShellLink(linkPath.toStdWString(), &info, &step, &code)) {
        qWarning().noquote() << linkPath << QString::fromStdString(step) << "FAILED"
                             << QStringLiteral("0x%1").arg(quint32(code), 8, 16, QLatin1Char('0'));
        return false;
    }
    target = QString::fromStdWString(info.path);
    arguments = QString::fromStdWString(info.arguments);
    workDir = QString::fromStdWString(info.workDir);
    qWarning().noquote() << linkPath << target << arguments << workDir;
    return true;
}

void WinUtils::allowPort(quint16 port, const QString &name)
{
    OsLayer &os = OsLayer::current();
    if (!osIsMoreThenWinXp()) {
        os.startCommand(L"netsh",
                        {L"firewall", L"add", L"portopening", L"ALL", std::to_wstring(port),
                         name.toStdWString(), L"ENABLE", L"ALL"},
                        false, 0);
        qWarning().noquote() << "ALLOW PORT" << port << name;
        return;
    }
    for (const wchar_t *dir : {L"in", L"out"}) {
        const QString ruleName =
            QStringLiteral("name=%1_%2").arg(name, QString::fromWCharArray(dir).toUpper());
        os.startCommand(L"netsh",
                        {L"advfirewall", L"firewall", L"add", L"rule ", ruleName.toStdWString(),
                         std::wstring(L"dir=") + dir, L"security=authnoencap", L"action=allow"},
                        false, 0);
    }
    qWarning().noquote() << "ALLOW PROGRAM RULES" << name;
}

bool WinUtils::setUserWriteCacheSetting(const QString &keyPath, bool enable,
                                        bool isDeviceParameters)
{
    if (osIsMoreThenWinXp()) {
        qWarning() << "NOT SUPPORTED YET";
        return false;
    }
    SpecWinRegWrapperPrivate settings(keyPath, 0);
    if (!isDeviceParameters) {
        const QStringList groups =
            settings.children(QString(), swrw::SpecWinRegWrapper::ChildGroups);
        qWarning().noquote() << keyPath << loglist(groups);
        bool result = false;
        for (const QString &child : groups)
            result = setUserWriteCacheSetting(keyPath + QLatin1Char('\\') + child, enable,
                                              child == QLatin1String("Device Parameters")) ||
                     result;
        return result;
    }
    qWarning().noquote() << QStringLiteral("%1\\Disk\\UserWriteCacheSetting").arg(keyPath);
    settings.set(QStringLiteral("Disk/UserWriteCacheSetting"), enable ? 1 : 0);
    return true;
}

bool WinUtils::setDiskCachePolicy(bool enable)
{
    qWarning() << "ENABLE_DISK_CACHE" << boolText(enable);
    bool result = setUserWriteCacheSetting(IDE_KEY, enable, false);
    if (!result)
        result = setUserWriteCacheSetting(IDE_KEY_001, enable, false);
    qWarning().noquote() << QStringLiteral("ENABLE_DISK_CACHE ") + QLatin1String(boolText(enable)) +
                                QLatin1String(result ? " SUCCESS" : " ERROR");
    return result;
}

void WinUtils::setDirtyFlag()
{
    const std::vector<std::wstring> drives = OsLayer::current().drives();
    for (const std::wstring &d : drives) {
        QString drive = QString::fromStdWString(d);
        drive.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
        qWarning().noquote() << "SET DIRTY " + drive;
        OsLayer::current().startCommand(L"fsutil", {L"dirty", L"set", drive.toStdWString()}, false,
                                        0);
    }
}

void WinUtils::setPageFiles()
{
    const bool later = osIsMoreThenWinXp();
    SpecWinRegWrapperPrivate memory(MEMORY_MANAGEMENT_KEY, registryView(later));
    QVariant value;
    memory.get(QStringLiteral("PagingFiles"), value);
    const QStringList entries = value.toStringList();
    qWarning().noquote() << "PagingFiles" << entries;

    const QRegExp sized(
        QStringLiteral("(\\s*)([a-zA-Z]:)([\\\\\\/][\\w\\.]+)(\\s*)(\\d+)(\\s*)(\\d+)"),
        Qt::CaseSensitive);
    const QRegExp managed(QStringLiteral("(\\s*)([a-zA-Z]:)([\\\\\\/][\\w\\.]+)(\\s*)(0)(\\s*)(0)"),
                          Qt::CaseSensitive);
    bool alreadyManaged = false;
    // Every drive that has a page file of fixed size keeps one, now managed by the system.
    QStringList drives;
    for (const QString &entry : entries) {
        QRegExp m = managed;
        if (m.exactMatch(entry)) {
            alreadyManaged = true;
            break;
        }
        QRegExp s = sized;
        if (s.exactMatch(entry) && s.captureCount() > 2 && !drives.contains(s.cap(2)))
            drives.append(s.cap(2));
    }

    bool changed = false;
    if (!alreadyManaged) {
        if (drives.isEmpty()) {
            for (const std::wstring &d : OsLayer::current().drives()) {
                QString drive = QString::fromStdWString(d);
                drive.remove(QLatin1Char('/')).remove(QLatin1Char('\\'));
                drives.append(drive);
            }
        }
        QStringList pageFiles;
        for (const QString &drive : drives)
            pageFiles.append(drive + QStringLiteral("\\pagefile.sys 0 0"));
        if (!pageFiles.isEmpty()) {
            memory.set(QStringLiteral("PagingFiles"), pageFiles);
            changed = true;
            qWarning().noquote() << "NEW PagingFiles" << pageFiles;
        }
    }

    if (later) {
        SpecWinRegWrapperPrivate policies(POLICIES_SYSTEM_KEY, REG_KEY_WOW64_64KEY);
        QVariant lua;
        bool isInt = false;
        if (policies.get(QStringLiteral("EnableLUA"), lua) && lua.toInt(&isInt) != 0 && isInt) {
            qWarning() << "DISABLE UAC";
            policies.set(QStringLiteral("EnableLUA"), 0);
            rebootForSettings();
            return;
        }
    }
    if (changed)
        rebootForSettings();
}

} // namespace ravix
