// SPDX-License-Identifier: MIT
// SysUtils against the emulated Windows: what it asks of the system and which commands it
// starts, for the Windows way and for the Linux way. Nothing here touches the real machine.
#include "emulation.h"

#include "sys/sysutils_p.h"
#include <ravixcore/sys/sysutils.h>

#include "messagecapture.h"

#include <QtTest>

#include <QStorageInfo>
#include <QTimer>

#include <cstdlib>

using namespace ravix::oslayer;
using ravix::SysUtils;
using ravix::SysUtilsPrivate;
using namespace ravixtest;

namespace {

QStringList changeLines(const EmulatedWindows &w)
{
    return toStringList(w.changes());
}

QString startedLines(const EmulatedWindows &w)
{
    QStringList out;
    for (const auto &c : w.commands())
        out.append(QString::fromStdWString(c.line()) + (c.started ? "" : " (not started)") +
                   (c.wait ? " (waited)" : ""));
    return out.join(QStringLiteral(" | "));
}

SystemTime date(int y, int m, int d)
{
    SystemTime t;
    t.year = std::uint16_t(y);
    t.month = std::uint16_t(m);
    t.day = std::uint16_t(d);
    return t;
}

// The process's temporary folder points elsewhere while it lives, never to the machine's own:
// TMPDIR where the framework reads it, TMP and TEMP in Windows's own environment on Windows.
class TemporaryFolder
{
public:
    explicit TemporaryFolder(const QString &path)
    {
        for (const char *name : NAMES) {
            m_saved.append(qEnvironmentVariable(name));
            m_had.append(qEnvironmentVariableIsSet(name));
            set(name, QDir::toNativeSeparators(path), true);
        }
    }
    ~TemporaryFolder()
    {
        for (int i = 0; i < NAMES.size(); ++i)
            set(NAMES.at(i), m_saved.at(i), m_had.at(i));
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

private:
    static void set(const char *name, const QString &value, bool present)
    {
#ifdef Q_OS_WIN
        if (qstrcmp(name, "TMPDIR") != 0) {
            // The path may hold what the ANSI code page cannot; an empty value removes it.
            _wputenv_s(QString::fromLatin1(name).toStdWString().c_str(),
                       present ? value.toStdWString().c_str() : L"");
            return;
        }
#endif
        if (present)
            qputenv(name, QFile::encodeName(value));
        else
            qunsetenv(name);
    }

    const QVector<const char *> NAMES{"TMPDIR", "TMP", "TEMP"};
    QStringList m_saved;
    QList<bool> m_had;
};

} // namespace

class TestSysUtilsEmulated : public QObject
{
    Q_OBJECT

    EmulatedWindows *w = nullptr;

    void deleteFallbackTimer() { delete SysUtilsPrivate::rebootFallbackTimer(); }

private slots:
    void initTestCase()
    {
        w = emulatedWindows();
        QVERIFY(w);
    }

    void init()
    {
        w->reset();
        SysUtilsPrivate::setFlavour(SysUtilsPrivate::Flavour::Automatic);
        QVERIFY(SysUtilsPrivate::windowsFlavour());
    }

    void cleanup()
    {
        deleteFallbackTimer();
        SysUtilsPrivate::setFlavour(SysUtilsPrivate::Flavour::Automatic);
    }

