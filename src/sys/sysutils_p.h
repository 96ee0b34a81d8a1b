// SPDX-License-Identifier: MIT
#pragma once

#include "sys/oslayer_p.h"
#include "sys/sysutils.h"

#include <QHostAddress>
#include <QList>

class QTimer;

namespace ravix {

/// The parts of SysUtils that tests reach directly: the formatting and filtering rules, the
/// Linux readers with their file-system roots given, and the choice between the Windows
/// and the Linux way of controlling the machine.
class RAVIXCORE_EXPORT SysUtilsPrivate
{
public:
    /// Which system's commands and calls control the machine. Automatic: Windows with the
    /// Win32 and the emulated backend, Linux with the host backend.
    enum class Flavour { Automatic, Windows, Linux };
    static void setFlavour(Flavour flavour);
    static bool windowsFlavour();

    /// A byte count by the unit rule: "6 GB", "3072 MB", "500 bytes"; \a total adds "/".
    static QString formatSize(qint64 bytes, bool total);
    /// The reportable IPv4 addresses among \a addresses, in order.
    static QStringList filterAddresses(const QList<QHostAddress> &addresses);

    /// Whole degrees Celsius of the CPU's thermal zone below \a thermalRoot, 0 when none.
    static int readCpuTemperature(const QString &thermalRoot);
    /// Whole degrees Celsius of the first drive sensor below \a hwmonRoot, 0 when none.
    static int readDriveTemperature(const QString &hwmonRoot);
    static QString readProcSerial(const QString &cpuInfoPath, const QString &dmiSerialPath);
    /// Empty when neither a machine id nor a CPU model is found.
    static QByteArray linuxHardwareHash(const QStringList &machineIdPaths,
                                        const QString &cpuInfoPath);
    static QByteArray windowsHardwareHash();
    /// The fixed-offset zone "Etc/GMT-3" for 3 hours east; empty outside -12..14.
    static QString fixedOffsetZone(int hours);
    /// The name of the entry directly in \a devDir that \a port names ("ttyUSB0" for
    /// "ttyUSB0" or "<devDir>/ttyUSB0"); empty when it names anything else.
    static QString deviceName(const QString &port, const QString &devDir);
    /// unlockPort() with \a devDir in place of "/dev".
    static bool unlockDeviceNode(const QString &devDir, const QString &port, bool verbose);

    /// The fallback timer the last reboot armed (null when none is alive).
    static QTimer *rebootFallbackTimer();
    /// Lines of the Windows spooler script.
    static const QStringList &spoolScriptLines();
};

// The Windows way of the operations that differ; each works through the OS layer.
namespace winsys {
int cpuTemperature();
void setSystemTime(const QDateTime &utc);
bool getTimeZone(int &hours);
bool changeTimeZone(int hours);
void poweroff();
void reboot();
void monitor(bool on);
void cleanSpool();
void installExceptionFilter();
} // namespace winsys

// Arms a fresh five-minute fallback for a reboot that did not happen; \a force runs then.
void armRebootFallback(void (*force)());

} // namespace ravix
