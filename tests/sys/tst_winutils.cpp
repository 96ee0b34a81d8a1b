// SPDX-License-Identifier: MIT
#include "emulation.h"
#include "testtools.h"

#include <ravixcore/appframe/dircreator.h>
#include <ravixcore/appframe/initconfig.h>
#include <ravixcore/sys/winutils.h>

#include "sys/sysutils_p.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

using namespace ravix::oslayer;
using ravix::WinUtils;
using namespace ravixtest;

namespace {

const QString WINLOGON =
    QStringLiteral("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon");
const QString MEMORY =
    QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management");
const QString POLICIES =
    QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");

// XP works in the process's own (redirected) view, later systems in the 64-bit view.
std::uint32_t viewFor(bool xp)
{
    return xp ? 0 : REG_KEY_WOW64_64KEY;
}

QString rawString(const RawValue &v)
{
    return QString::fromUtf16(reinterpret_cast<const ushort *>(v.data.data()));
}

QStringList rawMulti(const RawValue &v)
{
    const QString all =
        QString::fromUtf16(reinterpret_cast<const ushort *>(v.data.data()), int(v.data.size() / 2));
    QStringList list = all.split(QChar::Null);
    while (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

Bytes multiSz(const QStringList &items)
{
    Bytes b;
    for (const QString &s : items) {
        const Bytes one = utf16z(s);
        b.insert(b.end(), one.begin(), one.end());
    }
    b.push_back(0);
    b.push_back(0);
    return b;
}

int countStartingWith(const std::vector<std::wstring> &changes, const QString &prefix)
{
    int n = 0;
    for (const std::wstring &c : changes)
        n += QString::fromStdWString(c).startsWith(prefix);
    return n;
}

} // namespace

class TestWinUtils : public QObject
{
    Q_OBJECT

    EmulatedWindows *w = nullptr;
    QTemporaryDir m_dir;

    // XP's 64-bit edition (5.2) has the 32-bit view redirection, so the rows show which view
    // each branch uses.
    void useXp(bool xp) { xp ? w->setVersion(5, 2, 3790) : w->setVersion(6, 1, 7601); }

    void setWinlogon(bool xp, const QString &shell, const QString &userInit)
    {
        QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, WINLOGON, QStringLiteral("Shell"),
                          REG_TYPE_SZ, utf16z(shell), viewFor(xp)),
                 0L);
        QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, WINLOGON, QStringLiteral("Userinit"),
                          REG_TYPE_SZ, utf16z(userInit), viewFor(xp)),
                 0L);
    }

    QString winlogon(bool xp, const QString &name)
    {
        return rawString(rawValue(*w, REG_ROOT_LOCAL_MACHINE, WINLOGON, name, viewFor(xp)));
    }

    QString makeExe(const QString &name)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return QString();
        f.write("MZ");
        return path;
    }

    static void addBranches() { QTest::addColumn<bool>("xp"); }