    void setSystemTime_data()
    {
        QTest::addColumn<QDateTime>("dt");
        QTest::addColumn<bool>("isUtc");
        QTest::addColumn<QString>("change");
        const QTime t(10, 20, 30, 456);
        QTest::newRow("UTC on a Sunday") << QDateTime(QDate(2026, 12, 13), t, Qt::UTC) << true
                                         << "SetSystemTime 2026-12-13 10:20:30 dow 0";
        QTest::newRow("Saturday") << QDateTime(QDate(2026, 12, 12), t, Qt::UTC) << true
                                  << "SetSystemTime 2026-12-12 10:20:30 dow 6";
        // With the flag the fields are taken as they are, whatever their Qt::TimeSpec.
        QTest::newRow("flag set on a zoned time")
            << QDateTime(QDate(2026, 12, 14), QTime(1, 0), Qt::OffsetFromUTC, 3 * 3600) << true
            << "SetSystemTime 2026-12-14 1:0:0 dow 1";
        // Converted: Monday 01:00 three hours east is Sunday 22:00 in UTC.
        QTest::newRow("converted across midnight")
            << QDateTime(QDate(2026, 12, 14), QTime(1, 0), Qt::OffsetFromUTC, 3 * 3600) << false
            << "SetSystemTime 2026-12-13 22:0:0 dow 0";
        QTest::newRow("converted westwards")
            << QDateTime(QDate(2026, 12, 31), QTime(23, 30), Qt::OffsetFromUTC, -5 * 3600) << false
            << "SetSystemTime 2027-1-1 4:30:0 dow 5";
        QTest::newRow("invalid time is ignored") << QDateTime() << true << QString();
    }

    void setSystemTime()
    {
        QFETCH(QDateTime, dt);
        QFETCH(bool, isUtc);
        QFETCH(QString, change);
        SysUtils::setSystemTime(dt, isUtc);
        QCOMPARE(changeLines(*w), change.isEmpty() ? QStringList() : QStringList{change});
    }

    void setDateTimeChoosesTheFlag()
    {
        QVERIFY(SysUtils::setDateTime(QDateTime(QDate(2026, 12, 14), QTime(1, 0), Qt::UTC)));
        QVERIFY(SysUtils::setDateTime(
            QDateTime(QDate(2026, 12, 14), QTime(1, 0), Qt::OffsetFromUTC, 3 * 3600)));
        QCOMPARE(changeLines(*w), (QStringList{"SetSystemTime 2026-12-14 1:0:0 dow 1",
                                               "SetSystemTime 2026-12-13 22:0:0 dow 0"}));
    }

    void setDateAndSetTimeKeepTheOtherHalf()
    {
        const QDate day(2027, 3, 1);
        QVERIFY(SysUtils::setDate(day));
        const QTime noon(12, 0, 0);
        QVERIFY(SysUtils::setTime(noon));
        const QStringList changes = changeLines(*w);
        QCOMPARE(changes.size(), 2);
        // The local date-time with one half replaced, then converted to UTC.
        const QDateTime localDay(day, QTime::currentTime(), Qt::LocalTime);
        const QDateTime dayUtc = localDay.toUTC();
        QVERIFY2(changes.at(0).startsWith(QStringLiteral("SetSystemTime %1-%2-%3 ")
                                              .arg(dayUtc.date().year())
                                              .arg(dayUtc.date().month())
                                              .arg(dayUtc.date().day())),
                 qPrintable(changes.at(0)));
        const QDateTime noonUtc = QDateTime(QDate::currentDate(), noon, Qt::LocalTime).toUTC();
        QVERIFY2(changes.at(1).contains(QStringLiteral(" %1:%2:%3 ")
                                            .arg(noonUtc.time().hour())
                                            .arg(noonUtc.time().minute())
                                            .arg(noonUtc.time().second())),
                 qPrintable(changes.at(1)));
    }

    void getTimeZone_data()
    {
        QTest::addColumn<int>("bias");
        QTest::addColumn<int>("zoneId");
        QTest::addColumn<int>("hours");
        QTest::addColumn<QString>("logged");
        QTest::newRow("Bias -180") << -180 << 1 << 3 << "Standard";
        QTest::newRow("UTC") << 0 << 1 << 0 << "Standard";
        QTest::newRow("Bias 300") << 300 << 1 << -5 << "Standard";
        QTest::newRow("half an hour east, truncated") << -330 << 1 << 5 << "Standard";
        QTest::newRow("half an hour west, truncated") << 210 << 1 << -3 << "Standard";
        QTest::newRow("in daylight time") << 300 << 2 << -5 << "Daylight";
    }

