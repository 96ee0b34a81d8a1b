// SPDX-License-Identifier: MIT
// The default backend on this host: real processes, files, memory and interfaces; an
// in-memory registry; everything Windows-only refused with a log line.
#include "sys/oslayer_p.h"
#include "testtools.h"

#include <ravixcore/sys/specwinregwrapper.h>
#include <ravixcore/sys/winutils.h>

#include <QtTest>

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using namespace ravix::oslayer;

class TestOsLayerPosix : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A copy of sleep under a name no other process has, so look-up and kill are exact.
    // Empty when sleep is missing: the callers fail then.
    QString uniqueSleeper()
    {
        const QString sleep = ravixtest::findTool(QStringLiteral("sleep"));
        if (sleep.isEmpty())
            return QString();
        const QString path =
            m_dir.filePath(QStringLiteral("rvx%1").arg(QCoreApplication::applicationPid()));
        if (!QFileInfo::exists(path) && !QFile::copy(sleep, path))
            return QString();
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    static bool listed(const QString &name, std::uint32_t pid = 0)
    {
        std::vector<ProcessEntry> all;
        if (!OsLayer::current().processSnapshot(&all))
            return false;
        for (const ProcessEntry &p : all)
            if (QString::fromStdWString(p.exeName) == name && (pid == 0 || p.pid == pid))
                return true;
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(QByteArray(OsLayer::current().name()), QByteArray("posix"));
        // Chosen once: a later choice is refused.
        QVERIFY(!OsLayer::select(createDefaultOsLayer()));
    }

    void processSnapshotAndTermination()
    {
        const QString exe = uniqueSleeper();
        QVERIFY2(!exe.isEmpty(), "required tool not installed: sleep");
        const QString name = QFileInfo(exe).fileName();
        QProcess child;
        child.start(exe, {QStringLiteral("60")});
        QVERIFY(child.waitForStarted());
        QVERIFY(listed(name, std::uint32_t(child.processId())));
        std::vector<ProcessEntry> all;
        QVERIFY(OsLayer::current().processSnapshot(&all));
        bool parentFound = false;
        for (const ProcessEntry &p : all)
            if (p.pid == std::uint32_t(child.processId()))
                parentFound = p.parentPid == std::uint32_t(QCoreApplication::applicationPid());
        QVERIFY(parentFound);

        QVERIFY(OsLayer::current().terminateProcess(std::uint32_t(child.processId()), 9));
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY(!listed(name));
    }

    void winUtilsOnRealProcesses()
    {
        const QString exe = uniqueSleeper();
        QVERIFY2(!exe.isEmpty(), "required tool not installed: sleep");
        const QString name = QFileInfo(exe).fileName();
        QProcess child;
        child.start(exe, {QStringLiteral("60")});
        QVERIFY(child.waitForStarted());
        QVERIFY(ravix::WinUtils::procIsRunning(name.toUpper()));
        // The processes go; the Windows command after it is refused, never run.
        QTest::ignoreMessage(QtWarningMsg, "start of \"taskkill\": not supported on this platform");
        ravix::WinUtils::killProcess(name);
        QVERIFY(child.waitForFinished(60000));
        QVERIFY(!ravix::WinUtils::procIsRunning(name));
    }

    void windowsOnlyIsRefused()
    {
        OsLayer &os = OsLayer::current();
        QTest::ignoreMessage(QtWarningMsg, "start of \"netsh\": not supported on this platform");
        QVERIFY(!os.startCommand(L"netsh", {L"firewall"}, false, 0).started);
        QTest::ignoreMessage(QtWarningMsg, "ExitWindowsEx: not supported on this platform");
        QVERIFY(!os.exitWindows(EXIT_WINDOWS_REBOOT, SHUTDOWN_REASON_MAJOR_APPLICATION));
        QTest::ignoreMessage(QtWarningMsg, "SetSystemTime: not supported on this platform");
        QVERIFY(!os.setSystemTime(SystemTime()));
        TimeZoneInfo tz;
        QTest::ignoreMessage(QtWarningMsg,
                             "GetTimeZoneInformation: not supported on this platform");
        QCOMPARE(os.getTimeZoneInformation(&tz), TIME_ZONE_ID_FAILED);
        QTest::ignoreMessage(QtWarningMsg,
                             "SetTimeZoneInformation: not supported on this platform");
        QVERIFY(!os.setTimeZoneInformation(tz));
        QTest::ignoreMessage(QtWarningMsg, "SystemParametersInfoW: not supported on this platform");
        QVERIFY(!os.systemParametersInfo(SPI_ACTION_SETSCREENSAVEACTIVE, 0, SPI_FLAG_SENDCHANGE));
        std::wstring path;
        QVERIFY(!os.knownFolderPath(KnownFolder::Startup, &path));
        QTest::ignoreMessage(QtWarningMsg,
                             "SHGetSpecialFolderPathW: not supported on this platform");
        QVERIFY(!os.specialFolderPath(CSIDL_ID_STARTUP, &path));
        QTest::ignoreMessage(QtWarningMsg, "AdjustTokenPrivileges: not supported on this platform");
        QVERIFY(!os.enablePrivilege(L"SeTimeZonePrivilege"));
    }

    void hostFacts()
    {
        OsLayer &os = OsLayer::current();
        QCOMPARE(os.drives(), std::vector<std::wstring>{L"/"});
        MemoryStatus mem;
        QVERIFY(os.memoryStatus(&mem));
        QVERIFY(mem.totalPhys > 0);
        QVERIFY(mem.availPhys <= mem.totalPhys);
        QVERIFY(os.tickCount() > 0);
        std::vector<InterfaceRow> rows;
        QCOMPARE(os.interfaceTable(&rows), 0L);
        QVERIFY(std::any_of(rows.begin(), rows.end(), [](const InterfaceRow &r) {
            return r.type == IF_TYPE_SOFTWARE_LOOPBACK;
        }));
        std::uint32_t flags = 0xffff;
        QVERIFY(os.volumeFlags(m_dir.path().toStdWString(), &flags));
        QCOMPARE(flags & VOLUME_FLAG_READ_ONLY, 0u);
        QVERIFY(!os.volumeFlags(L"/no/such/volume/here", &flags));
    }

    void fileTimes()
    {
        const QString path = m_dir.filePath(QStringLiteral("stamped.txt"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        // 2001-02-03 04:05:06.5 UTC, in 100-ns units since 1601.
        const QDateTime when(QDate(2001, 2, 3), QTime(4, 5, 6, 500), Qt::UTC);
        const std::uint64_t stamp =
            std::uint64_t(when.toMSecsSinceEpoch()) * 10000 + 116444736000000000ULL;
        QVERIFY(OsLayer::current().setFileTimes(path.toStdWString(), nullptr, nullptr, &stamp));
        QCOMPARE(QFileInfo(path).lastModified().toUTC(), when);
        QVERIFY(!OsLayer::current().setFileTimes(m_dir.filePath("absent").toStdWString(), nullptr,
                                                 nullptr, &stamp));
        QVERIFY(OsLayer::current().grantEveryoneFullAccess(path.toStdWString()));
    }

    void inMemoryRegistry()
    {
        {
            ravix::swrw::SpecWinRegWrapper reg(QStringLiteral("HKCU\\Software\\Posix"));
            QVERIFY(reg.isWritable());
            reg.set(QStringLiteral("a/b"), 5);
        }
        QVariant v;
        QVERIFY(ravix::swrw::SpecWinRegWrapper(QStringLiteral("HKEY_CURRENT_USER\\Software\\Posix"))
                    .get(QStringLiteral("a/b"), v));
        QCOMPARE(v, QVariant(5));
    }

    void quoting_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<QString>("quoted");
        QTest::newRow("plain") << "app.exe"
                               << "app.exe";
        QTest::newRow("empty") << ""
                               << "\"\"";
        QTest::newRow("blank") << "a b"
                               << "\"a b\"";
        QTest::newRow("quote") << "a\"b"
                               << "\"a\\\"b\"";
        QTest::newRow("backslashes before quote") << "a\\\\\"b"
                                                  << "\"a\\\\\\\\\\\"b\"";
        QTest::newRow("trailing backslash") << "C:\\dir name\\"
                                            << "\"C:\\dir name\\\\\"";
        QTest::newRow("inner backslash kept") << "C:\\x\\y"
                                              << "C:\\x\\y";
        QTest::newRow("shell characters") << "x & y"
                                          << "\"x & y\"";
    }

    void quoting()
    {
        QFETCH(QString, arg);
        QFETCH(QString, quoted);
        QCOMPARE(QString::fromStdWString(quoteWindowsArgument(arg.toStdWString())), quoted);
    }
};

QTEST_GUILESS_MAIN(TestOsLayerPosix)
#include "tst_oslayer_posix.moc"