private slots:
    void initTestCase()
    {
        w = emulatedWindows();
        QVERIFY(w);
        QVERIFY(m_dir.isValid());
    }

    void init() { w->reset(); }

    void cleanup() { QCOMPARE(w->registry().openHandles(), std::size_t(0)); }

    void osVersion_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<int>("minor");
        QTest::addColumn<bool>("later");
        QTest::newRow("2000") << 5 << 0 << false;
        QTest::newRow("XP") << 5 << 1 << false;
        QTest::newRow("XP x64") << 5 << 2 << false;
        QTest::newRow("Vista") << 6 << 0 << true;
        QTest::newRow("7") << 6 << 1 << true;
        QTest::newRow("10") << 10 << 0 << true;
    }

    void osVersion()
    {
        QFETCH(int, major);
        QFETCH(int, minor);
        QFETCH(bool, later);
        w->setVersion(major, minor, 1234);
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable(QStringLiteral("OS: %1.%2").arg(major).arg(minor)));
        QCOMPARE(WinUtils::osIsMoreThenWinXp(), later);
    }

    void cleanScreenSavers_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("log");
        QTest::newRow("XP") << 5
                            << QStringList{"SystemParametersInfoW 85 0 2",
                                           "SystemParametersInfoW 86 0 2",
                                           "SystemParametersInfoW 17 0 2"}
                            << "5 1 true true true";
        QTest::newRow("later") << 10 << QStringList{"SystemParametersInfoW 17 0 2"}
                               << "10 1 false false true";
    }

    void cleanScreenSavers()
    {
        QFETCH(int, major);
        QFETCH(QStringList, calls);
        QFETCH(QString, log);
        w->setVersion(major, 1);
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QStringLiteral("OS: %1.1").arg(major)));
        QTest::ignoreMessage(QtWarningMsg, qPrintable(log));
        WinUtils::cleanScreenSavers();
        QCOMPARE(toStringList(w->changes()), calls);
        QVERIFY(w->commands().empty());
    }

    void processLookup()
    {
        w->addProcess(L"Explorer.EXE");
        w->addProcess(L"svchost.exe");
        QVERIFY(WinUtils::procIsRunning(QStringLiteral("explorer.exe")));
        QVERIFY(WinUtils::procIsRunning(QStringLiteral("EXPLORER.exe")));
        QVERIFY(!WinUtils::procIsRunning(QStringLiteral("explorer")));
        QVERIFY(!WinUtils::procIsRunning(QString()));
    }

    void killProcess_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("terminated");
        QTest::newRow("empty") << QString() << QStringList() << 0;
        QTest::newRow("blank") << QStringLiteral("  ") << QStringList() << 0;
        QTest::newRow("name") << QStringLiteral("app.exe") << QStringList{"taskkill /im app.exe /f"}
                              << 2;
        QTest::newRow("padded") << QStringLiteral(" app.exe ")
                                << QStringList{"taskkill /im app.exe /f"} << 0;
        QTest::newRow("shell characters")
            << QStringLiteral("x.exe & del C:\\*.* | y") << QStringList{} << 0;
    }

    void killProcess()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, commands);
        QFETCH(int, terminated);
        w->addProcess(L"app.exe");
        w->addProcess(L"APP.EXE");
        w->addProcess(L"other.exe");
        WinUtils::killProcess(name);
        QCOMPARE(countStartingWith(w->changes(), QStringLiteral("TerminateProcess ")), terminated);
        if (terminated)
            QCOMPARE(QString::fromStdWString(w->changes().front()),
                     QStringLiteral("TerminateProcess app.exe 9"));
        QVERIFY(w->hasProcess(L"other.exe"));
        if (QString(QTest::currentDataTag()) == QLatin1String("shell characters")) {
            // The whole name is one argument: nothing of it reaches a command interpreter.
            const auto cmds = w->commands();
            QCOMPARE(int(cmds.size()), 1);
            QCOMPARE(QString::fromStdWString(cmds[0].program), QStringLiteral("taskkill"));
            QCOMPARE(toStringList(cmds[0].args),
                     (QStringList{"/im", "x.exe & del C:\\*.* | y", "/f"}));
            return;
        }
        QCOMPARE(commandLines(*w), commands);
    }

    void shellIsCustomShell_data()
    {
        addBranches();
        QTest::addColumn<QString>("shell");
        QTest::addColumn<QString>("userInit");
        QTest::addColumn<bool>("result");
        QTest::addColumn<bool>("rewritten");
        const QString sys = QStringLiteral("C:\\Windows\\system32\\userinit.exe,");
        for (bool xp : {true, false}) {
            const char *b = xp ? "XP: " : "later: ";
            QTest::newRow(QByteArray(b + QByteArray("both")))
                << xp << "C:\\Term\\Kiosk.exe"
                << "C:\\Term\\kiosk.exe," << true << false;
            QTest::newRow(QByteArray(b + QByteArray("neither")))
                << xp << "Explorer.exe" << sys << false << false;
            QTest::newRow(QByteArray(b + QByteArray("shell only")))
                << xp << "C:\\Term\\kiosk.exe" << sys << false << false;
            QTest::newRow(QByteArray(b + QByteArray("userinit only")))
                << xp << "Explorer.exe"
                << "C:\\Term\\kiosk.exe," << false << true;
        }
    }

    void shellIsCustomShell()
    {
        QFETCH(bool, xp);
        QFETCH(QString, shell);
        QFETCH(QString, userInit);
        QFETCH(bool, result);
        QFETCH(bool, rewritten);
        useXp(xp);
        const QString exe = makeExe(QStringLiteral("kiosk.exe"));
        setWinlogon(xp, shell, userInit);
        w->clearRecords();

        QCOMPARE(WinUtils::shellIsCustomShell(exe), result);
        if (!rewritten) {
            QCOMPARE(countStartingWith(w->changes(), QStringLiteral("RegSetValue")), 0);
            QCOMPARE(winlogon(xp, QStringLiteral("Shell")), shell);
            QCOMPARE(winlogon(xp, QStringLiteral("Userinit")), userInit);
            return;
        }
        // Repaired: first back to the system shell, then the application in both values.
        const QString native = QDir::toNativeSeparators(exe);
        QCOMPARE(winlogon(xp, QStringLiteral("Shell")), native);
        QCOMPARE(winlogon(xp, QStringLiteral("Userinit")), native + QLatin1Char(','));
        QCOMPARE(countStartingWith(w->changes(), QStringLiteral("RegSetValue")), 4);
        // The other view is untouched.
        QCOMPARE(
            rawValue(*w, REG_ROOT_LOCAL_MACHINE, WINLOGON, QStringLiteral("Shell"), viewFor(!xp))
                .rc,
            OS_ERROR_FILE_NOT_FOUND);
    }

    void repairOfSystemProgramName()
    {
        // An application named like the system's Userinit program: the repair must not
        // chase itself.
        useXp(false);
        const QString exe = makeExe(QStringLiteral("userinit.exe"));
        setWinlogon(false, QStringLiteral("Explorer.exe"),
                    QStringLiteral("C:\\Windows\\system32\\userinit.exe,"));
        QVERIFY(!WinUtils::shellIsCustomShell(exe));
        const QString native = QDir::toNativeSeparators(exe);
        QCOMPARE(winlogon(false, QStringLiteral("Shell")), native);
        QCOMPARE(winlogon(false, QStringLiteral("Userinit")), native + QLatin1Char(','));
        QVERIFY(WinUtils::shellIsCustomShell(exe));
        QVERIFY(!WinUtils::shellIsCustomShell(QString()));
    }

    void setCustomShell_data()
    {
        addBranches();
        QTest::addColumn<bool>("exists");
        QTest::addColumn<bool>("killExplorer");
        for (bool xp : {true, false}) {
            const QByteArray b = xp ? "XP: " : "later: ";
            QTest::newRow(b + "missing file") << xp << false << true;
            QTest::newRow(b + "existing, explorer killed") << xp << true << true;
            QTest::newRow(b + "existing, explorer kept") << xp << true << false;
        }
    }

    void setCustomShell()
    {
        QFETCH(bool, xp);
        QFETCH(bool, exists);
        QFETCH(bool, killExplorer);
        useXp(xp);
        setWinlogon(xp, QStringLiteral("Explorer.exe"),
                    QStringLiteral("C:\\Windows\\system32\\userinit.exe,"));
        w->addProcess(L"explorer.exe");
        w->clearRecords();
        const QString exe = exists ? makeExe(QStringLiteral("term.exe"))
                                   : m_dir.filePath(QStringLiteral("absent.exe"));

        WinUtils::setCustomShell(exe, killExplorer);
        if (!exists) {
            QCOMPARE(countStartingWith(w->changes(), QStringLiteral("RegSetValue")), 0);
            QCOMPARE(winlogon(xp, QStringLiteral("Shell")), QStringLiteral("Explorer.exe"));
            QVERIFY(w->hasProcess(L"explorer.exe"));
            QVERIFY(w->commands().empty());
            return;
        }
        const QString native = QDir::toNativeSeparators(exe);
        QCOMPARE(winlogon(xp, QStringLiteral("Shell")), native);
        QCOMPARE(winlogon(xp, QStringLiteral("Userinit")), native + QLatin1Char(','));
        QCOMPARE(w->hasProcess(L"explorer.exe"), !killExplorer);
        const QStringList kills{"taskkill /im Explorer.exe /f", "taskkill /im explorer.exe /f"};
        QCOMPARE(commandLines(*w), killExplorer ? kills : QStringList());
        // Already the shell: nothing more happens.
        w->clearRecords();
        WinUtils::setCustomShell(exe, killExplorer);
        QVERIFY(w->changes().empty());
    }

    void setSystemShell_data()
    {
        addBranches();
        QTest::addColumn<bool>("restart");
        QTest::newRow("XP, restart") << true << true;
        QTest::newRow("later, restart") << false << true;
        QTest::newRow("later, no restart") << false << false;
    }

    void setSystemShell()
    {
        QFETCH(bool, xp);
        QFETCH(bool, restart);
        useXp(xp);
        setWinlogon(xp, QStringLiteral("C:\\Term\\kiosk.exe"),
                    QStringLiteral("C:\\Term\\kiosk.exe,"));
        w->addProcess(L"Explorer.exe");
        WinUtils::setSystemShell(restart);
        QCOMPARE(winlogon(xp, QStringLiteral("Shell")), QStringLiteral("Explorer.exe"));
        QCOMPARE(winlogon(xp, QStringLiteral("Userinit")),
                 QStringLiteral("C:\\Windows\\system32\\userinit.exe,"));
        QVERIFY(!w->hasProcess(L"explorer.exe"));
        QStringList expected{"taskkill /im Explorer.exe /f"};
        if (restart)
            expected << "cmd /c Explorer.exe";
        QCOMPARE(commandLines(*w), expected);
        const auto cmds = w->commands();
        QVERIFY(!cmds.back().wait || !restart); // Explorer is started, never waited for
    }

    void allowPort_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<QList<QStringList>>("commands");
        QTest::newRow("XP") << 5
                            << QList<QStringList>{{"firewall", "add", "portopening", "ALL", "8080",
                                                   "Kiosk Server", "ENABLE", "ALL"}};
        QTest::newRow("later") << 6
                               << QList<QStringList>{{"advfirewall", "firewall", "add", "rule ",
                                                      "name=Kiosk Server_IN", "dir=in",
                                                      "security=authnoencap", "action=allow"},
                                                     {"advfirewall", "firewall", "add", "rule ",
                                                      "name=Kiosk Server_OUT", "dir=out",
                                                      "security=authnoencap", "action=allow"}};
    }

    void allowPort()
    {
        QFETCH(int, major);
        QFETCH(QList<QStringList>, commands);
        w->setVersion(major, 1);
        WinUtils::allowPort(8080, QStringLiteral("Kiosk Server"));
        const auto cmds = w->commands();
        QCOMPARE(int(cmds.size()), commands.size());
        for (std::size_t i = 0; i < cmds.size(); ++i) {
            QCOMPARE(QString::fromStdWString(cmds[i].program), QStringLiteral("netsh"));
            QCOMPARE(toStringList(cmds[i].args), commands.at(int(i)));
            QVERIFY(!cmds[i].wait);
        }
    }

    void setPageFiles_data()
    {
        addBranches();
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<int>("enableLua"); // -1: no value
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("reboot");
        QTest::addColumn<int>("luaAfter");
        const QStringList managed{"C:\\pagefile.sys 0 0"};
        for (bool xp : {true, false}) {
            const QByteArray b = xp ? "XP: " : "later: ";
            QTest::newRow(b + "managed, UAC on")
                << xp << managed << 1 << managed << !xp << (xp ? 1 : 0);
            QTest::newRow(b + "managed, UAC off") << xp << managed << 0 << managed << false << 0;
            QTest::newRow(b + "sized") << xp << QStringList{"D:\\pagefile.sys 512 1024"} << 0
                                       << QStringList{"D:\\pagefile.sys 0 0"} << true << 0;
            QTest::newRow(b + "two sized")
                << xp << QStringList{"C:\\pagefile.sys 256 512", "E:/pagefile.sys 1 2"} << -1
                << QStringList{"C:\\pagefile.sys 0 0", "E:\\pagefile.sys 0 0"} << true << -1;
            QTest::newRow(b + "sized after managed")
                << xp << QStringList{"C:\\pagefile.sys 0 0", "D:\\pagefile.sys 512 1024"} << 0
                << QStringList{"C:\\pagefile.sys 0 0", "D:\\pagefile.sys 512 1024"} << false << 0;
            QTest::newRow(b + "no entry")
                << xp << QStringList() << 0
                << QStringList{"C:\\pagefile.sys 0 0", "E:\\pagefile.sys 0 0"} << true << 0;
        }
    }

    void setPageFiles()
    {
        QFETCH(bool, xp);
        QFETCH(QStringList, before);
        QFETCH(int, enableLua);
        QFETCH(QStringList, after);
        QFETCH(bool, reboot);
        QFETCH(int, luaAfter);
        useXp(xp);
        w->setDrives({L"C:\\", L"E:\\"});
        if (!before.isEmpty())
            QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, MEMORY, QStringLiteral("PagingFiles"),
                              REG_TYPE_MULTI_SZ, multiSz(before), REG_KEY_WOW64_64KEY),
                     0L);
        if (enableLua >= 0)
            QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, POLICIES, QStringLiteral("EnableLUA"),
                              REG_TYPE_DWORD, dwordBytes(std::uint32_t(enableLua)),
                              REG_KEY_WOW64_64KEY),
                     0L);
        w->clearRecords();

        WinUtils::setPageFiles();

        const RawValue paging = rawValue(*w, REG_ROOT_LOCAL_MACHINE, MEMORY,
                                         QStringLiteral("PagingFiles"), REG_KEY_WOW64_64KEY);
        QCOMPARE(rawMulti(paging), after);
        if (after != before)
            QCOMPARE(paging.type, REG_TYPE_MULTI_SZ);
        const RawValue lua = rawValue(*w, REG_ROOT_LOCAL_MACHINE, POLICIES,
                                      QStringLiteral("EnableLUA"), REG_KEY_WOW64_64KEY);
        if (luaAfter < 0) {
            QCOMPARE(lua.rc, OS_ERROR_FILE_NOT_FOUND);
        } else {
            QCOMPARE(lua.type, REG_TYPE_DWORD);
            QCOMPARE(lua.data, dwordBytes(std::uint32_t(luaAfter)));
        }
        QCOMPARE(countStartingWith(w->changes(), QStringLiteral("ExitWindowsEx 2 262144")),
                 reboot ? 1 : 0);
    }

    // The reboot after a changed setting is the machine's full reboot: the shutdown command
    // with its five-minute fallback, or nircmdc when that command does not start.
    void rebootFallsBackToShutdownCommand_data()
    {
        QTest::addColumn<bool>("shutdownStarts");
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<bool>("fallbackTimer");
        QTest::newRow("shutdown starts") << true << QStringList{"shutdown -r -f -t 1"} << true;
        QTest::newRow("shutdown does not start")
            << false << QStringList{"shutdown -r -f -t 1 (not started)", "nircmdc exitwin reboot"}
            << false;
    }

    void rebootFallsBackToShutdownCommand()
    {
        QFETCH(bool, shutdownStarts);
        QFETCH(QStringList, commands);
        QFETCH(bool, fallbackTimer);
        useXp(false);
        w->setExitWindowsResult(false);
        w->setStartFails(L"shutdown", !shutdownStarts);
        WinUtils::setPageFiles();
        QStringList lines;
        for (const auto &c : w->commands())
            lines.append(QString::fromStdWString(c.line()) + (c.started ? "" : " (not started)"));
        QCOMPARE(lines, commands);
        QScopedPointer<QTimer> timer(ravix::SysUtilsPrivate::rebootFallbackTimer());
        QCOMPARE(!timer.isNull(), fallbackTimer);
        if (timer)
            QCOMPARE(timer->interval(), 300000);
    }

    // Where the machine is controlled the Linux way, a Windows setting never reboots it.
    void noRebootOutsideWindows()
    {
        useXp(false);
        w->setDrives({L"C:\\"});
        ravix::SysUtilsPrivate::setFlavour(ravix::SysUtilsPrivate::Flavour::Linux);
        WinUtils::setPageFiles();
        ravix::SysUtilsPrivate::setFlavour(ravix::SysUtilsPrivate::Flavour::Automatic);
        QVERIFY(!rawMulti(rawValue(*w, REG_ROOT_LOCAL_MACHINE, MEMORY,
                                   QStringLiteral("PagingFiles"), REG_KEY_WOW64_64KEY))
                     .isEmpty());
        QCOMPARE(countStartingWith(w->changes(), QStringLiteral("ExitWindowsEx")), 0);
        QCOMPARE(commandLines(*w), QStringList());
        QVERIFY(!ravix::SysUtilsPrivate::rebootFallbackTimer());
    }

    void diskCachePolicy_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<QString>("treeRoot");
        QTest::addColumn<bool>("result");
        QTest::newRow("XP, current control set")
            << 5 << "SYSTEM\\CurrentControlSet\\Enum\\IDE" << true;
        QTest::newRow("XP, control set 001") << 5 << "SYSTEM\\ControlSet001\\Enum\\IDE" << true;
        QTest::newRow("XP, no device parameters") << 5 << QString() << false;
        QTest::newRow("later") << 6 << "SYSTEM\\CurrentControlSet\\Enum\\IDE" << false;
    }

    void diskCachePolicy()
    {
        QFETCH(int, major);
        QFETCH(QString, treeRoot);
        QFETCH(bool, result);
        w->setVersion(major, 1);
        const QStringList devices{"DiskMaxtor\\5&1\\Device Parameters",
                                  "DiskMaxtor\\5&2\\Device Parameters", "CdRomNEC\\4&9\\Other",
                                  "CdRomNEC\\4&9\\device parameters"};
        if (!treeRoot.isEmpty())
            for (const QString &d : devices)
                QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, treeRoot + "\\" + d,
                                  QStringLiteral("x"), REG_TYPE_DWORD, dwordBytes(0), 0),
                         0L);
        if (major > 5)
            QTest::ignoreMessage(QtWarningMsg, "NOT SUPPORTED YET");
        QCOMPARE(WinUtils::setDiskCachePolicy(true), result);
        const QString readRoot =
            treeRoot.isEmpty() ? QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\IDE") : treeRoot;
        for (const QString &d : devices) {
            const RawValue v = rawValue(*w, REG_ROOT_LOCAL_MACHINE, readRoot + "\\" + d + "\\Disk",
                                        QStringLiteral("UserWriteCacheSetting"), 0);
            // Only keys named exactly "Device Parameters" are changed.
            if (result && d.endsWith(QLatin1String("\\Device Parameters"))) {
                QCOMPARE(v.type, REG_TYPE_DWORD);
                QCOMPARE(v.data, dwordBytes(1));
            } else {
                QCOMPARE(v.rc, OS_ERROR_FILE_NOT_FOUND);
            }
        }
        if (major == 5 && result) {
            QVERIFY(WinUtils::setDiskCachePolicy(false));
            const RawValue v =
                rawValue(*w, REG_ROOT_LOCAL_MACHINE, treeRoot + "\\" + devices[0] + "\\Disk",
                         QStringLiteral("UserWriteCacheSetting"), 0);
            QCOMPARE(v.data, dwordBytes(0));
        }
    }

    void dirtyFlag()
    {
        w->setDrives({L"C:\\", L"D:\\", L"Z:/"});
        WinUtils::setDirtyFlag();
        QCOMPARE(
            commandLines(*w),
            (QStringList{"fsutil dirty set C:", "fsutil dirty set D:", "fsutil dirty set Z:"}));
    }

    void startupFolders_data()
    {
        QTest::addColumn<int>("major");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("common");
        const QString knownUser = "C:\\Users\\kiosk\\Start Menu\\Programs\\Startup";
        const QString knownCommon = "C:\\ProgramData\\Start Menu\\Programs\\StartUp";
        QTest::newRow("later, known folders") << 10 << true << knownUser << knownCommon;
        QTest::newRow("later, no known folders") << 10 << false << "csidl 7"
                                                 << "csidl 24";
        QTest::newRow("XP") << 5 << true << "csidl 7"
                            << "csidl 24";
    }

    void startupFolders()
    {
        QFETCH(int, major);
        QFETCH(bool, known);
        QFETCH(QString, user);
        QFETCH(QString, common);
        w->setVersion(major, 1);
        w->setKnownFoldersAvailable(known);
        // Known folders and special folders answer differently, to tell which was asked.
        w->setFolder(CSIDL_ID_STARTUP, L"csidl 7");
        w->setFolder(CSIDL_ID_COMMON_STARTUP, L"csidl 24");
        if (known && major > 5) {
            w->setFolder(CSIDL_ID_STARTUP, user.toStdWString());
            w->setFolder(CSIDL_ID_COMMON_STARTUP, common.toStdWString());
        }
        QCOMPARE(WinUtils::startupFolder(), user);
        QCOMPARE(WinUtils::allUsersStartupFolder(), common);
    }

    void shellLinks()
    {
        ShellLinkInfo info;
        info.path = L"C:\\PROGRA~1\\Term\\kiosk.exe";
        info.arguments = L"--full";
        info.workDir = L"C:\\Term";
        w->setShellLink(L"C:\\Users\\k\\Startup\\kiosk.lnk", info);
        QString target = "x", args = "x", workDir = "x";
        QVERIFY(
            WinUtils::resolveSymLink("C:\\Users\\k\\Startup\\kiosk.lnk", target, args, workDir));
        QCOMPARE(target, QStringLiteral("C:\\PROGRA~1\\Term\\kiosk.exe"));
        QCOMPARE(args, QStringLiteral("--full"));
        QCOMPARE(workDir, QStringLiteral("C:\\Term"));
        target = "kept";
        QTest::ignoreMessage(QtWarningMsg, "C:\\missing.lnk IPersistFile::Load FAILED 0x80070002");
        QVERIFY(!WinUtils::resolveSymLink("C:\\missing.lnk", target, args, workDir));
        QCOMPARE(target, QStringLiteral("kept"));
    }

    void changeWorkDirPermissions()
    {
        QTemporaryDir outside;
        QVERIFY(outside.isValid());
#ifdef Q_OS_WIN
        // No mode bits: a file nobody may write is read-only, which the change lifts.
        const QFile::Permissions before = QFile::ReadOwner;
        const int dirMode = 0777, outsideMode = 0444;
#else
        const QFile::Permissions before = QFile::ReadOwner | QFile::WriteOwner;
        const int dirMode = 01777, outsideMode = 0600;
#endif
        const QString work = m_dir.filePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work + "/sub/deeper"));
        QVERIFY(QDir().mkpath(work + "/.hidden"));
        const QStringList files{work + "/a.txt", work + "/sub/b.txt", work + "/sub/deeper/c.txt",
                                work + "/.hidden/.d", outside.filePath("foreign.txt")};
        for (const QString &f : files) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QVERIFY(QFile::setPermissions(f, before));
        }
        for (const QString &d : {work, work + "/sub", work + "/sub/deeper", work + "/.hidden"})
            QVERIFY(
                QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        // A loop back to the top and a link out of the tree.
        QVERIFY(QFile::link(work, work + "/sub/deeper/loop"));
        QVERIFY(QFile::link(outside.filePath("foreign.txt"), work + "/foreign"));

        const QString ini = m_dir.filePath(QStringLiteral("init.ini"));
        {
            QSettings s(ini, QSettings::IniFormat);
            s.setValue(QStringLiteral("INIT/workDir"), work);
        }
        {
            ravix::InitConfig config(ini, false);
            QCOMPARE(config.workDir(), work);
            WinUtils::changeWorkDirPermissions(config);
        }
        for (const QString &d : {work, work + "/sub", work + "/sub/deeper", work + "/.hidden"})
            QCOMPARE(modeBits(d), dirMode);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(modeBits(files[i]), 0666);
        QCOMPARE(modeBits(outside.filePath("foreign.txt")), outsideMode);
        // Nothing outside the work folder was opened to everyone either.
        for (const QString &change : toStringList(w->changes()))
            QVERIFY2(!QDir::fromNativeSeparators(change).contains(outside.path()),
                     qPrintable(change));
    }

    // On Windows a recursive change also opens every directory and file to everyone, each
    // directory before its contents.
    void dirCreatorGrantsEachEntry()
    {
        const QString top = m_dir.filePath(QStringLiteral("grant"));
        QVERIFY(QDir().mkpath(top + "/sub/deeper"));
        for (const QString &f : {top + "/a.txt", top + "/sub/b.txt"}) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QVERIFY(ravix::DirCreator::changeDirPermissions(top, true, ravix::DirCreator::DEFAULT_ALL));

        QStringList grants;
        const QString prefix = QStringLiteral("GrantEveryone ");
        for (const QString &change : toStringList(w->changes())) {
            if (change.startsWith(prefix))
                grants << QDir::cleanPath(QDir::fromNativeSeparators(change.mid(prefix.size())));
        }
        QStringList expected{top, top + "/a.txt", top + "/sub", top + "/sub/b.txt",
                             top + "/sub/deeper"};
        QStringList sorted = grants;
        sorted.sort();
        expected.sort();
        QCOMPARE(sorted, expected);
        for (const QString &g : grants) {
            const int parent = grants.indexOf(QFileInfo(g).path());
            if (g != top)
                QVERIFY2(parent >= 0 && parent < grants.indexOf(g), qPrintable(g));
        }
    }
};

QTEST_GUILESS_MAIN(TestWinUtils)
#include "tst_winutils.moc"