    void getTimeZone()
    {
        QFETCH(int, bias);
        QFETCH(int, zoneId);
        QFETCH(int, hours);
        QFETCH(QString, logged);
        TimeZoneInfo info;
        info.bias = bias;
        info.standardName = L"Test Standard Time";
        info.daylightName = L"Test Daylight Time";
        w->setTimeZone(info, std::uint32_t(zoneId));
        MessageCapture capture;
        int result = 99;
        QVERIFY(SysUtils::getTimeZone(result));
        QCOMPARE(result, hours);
        QCOMPARE(changeLines(*w), QStringList{"EnablePrivilege SeTimeZonePrivilege"});
        QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("Test %1 Time").arg(logged)));
    }

    void getTimeZoneFailure()
    {
        w->setTimeZone(TimeZoneInfo(), TIME_ZONE_ID_FAILED);
        MessageCapture capture;
        int hours = 99;
        QVERIFY(!SysUtils::getTimeZone(hours));
        QCOMPARE(hours, 99);
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("TIMEZONE LOADING ERROR")));
    }

    void changeTimeZoneBuildsTheCustomZone()
    {
        TimeZoneInfo current;
        current.bias = -60;
        current.standardName = L"W. Europe Standard Time";
        current.standardDate = date(0, 10, 5);
        current.standardDate.hour = 3;
        current.daylightName = L"W. Europe Daylight Time";
        current.daylightDate = date(0, 3, 5);
        current.daylightBias = -60;
        w->setTimeZone(current, 1);

        QVERIFY(SysUtils::changeTimeZone(3, QLocale::Russia));
        TimeZoneInfo now;
        QCOMPARE(w->getTimeZoneInformation(&now), 1u);
        QCOMPARE(now.bias, -180);
        QCOMPARE(QString::fromStdWString(now.standardName), QStringLiteral("Custom Standard Zone"));
        QCOMPARE(QString::fromStdWString(now.daylightName), QStringLiteral("Custom Daylight Zone"));
        QVERIFY(now.standardDate == current.standardDate);
        QVERIFY(now.daylightDate == SystemTime()); // no daylight saving time
        QCOMPARE(now.standardBias, 0);
        QCOMPARE(now.daylightBias, 0);
        // The privilege comes first.
        QCOMPARE(changeLines(*w),
                 (QStringList{"EnablePrivilege SeTimeZonePrivilege",
                              "SetTimeZoneInformation -180 Custom Standard Zone"}));

        QVERIFY(SysUtils::setTimeZone(-5));
        QCOMPARE(w->getTimeZoneInformation(&now), 1u);
        QCOMPARE(now.bias, 300);
    }

    void changeTimeZoneFailures()
    {
        MessageCapture capture;
        w->setTimeZoneWritable(false);
        QVERIFY(!SysUtils::changeTimeZone(3, QLocale::AnyCountry));
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("TIMEZONE SAVING ERROR")));

        w->setTimeZone(TimeZoneInfo(), TIME_ZONE_ID_FAILED);
        w->setTimeZoneWritable(true);
        w->clearRecords();
        QVERIFY(!SysUtils::changeTimeZone(3, QLocale::AnyCountry));
        QVERIFY(capture.contains(QtCriticalMsg, QStringLiteral("TIMEZONE LOADING ERROR")));
        QCOMPARE(changeLines(*w), QStringList{"EnablePrivilege SeTimeZonePrivilege"});
    }

    void power_data()
    {
        QTest::addColumn<bool>("reboot");
        QTest::addColumn<bool>("exitWindowsOk");
        QTest::addColumn<bool>("shutdownStarts");
        QTest::addColumn<QString>("exitWindows");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<bool>("fallbackTimer");
        QTest::newRow("poweroff by ExitWindowsEx")
            << false << true << true << "ExitWindowsEx 8 262144"
            << "" << false;
        QTest::newRow("poweroff by shutdown") << false << false << true << "ExitWindowsEx 8 262144"
                                              << "shutdown -s -f -t 1" << false;
        QTest::newRow("poweroff by nircmdc")
            << false << false << false << "ExitWindowsEx 8 262144"
            << "shutdown -s -f -t 1 (not started) | nircmdc exitwin poweroff" << false;
        QTest::newRow("reboot by ExitWindowsEx") << true << true << true << "ExitWindowsEx 2 262144"
                                                 << "" << false;
        QTest::newRow("reboot by shutdown, with the fallback armed")
            << true << false << true << "ExitWindowsEx 2 262144"
            << "shutdown -r -f -t 1" << true;
        QTest::newRow("reboot by nircmdc")
            << true << false << false << "ExitWindowsEx 2 262144"
            << "shutdown -r -f -t 1 (not started) | nircmdc exitwin reboot" << false;
    }

    void power()
    {
        QFETCH(bool, reboot);
        QFETCH(bool, exitWindowsOk);
        QFETCH(bool, shutdownStarts);
        QFETCH(QString, exitWindows);
        QFETCH(QString, commands);
        QFETCH(bool, fallbackTimer);
        w->setExitWindowsResult(exitWindowsOk);
        w->setStartFails(L"shutdown", !shutdownStarts);
        MessageCapture capture;
        if (reboot)
            SysUtils::reboot();
        else
            SysUtils::poweroff();
        QCOMPARE(changeLines(*w), QStringList{exitWindows});
        QCOMPARE(startedLines(*w), commands);
        QTimer *timer = SysUtilsPrivate::rebootFallbackTimer();
        QCOMPARE(timer != nullptr, fallbackTimer);
        if (timer) {
            QVERIFY(timer->isActive());
            QCOMPARE(timer->interval(), 300000);
            QVERIFY(!timer->isSingleShot());
        }
        if (reboot && !exitWindowsOk)
            QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("START_REBOOTING")));
        QCOMPARE(capture.contains(QtWarningMsg, QStringLiteral("FORCE_REBOOTING")),
                 reboot && !shutdownStarts && !exitWindowsOk);
    }

    // When the shutdown command started but the system is still there, the timer forces it.
    void rebootFallbackFires()
    {
        w->setExitWindowsResult(false);
        SysUtils::reboot();
        QTimer *timer = SysUtilsPrivate::rebootFallbackTimer();
        QVERIFY(timer);
        MessageCapture capture;
        // Once, at once: the slot lets events run, a repeating zero timer would nest.
        timer->setSingleShot(true);
        timer->start(0);
        QTRY_VERIFY_WITH_TIMEOUT(
            startedLines(*w).contains(QStringLiteral("nircmdc exitwin reboot")), 60000);
        QCOMPARE(startedLines(*w).split(QStringLiteral(" | ")).first(),
                 QStringLiteral("shutdown -r -f -t 1"));
        QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("FORCE_REBOOTING")));
    }

    void display()
    {
        SysUtils::monitorOff();
        SysUtils::monitorOn();
        QCOMPARE(startedLines(*w),
                 QStringLiteral("nircmdc.exe monitor off | nircmdc.exe monitor on"));
    }

    void cleanSpoolWritesItsScript()
    {
        QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/spool тест XXXXXX"));
        QVERIFY(dir.isValid());
        {
            const TemporaryFolder temp(dir.path());
            SysUtils::cleanSpool({QStringLiteral("ignored printer")});
        }

        const QString path = dir.filePath(QStringLiteral("cleanspool.cmd"));
        QFile script(path);
        QVERIFY(script.open(QIODevice::ReadOnly));
        QCOMPARE(script.readAll(),
                 QByteArray("echo off\r\n"
                            "net stop spooler\r\n"
                            "del /Q %systemroot%\\system32\\spool\\printers\\*.shd\r\n"
                            "del /Q %systemroot%\\system32\\spool\\printers\\*.spl\r\n"
                            "net start spooler"));
        const auto commands = w->commands();
        QCOMPARE(commands.size(), std::size_t(1));
        QCOMPARE(QString::fromStdWString(commands[0].program), QStringLiteral("cmd.exe"));
        QCOMPARE(toStringList(commands[0].args),
                 (QStringList{QStringLiteral("/C"), QDir::toNativeSeparators(path)}));
        QVERIFY(!commands[0].wait);
    }

    void cleanSpoolWithoutTempFolder()
    {
        QTemporaryDir dir;
        {
            const TemporaryFolder temp(dir.filePath(QStringLiteral("gone")));
            SysUtils::cleanSpool({});
        }
        // No script, nothing to run.
        QCOMPARE(startedLines(*w), QString());
    }

    void killProcessEndsEveryMatch()
    {
        w->addProcess(L"Explorer.exe");
        w->addProcess(L"notepad.exe");
        w->addProcess(L"explorer.exe");
        w->addProcess(L"EXPLORER.EXE");
        w->addProcess(L"explorer.exe.bak");
        SysUtils::killProcess(QStringLiteral("explorer.exe"));
        QCOMPARE(changeLines(*w),
                 (QStringList{"TerminateProcess Explorer.exe 9", "TerminateProcess explorer.exe 9",
                              "TerminateProcess EXPLORER.EXE 9"}));
        QVERIFY(w->hasProcess(L"notepad.exe"));
        QVERIFY(w->hasProcess(L"explorer.exe.bak"));
        QVERIFY(w->commands().empty());
    }

    void killProcessSparesTheCaller()
    {
        const std::uint32_t self = w->addProcess(L"service.exe");
        w->addProcess(L"service.exe");
        w->setCurrentProcessId(self);
        SysUtils::killProcess(QStringLiteral("SERVICE.EXE"));
        QCOMPARE(changeLines(*w), QStringList{"TerminateProcess service.exe 9"});
        const auto left = w->processes();
        QCOMPARE(left.size(), std::size_t(1));
        QCOMPARE(left[0].pid, self);
    }

    void killProcessWithoutName()
    {
        w->addProcess(L"a.exe");
        SysUtils::killProcess(QString());
        QVERIFY(w->changes().empty());
        QVERIFY(w->commands().empty());
    }

    void cpuTemperature()
    {
        w->setCpuTemperature(3012);
        QCOMPARE(SysUtils::cpuTemperature(), 3012); // the raw reading, unchanged
        MessageCapture capture;
        w->setCpuTemperature(3012, "pLocator->ConnectServer");
        QCOMPARE(SysUtils::cpuTemperature(), 0);
        QVERIFY(capture.contains(QtWarningMsg, QStringLiteral("INVALID pLocator->ConnectServer")));
    }

    void traffic()
    {
        InterfaceRow ethernet{6, 1000, 200};
        InterfaceRow loopback{IF_TYPE_SOFTWARE_LOOPBACK, 5555, 5555};
        InterfaceRow wireless{71, 0xfffffff0u, 20};
        w->setInterfaceTable({ethernet, loopback, wireless});
        qint64 received = -1, sent = -1;
        QVERIFY(SysUtils::getNetworkTraffic(received, sent));
        QCOMPARE(received, qint64(1000) + qint64(0xfffffff0u));
        QCOMPARE(sent, qint64(220));

        w->setInterfaceTable({}, OS_ERROR_NOT_SUPPORTED);
        received = sent = 7;
        QVERIFY(!SysUtils::getNetworkTraffic(received, sent));
        QCOMPARE(received, qint64(7));
        QCOMPARE(sent, qint64(7));
    }

    void uptimeAndStart()
    {
        w->setTickCount(90061999); // 1 day, 1 hour, 1 minute, 1.999 s
        QCOMPARE(SysUtils::uptime(), qint64(90061));
        const QDateTime start = SysUtils::startDt();
        QCOMPARE(start.timeSpec(), Qt::UTC);
        QVERIFY(std::llabs(start.secsTo(QDateTime::currentDateTimeUtc()) - 90061) <= 5);
    }

    void memory()
    {
        MemoryStatus m;
        m.totalPhys = 8ull << 30;
        m.availPhys = 3ull << 30;
        w->setMemory(m);
        QCOMPARE(SysUtils::getTotalSystemMemory(), quint64(8ull << 30));
        QCOMPARE(SysUtils::getAvailableSystemMemory(), quint64(3ull << 30));
    }

    void fileSystemFlags()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A volume's root as Windows names it: "C:\\".
        const std::wstring root =
            QDir::toNativeSeparators(QStorageInfo(dir.path()).rootPath()).toStdWString();
        // No answer from the volume: taken as available.
        QVERIFY(SysUtils::fileSystemIsAvailable(dir.path()));
        w->setVolumeFlags(root, 0x2);
        QVERIFY(SysUtils::fileSystemIsAvailable(dir.path()));
        w->setVolumeFlags(root, VOLUME_FLAG_READ_ONLY | 0x2);
        QVERIFY(!SysUtils::fileSystemIsAvailable(dir.path()));
        QVERIFY(!SysUtils::fileSystemIsAvailable(dir.filePath(QStringLiteral("missing"))));
    }

    void hardwareHash()
    {
        QVERIFY(SysUtils::hardwareHash().isEmpty()); // nothing known about this machine
        w->setVolumeSerialNumber(L"C:\\", 0x1234abcd);
        const QByteArray diskOnly = SysUtils::hardwareHash();
        QCOMPARE(diskOnly.size(), 64);
        const QString cpuKey = QStringLiteral("HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
        QCOMPARE(writeRaw(*w, REG_ROOT_LOCAL_MACHINE, cpuKey, QStringLiteral("ProcessorNameString"),
                          REG_TYPE_SZ, utf16z(QStringLiteral("Test CPU 3000")),
                          REG_KEY_WOW64_64KEY),
                 0L);
        const QByteArray full = SysUtils::hardwareHash();
        QVERIFY(full != diskOnly);
        QCOMPARE(SysUtils::hardwareHash(), full);
        w->setVolumeSerialNumber(L"C:\\", 0x1234abce);
        QVERIFY(SysUtils::hardwareHash() != full);
    }

    void operationsWithoutWorkOnWindows()
    {
        QCOMPARE(SysUtils::hddTemperature(), 0);
        QVERIFY(SysUtils::unlockPort(QStringLiteral("COM1"), true));
        QVERIFY(SysUtils::getProcSerial().isEmpty());
        QVERIFY(!SysUtils::mountUsb());
        QVERIFY(!SysUtils::applyLinuxKernelSettings());
        QVERIFY(SysUtils::prepareDirRules(QStringLiteral("C:/work"), QString()));
        QVERIFY(w->changes().empty());
        QVERIFY(w->commands().empty());
    }

    // The Linux way, recorded by the emulated system instead of run.
    void linuxCommands_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("failing");
        QTest::addColumn<QString>("commands");
        QTest::addColumn<bool>("fallbackTimer");
        QTest::newRow("poweroff") << "poweroff"
                                  << ""
                                  << "systemctl poweroff (waited)" << false;
        QTest::newRow("poweroff without systemctl")
            << "poweroff"
            << "systemctl"
            << "systemctl poweroff (not started) (waited) | shutdown -P now" << false;
        QTest::newRow("reboot") << "reboot"
                                << ""
                                << "systemctl reboot (waited)" << true;
        QTest::newRow("reboot without systemctl")
            << "reboot"
            << "systemctl"
            << "systemctl reboot (not started) (waited) | shutdown -r now" << false;
        QTest::newRow("clock") << "clock"
                               << ""
                               << "date -u -s 2026-12-13 22:00:00 (waited)" << false;
        QTest::newRow("monitor off") << "monitorOff"
                                     << ""
                                     << "xset dpms force off" << false;
        QTest::newRow("monitor on") << "monitorOn"
                                    << ""
                                    << "xset dpms force on" << false;
        QTest::newRow("spooler") << "spool"
                                 << ""
                                 << "cancel -a -x" << false;
        QTest::newRow("spooler of some printers") << "spoolSome"
                                                  << ""
                                                  << "cancel -a -x lp0 office" << false;
    }

    void linuxCommands()
    {
        QFETCH(QString, operation);
        QFETCH(QString, failing);
        QFETCH(QString, commands);
        QFETCH(bool, fallbackTimer);
        SysUtilsPrivate::setFlavour(SysUtilsPrivate::Flavour::Linux);
        if (!failing.isEmpty())
            w->setStartFails(failing.toStdWString(), true);
        if (operation == QLatin1String("poweroff"))
            SysUtils::poweroff();
        else if (operation == QLatin1String("reboot"))
            SysUtils::reboot();
        else if (operation == QLatin1String("clock"))
            SysUtils::setSystemTime(
                QDateTime(QDate(2026, 12, 14), QTime(1, 0), Qt::OffsetFromUTC, 3 * 3600), false);
        else if (operation == QLatin1String("monitorOff"))
            SysUtils::monitorOff();
        else if (operation == QLatin1String("monitorOn"))
            SysUtils::monitorOn();
        else if (operation == QLatin1String("spool"))
            SysUtils::cleanSpool({});
        else if (operation == QLatin1String("spoolSome"))
            SysUtils::cleanSpool({QStringLiteral("lp0"), QStringLiteral("office")});
        QCOMPARE(startedLines(*w), commands);
        QTimer *timer = SysUtilsPrivate::rebootFallbackTimer();
        QCOMPARE(timer != nullptr, fallbackTimer);
        if (timer) {
            QCOMPARE(timer->interval(), 300000);
            w->clearRecords();
            timer->setSingleShot(true);
            timer->start(0);
            QTRY_COMPARE_WITH_TIMEOUT(startedLines(*w), QStringLiteral("systemctl reboot --force"),
                                      60000);
        }
        // Nothing of Windows is asked for.
        QVERIFY(w->changes().empty());
    }

    void linuxTimeZone_data()
    {
        QTest::addColumn<int>("hours");
        QTest::addColumn<bool>("toolWorks");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("commands");
        QTest::newRow("+3") << 3 << true << true << "timedatectl set-timezone Etc/GMT-3 (waited)";
        QTest::newRow("-5") << -5 << true << true << "timedatectl set-timezone Etc/GMT+5 (waited)";
        QTest::newRow("tool missing")
            << 3 << false << false << "timedatectl set-timezone Etc/GMT-3 (not started) (waited)";
        QTest::newRow("no such zone") << 15 << true << false << "";
    }

    void linuxTimeZone()
    {
        QFETCH(int, hours);
        QFETCH(bool, toolWorks);
        QFETCH(bool, result);
        QFETCH(QString, commands);
        SysUtilsPrivate::setFlavour(SysUtilsPrivate::Flavour::Linux);
        w->setStartFails(L"timedatectl", !toolWorks);
        QCOMPARE(SysUtils::changeTimeZone(hours, QLocale::AnyCountry), result);
        QCOMPARE(startedLines(*w), commands);
        QVERIFY(w->changes().empty()); // no Windows privilege or zone structure
    }

    void linuxKillProcessIsCaseSensitive()
    {
        SysUtilsPrivate::setFlavour(SysUtilsPrivate::Flavour::Linux);
        w->addProcess(L"worker");
        w->addProcess(L"Worker");
        w->addProcess(L"worker");
        SysUtils::killProcess(QStringLiteral("worker"));
        QCOMPARE(changeLines(*w),
                 (QStringList{"TerminateProcess worker 9", "TerminateProcess worker 9"}));
        QVERIFY(w->hasProcess(L"Worker"));
    }
};

QTEST_GUILESS_MAIN(TestSysUtilsEmulated)
#include "tst_sysutils_emulated.moc"
