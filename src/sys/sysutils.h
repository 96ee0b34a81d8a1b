// SPDX-License-Identifier: MIT
#pragma once

#include <ravixcore/ravixcore_export.h>

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>

namespace ravix {

/// Looks at and controls the machine a service runs on: disk space, memory, network
/// addresses and traffic, uptime, temperatures, system time and time zone, power, the
/// display, the print spooler, crash handling and process termination.
///
/// On Windows every operation goes through the Win32 calls and the system commands named
/// below. On Linux:
/// - disk space comes from the mounted file systems, memory from /proc/meminfo (MemTotal
///   and MemAvailable), traffic from /proc/net/dev without the loopback device, uptime from
///   the boot-time clock (suspended time included);
/// - cpuTemperature() and hddTemperature() are whole degrees Celsius from the kernel's
///   thermal zones and the hwmon drive sensors ("drivetemp", "nvme"), 0 when there are none;
///   on Windows cpuTemperature() is the raw WMI reading;
/// - the clock is set with "date -u -s", the zone with "timedatectl set-timezone" and a
///   fixed-offset zone ("Etc/GMT-3" for 3 hours east), power off and reboot with
///   "systemctl" (falling back to "shutdown"), the display with "xset dpms force", the
///   spooler with "cancel -a -x" (for the printers given, else for all);
/// - killProcess() kills every other process whose executable has exactly the given name;
/// - getProcSerial() is the "Serial" line of /proc/cpuinfo, else the DMI product serial;
/// - unlockPort() gives everyone read and write access to a character or block device directly
///   in /dev (named bare or as "/dev/name"; links are not followed), and refuses anything else;
/// - mountUsb(), applyLinuxKernelSettings(), rotateLogs(), prepareDirRules() and
///   configureSerialPort() do nothing and return what they return on Windows.
///
/// hardwareHash() is the lower-case hexadecimal SHA-256 of machine identifiers: on Windows
/// the serial number of the system volume and the processor's identifier and name from the
/// registry; on Linux /etc/machine-id (or /var/lib/dbus/machine-id) and the CPU model of
/// /proc/cpuinfo. It stays the same while those do.
class RAVIXCORE_EXPORT SysUtils
{
public:
    SysUtils();
    ~SysUtils();

    static int hddTemperature();
    static bool mountUsb();
    static bool applyLinuxKernelSettings();
    /// \a verbose logs the node and the outcome also when it works.
    static bool unlockPort(const QString &port, bool verbose);
    static void unlockPorts(const QStringList &ports, bool verbose);
    static void rotateLogs();
    static bool prepareDirRules(const QString &dir, const QString &rules);
    static QString getProcSerial();
    static void configureSerialPort(const QString &port);

    /// Free and total bytes of the volume holding \a path; false (both untouched) when
    /// there is none.
    static bool freeDiskSpace(const QString &path, qint64 &freeBytes, qint64 &totalBytes);
    /// "root free/total" of every mounted volume except tmpfs, then of each of \a paths,
    /// joined with "; ".
    static QString freeDiskSpace(const QStringList &paths);
    /// The IPv4 addresses of the interfaces that are up, without loopback and link-local
    /// addresses, joined with "; ".
    static QString ipAddress();
    static bool getNetworkTraffic(qint64 &received, qint64 &sent);
    /// Seconds since the system started.
    static qint64 uptime();
    /// When the system started, in UTC.
    static QDateTime startDt();
    static quint64 getTotalSystemMemory();
    static quint64 getAvailableSystemMemory();
    static int cpuTemperature();
    /// False when \a path is no existing directory or its volume is missing, not ready or
    /// read-only.
    static bool fileSystemIsAvailable(const QString &path);

    /// Sets the clock; \a isUtc says the fields of \a dt already are UTC.
    static void setSystemTime(const QDateTime &dt, bool isUtc);
    static bool setDateTime(const QDateTime &dt);
    static bool setDate(const QDate &date);
    static bool setTime(const QTime &time);

    /// Whole hours east of UTC of the system's zone.
    static bool getTimeZone(int &hours);
    /// Switches the system to a zone \a hours east of UTC without daylight saving time.
    static bool changeTimeZone(int hours, QLocale::Country country);
    static bool setTimeZone(int hours);
    /// The zone id "UTC+03:00" (for 3) when the time-zone data knows it.
    static bool chooseTimeZone(int hours, QLocale::Country country, QByteArray &zoneId);
    /// \a dt in the system locale's short format followed by its offset, e.g. " +03:00".
    static QString formatDtWithOffcet(const QDateTime &dt);

    static void poweroff();
    static void reboot();
    static void monitorOn();
    static void monitorOff();
    static void cleanSpool(const QStringList &printers);
    /// Terminates every process but the caller whose executable is named \a name (in any
    /// case on Windows).
    static void killProcess(const QString &name);

    /// Ends the process on fatal signals and unhandled failures with fixed exit codes:
    /// SIGSEGV 5, SIGILL 6, SIGFPE 7, SIGINT, SIGTERM and SIGABRT 0, another signal 9,
    /// a failed allocation 3, std::terminate 4, an unhandled Windows exception 2.
    static void catchSystemExceptions();
    /// The same; on a signal \a callback runs first. Replaces an earlier callback.
    static void catchSystemExceptions(std::function<void()> callback);

    static QByteArray hardwareHash();
};

} // namespace ravix
