// SPDX-License-Identifier: MIT
// The Windows way of the operations of SysUtils that differ between systems. Everything
// goes through the OS layer, so the same code also runs against the emulated Windows.
#include "sys/specwinregwrapper_p.h"
#include "sys/sysutils_p.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <cstdlib>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace ravix {

using namespace oslayer;

namespace {

const std::wstring TIME_ZONE_PRIVILEGE = L"SeTimeZonePrivilege";
const QString CPU_KEY =
    QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0");
constexpr std::uint32_t SHUTDOWN_START_WAIT_MS = 5000;

SystemTime toSystemTime(const QDateTime &utc)
{
    SystemTime t;
    t.year = std::uint16_t(utc.date().year());
    t.month = std::uint16_t(utc.date().month());
    t.dayOfWeek = std::uint16_t(utc.date().dayOfWeek() % 7);
    t.day = std::uint16_t(utc.date().day());
    t.hour = std::uint16_t(utc.time().hour());
    t.minute = std::uint16_t(utc.time().minute());
    t.second = std::uint16_t(utc.time().second());
    t.milliseconds = 0;
    return t;
}

bool readTimeZone(OsLayer &os, TimeZoneInfo *info)
{
    const std::uint32_t id = os.getTimeZoneInformation(info);
    if (id == TIME_ZONE_ID_FAILED) {
        qCritical() << "TIMEZONE LOADING ERROR";
        return false;
    }
    qWarning().noquote() << "TIMEZONE"
                         << QString::fromStdWString(id == 2 ? info->daylightName
                                                            : info->standardName);
    return true;
}

// Starts the shutdown command; false when it did not start.
bool startShutdown(const std::wstring &mode)
{
    return OsLayer::current()
        .startCommand(L"shutdown", {mode, L"-f", L"-t", L"1"}, false, SHUTDOWN_START_WAIT_MS)
        .started;
}

void forceReboot()
{
    qWarning() << "FORCE_REBOOTING";
    QCoreApplication::processEvents();
    OsLayer::current().startCommand(L"nircmdc", {L"exitwin", L"reboot"}, false, 0);
}

#ifdef Q_OS_WIN
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS *)
{
    std::_Exit(2);
}
#endif

} // namespace

namespace winsys {

int cpuTemperature()
{
    std::int32_t reading = 0;
    std::string step;
    if (!OsLayer::current().cpuTemperature(&reading, &step)) {
        qWarning().noquote() << "INVALID" << QString::fromStdString(step);
        return 0;
    }
    return int(reading);
}

void setSystemTime(const QDateTime &utc)
{
    OsLayer::current().setSystemTime(toSystemTime(utc));
}

bool getTimeZone(int &hours)
{
    OsLayer &os = OsLayer::current();
    os.enablePrivilege(TIME_ZONE_PRIVILEGE);
    TimeZoneInfo info;
    if (!readTimeZone(os, &info))
        return false;
    hours = -(info.bias / 60);
    return true;
}

bool changeTimeZone(int hours)
{
    OsLayer &os = OsLayer::current();
    os.enablePrivilege(TIME_ZONE_PRIVILEGE);
    TimeZoneInfo current;
    if (!readTimeZone(os, &current))
        return false;
    TimeZoneInfo custom;
    custom.bias = -60 * hours;
    custom.standardName = L"Custom Standard Zone";
    custom.standardDate = current.standardDate;
    custom.daylightName = L"Custom Daylight Zone";
    if (!os.setTimeZoneInformation(custom)) {
        qCritical() << "TIMEZONE SAVING ERROR";
        return false;
    }
    TimeZoneInfo after;
    if (!readTimeZone(os, &after))
        return false;
    return after.bias == custom.bias;
}

void poweroff()
{
    OsLayer &os = OsLayer::current();
    if (os.exitWindows(EXIT_WINDOWS_POWEROFF, SHUTDOWN_REASON_MAJOR_APPLICATION))
        return;
    if (!startShutdown(L"-s"))
        os.startCommand(L"nircmdc", {L"exitwin", L"poweroff"}, false, 0);
}

void reboot()
{
    if (OsLayer::current().exitWindows(EXIT_WINDOWS_REBOOT, SHUTDOWN_REASON_MAJOR_APPLICATION))
        return;
    qWarning() << "START_REBOOTING";
    if (!startShutdown(L"-r")) {
        forceReboot();
        return;
    }
    // The command may start and still not bring the system down.
    armRebootFallback(&forceReboot);
}

void monitor(bool on)
{
    OsLayer::current().startCommand(L"nircmdc.exe", {L"monitor", on ? L"on" : L"off"}, false, 0);
}

void cleanSpool()
{
    const QString tempDir = QDir::tempPath();
    // Never a script in whatever the current directory happens to be.
    if (!QFileInfo(tempDir).isDir()) {
        qWarning().noquote() << "SPOOL SCRIPT NOT WRITTEN: NO TEMPORARY FOLDER" << tempDir;
        return;
    }
    const QString path = QDir(tempDir).filePath(QStringLiteral("cleanspool.cmd"));
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning().noquote() << "SPOOL SCRIPT NOT WRITTEN" << path << script.errorString();
        return;
    }
    QTextCodec *codec = QTextCodec::codecForName("Windows-1251");
    const QString text = SysUtilsPrivate::spoolScriptLines().join(QStringLiteral("\r\n"));
    const QByteArray bytes = codec ? codec->fromUnicode(text) : text.toLatin1();
    // A script that is not all there must not run.
    if (script.write(bytes) != bytes.size() || !script.flush()) {
        qWarning().noquote() << "SPOOL SCRIPT NOT WRITTEN" << path << script.errorString();
        return;
    }
    script.close();
    OsLayer::current().startCommand(
        L"cmd.exe", {L"/C", QDir::toNativeSeparators(path).toStdWString()}, false, 0);
}

void installExceptionFilter()
{
#ifdef Q_OS_WIN
    SetUnhandledExceptionFilter(onUnhandledException);
#endif
}

} // namespace winsys

QByteArray SysUtilsPrivate::windowsHardwareHash()
{
    OsLayer &os = OsLayer::current();
    const QString systemDrive =
        qEnvironmentVariable("SystemDrive", QStringLiteral("C:")) + QLatin1Char('\\');
    QStringList parts;
    std::uint32_t serial = 0;
    if (os.volumeSerialNumber(systemDrive.toStdWString(), &serial))
        parts.append(QString::number(serial, 16));
    swrw::SpecWinRegWrapperPrivate cpu(CPU_KEY, REG_KEY_WOW64_64KEY);
    for (const QString &name :
         {QStringLiteral("Identifier"), QStringLiteral("ProcessorNameString")}) {
        QVariant value;
        if (cpu.get(name, value) && !value.toString().trimmed().isEmpty())
            parts.append(value.toString().trimmed());
    }
    if (parts.isEmpty()) {
        qWarning() << "NO MACHINE IDENTIFIERS FOR THE HARDWARE HASH";
        return QByteArray();
    }
    return QCryptographicHash::hash(parts.join(QLatin1Char('\n')).toUtf8(),
                                    QCryptographicHash::Sha256)
        .toHex();
}

} // namespace ravix
