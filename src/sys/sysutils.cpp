// SPDX-License-Identifier: MIT
#include "sys/sysutils.h"

#include "sys/sysutils_p.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QPointer>
#include <QRegExp>
#include <QStorageInfo>
#include <QTimeZone>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravix {

using namespace oslayer;

namespace {

constexpr qint64 FIVE_GIB = 0x140000000LL;
constexpr qint64 ONE_MIB = 0x100000LL;
constexpr qint64 ONE_KIB = 0x400LL;
const char *const IPV4_PATTERN = "(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}"
                                 "(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)";
constexpr std::uint32_t COMMAND_WAIT_MS = 5000;
constexpr int REBOOT_FALLBACK_MS = 300000;

std::atomic<int> g_flavour{int(SysUtilsPrivate::Flavour::Automatic)};

QString readTrimmed(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(f.readAll()).trimmed();
}

// "key : value" lines as /proc/cpuinfo has them; the first line of \a key wins.
QString cpuInfoValue(const QString &cpuInfoPath, const QString &key)
{
    const QStringList lines = readTrimmed(cpuInfoPath).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0 && line.left(colon).trimmed() == key)
            return line.mid(colon + 1).trimmed();
    }
    return QString();
}

// Numbered entries such as thermal_zone2 in their numeric order (10 after 9).
QStringList numberedEntries(const QString &root, const QString &prefix)
{
    QStringList entries = QDir(root).entryList({prefix + QLatin1Char('*')},
                                               QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    std::sort(entries.begin(), entries.end(), [&](const QString &a, const QString &b) {
        return a.mid(prefix.size()).toInt() < b.mid(prefix.size()).toInt();
    });
    return entries;
}

bool readMilliDegrees(const QString &path, int *degrees)
{
    bool ok = false;
    const qint64 milli = readTrimmed(path).toLongLong(&ok);
    if (ok)
        *degrees = int(qRound64(double(milli) / 1000.0));
    return ok;
}

bool windowsFlavourOf(OsLayer &os)
{
    switch (SysUtilsPrivate::Flavour(g_flavour.load())) {
    case SysUtilsPrivate::Flavour::Windows:
        return true;
    case SysUtilsPrivate::Flavour::Linux:
        return false;
    case SysUtilsPrivate::Flavour::Automatic:
        break;
    }
    return std::strcmp(os.name(), "posix") != 0;
}

// Runs a system tool and waits for its answer; true when it ran and reported success.
bool runTool(const std::wstring &program, const std::vector<std::wstring> &args)
{
    const CommandResult r = OsLayer::current().startHostTool(program, args, true, COMMAND_WAIT_MS);
    QString line = QString::fromStdWString(program);
    for (const std::wstring &a : args)
        line += QLatin1Char(' ') + QString::fromStdWString(a);
    const bool ok = r.started && r.finished && r.exitCode == 0;
    if (!ok)
        qWarning().noquote() << "COMMAND FAILED" << line << "started" << r.started << "finished"
                             << r.finished << "exit code" << r.exitCode;
    return ok;
}

void startDetached(const std::wstring &program, const std::vector<std::wstring> &args)
{
    if (!OsLayer::current().startHostTool(program, args, false, 0).started)
        qWarning().noquote() << "COMMAND NOT STARTED" << QString::fromStdWString(program);
}

namespace linuxsys {

void setSystemTime(const QDateTime &utc)
{
    runTool(L"date",
            {L"-u", L"-s", utc.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdWString()});
}

bool getTimeZone(int &hours)
{
    const QDateTime now = QDateTime::currentDateTime();
    qWarning().noquote() << "TIMEZONE" << QString::fromLatin1(QTimeZone::systemTimeZoneId())
                         << now.timeZoneAbbreviation();
    hours = now.offsetFromUtc() / 3600;
    return true;
}

bool changeTimeZone(int hours)
{
    const QString zone = SysUtilsPrivate::fixedOffsetZone(hours);
    if (zone.isEmpty()) {
        qCritical().noquote() << QStringLiteral("INVALID_OFFCET ") + QString::number(hours);
        return false;
    }
    qWarning().noquote() << "TIMEZONE" << QString::fromLatin1(QTimeZone::systemTimeZoneId()) << "->"
                         << zone;
    if (!runTool(L"timedatectl", {L"set-timezone", zone.toStdWString()})) {
        qCritical() << "TIMEZONE SAVING ERROR";
        return false;
    }
    return true;
}

void forceReboot()
{
    qWarning() << "FORCE_REBOOTING";
    QCoreApplication::processEvents();
    startDetached(L"systemctl", {L"reboot", L"--force"});
}

void poweroff()
{
    if (runTool(L"systemctl", {L"poweroff"}))
        return;
    startDetached(L"shutdown", {L"-P", L"now"});
}

void reboot()
{
    qWarning() << "START_REBOOTING";
    if (runTool(L"systemctl", {L"reboot"})) {
        armRebootFallback(&forceReboot);
        return;
    }
    startDetached(L"shutdown", {L"-r", L"now"});
}

void cleanSpool(const QStringList &printers)
{
    std::vector<std::wstring> args{L"-a", L"-x"};
    for (const QString &p : printers)
        args.push_back(p.toStdWString());
    startDetached(L"cancel", args);
}

} // namespace linuxsys

// Crash handling. The callback slot is written once at start-up, before any signal.
std::function<void()> &crashCallback()
{
    static std::function<void()> callback;
    return callback;
}

volatile std::sig_atomic_t g_inCrashHandler = 0;
volatile std::sig_atomic_t g_callCallback = 0;

int exitCodeOf(int sig)
{
    switch (sig) {
    case SIGSEGV:
        return 5;
    case SIGILL:
        return 6;
    case SIGFPE:
        return 7;
    case SIGINT:
    case SIGTERM:
    case SIGABRT:
        return 0;
    default:
        return 9;
    }
}

extern "C" void onFatalSignal(int sig)
{
    // A second signal while the callback runs (it may itself fail) ends the process at
    // once instead of calling the callback again. exit() is not safe here: it would run
    // static destructors beside threads that still use them, or stall on a lock held by
    // the code that was interrupted.
    if (g_callCallback && !g_inCrashHandler) {
        g_inCrashHandler = 1;
        const std::function<void()> &callback = crashCallback();
        if (callback)
            callback();
    }
    std::_Exit(exitCodeOf(sig));
}

void installCrashHandlers(bool withCallback)
{
    g_callCallback = withCallback ? 1 : 0;
    winsys::installExceptionFilter();
    std::set_new_handler([] { std::exit(3); });
    std::set_terminate([] { std::exit(4); });
    for (int sig : {SIGTERM, SIGINT, SIGSEGV, SIGILL, SIGFPE, SIGABRT})
        std::signal(sig, onFatalSignal);
}

QPointer<QTimer> &fallbackTimer()
{
    static QPointer<QTimer> timer;
    return timer;
}

QByteArray sha256Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex();
}

} // namespace

// --- SysUtilsPrivate ----------------------------------------------------------------------

void SysUtilsPrivate::setFlavour(Flavour flavour)
{
    g_flavour.store(int(flavour));
}

bool SysUtilsPrivate::windowsFlavour()
{
    return windowsFlavourOf(OsLayer::current());
}

QString SysUtilsPrivate::formatSize(qint64 bytes, bool total)
{
    const QString slash = total ? QStringLiteral("/") : QString();
    if (bytes > FIVE_GIB)
        return slash + QStringLiteral("%1 GB").arg(bytes >> 30);
    if (bytes > ONE_MIB)
        return slash + QStringLiteral("%1 MB").arg(bytes >> 20);
    if (bytes > ONE_KIB)
        return slash + QStringLiteral("%1 KB").arg(bytes >> 10);
    return slash + QStringLiteral("%1 bytes").arg(bytes);
}

QStringList SysUtilsPrivate::filterAddresses(const QList<QHostAddress> &addresses)
{
    QStringList kept;
    const QRegExp ipv4(QString::fromLatin1(IPV4_PATTERN));
    for (const QHostAddress &address : addresses) {
        if (address.isNull() || address.isLoopback())
            continue;
        bool ok = false;
        const quint32 v4 = address.toIPv4Address(&ok);
        if (!ok)
            continue;
        // An IPv4-mapped IPv6 address is reported in its IPv4 form.
        const QString text = QHostAddress(v4).toString();
        if (!ipv4.exactMatch(text) || text.startsWith(QLatin1String("169.254.")))
            continue;
        kept.append(text);
    }
    return kept;
}

int SysUtilsPrivate::readCpuTemperature(const QString &thermalRoot)
{
    const QString prefix = QStringLiteral("thermal_zone");
    const QStringList zones = numberedEntries(thermalRoot, prefix);
    int fallback = 0;
    bool haveFallback = false;
    for (const QString &zone : zones) {
        const QString dir = thermalRoot + QLatin1Char('/') + zone;
        int degrees = 0;
        if (!readMilliDegrees(dir + QStringLiteral("/temp"), &degrees))
            continue;
        const QString type = readTrimmed(dir + QStringLiteral("/type")).toLower();
        // The processor's own zone when the kernel names one; else the first that reads.
        if (type.contains(QLatin1String("cpu")) || type.contains(QLatin1String("x86_pkg")) ||
            type.contains(QLatin1String("soc")))
            return degrees;
        if (!haveFallback) {
            fallback = degrees;
            haveFallback = true;
        }
    }
    return fallback;
}

int SysUtilsPrivate::readDriveTemperature(const QString &hwmonRoot)
{
    const QStringList sensors = numberedEntries(hwmonRoot, QStringLiteral("hwmon"));
    for (const QString &sensor : sensors) {
        const QString dir = hwmonRoot + QLatin1Char('/') + sensor;
        const QString name = readTrimmed(dir + QStringLiteral("/name"));
        if (name != QLatin1String("drivetemp") && name != QLatin1String("nvme"))
            continue;
        int degrees = 0;
        if (readMilliDegrees(dir + QStringLiteral("/temp1_input"), &degrees))
            return degrees;
    }
    return 0;
}

QString SysUtilsPrivate::readProcSerial(const QString &cpuInfoPath, const QString &dmiSerialPath)
{
    const QString serial = cpuInfoValue(cpuInfoPath, QStringLiteral("Serial"));
    if (!serial.isEmpty())
        return serial;
    return readTrimmed(dmiSerialPath);
}

QByteArray SysUtilsPrivate::linuxHardwareHash(const QStringList &machineIdPaths,
                                              const QString &cpuInfoPath)
{
    QString machineId;
    for (const QString &path : machineIdPaths) {
        machineId = readTrimmed(path);
        if (!machineId.isEmpty())
            break;
    }
    QString model;
    for (const char *key : {"model name", "Model", "Hardware", "cpu model", "cpu"}) {
        model = cpuInfoValue(cpuInfoPath, QLatin1String(key));
        if (!model.isEmpty())
            break;
    }
    if (machineId.isEmpty() && model.isEmpty()) {
        qWarning() << "NO MACHINE IDENTIFIERS FOR THE HARDWARE HASH";
        return QByteArray();
    }
    return sha256Hex(machineId.toUtf8() + '\n' + model.toUtf8());
}

QString SysUtilsPrivate::fixedOffsetZone(int hours)
{
    if (hours < -12 || hours > 14)
        return QString();
    if (hours == 0)
        return QStringLiteral("Etc/UTC");
    // The zone names count hours west, so east of UTC has a minus sign.
    return QStringLiteral("Etc/GMT%1%2").arg(hours > 0 ? '-' : '+').arg(qAbs(hours));
}

QString SysUtilsPrivate::deviceName(const QString &port, const QString &devDir)
{
    QString name = port.trimmed();
    const QString prefix = devDir + QLatin1Char('/');
    if (name.startsWith(prefix))
        name = name.mid(prefix.size());
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String(".") ||
        name == QLatin1String(".."))
        return QString();
    return name;
}

QTimer *SysUtilsPrivate::rebootFallbackTimer()
{
    return fallbackTimer().data();
}

const QStringList &SysUtilsPrivate::spoolScriptLines()
{
    static const QStringList lines{
        QStringLiteral("echo off"), QStringLiteral("net stop spooler"),
        QStringLiteral("del /Q %systemroot%\\system32\\spool\\printers\\*.shd"),
        QStringLiteral("del /Q %systemroot%\\system32\\spool\\printers\\*.spl"),
        QStringLiteral("net start spooler")};
    return lines;
}

void armRebootFallback(void (*force)())
{
    // Without parent, like the reboot it stands in for; it repeats until the system goes.
    QTimer *timer = new QTimer;
    timer->setInterval(REBOOT_FALLBACK_MS);
    QObject::connect(timer, &QTimer::timeout, force);
    timer->start();
    fallbackTimer() = timer;
}

#ifndef Q_OS_WIN
// Gives everyone read and write access to the character or block device "name" in devDir,
// found without following a link and changed through its descriptor: a name chosen by
// someone else must not open a root file to every account. Empty on success, else why not.
static QString openDeviceNode(const QString &devDir, const QString &name)
{
    const auto error = [] { return QString::fromLocal8Bit(std::strerror(errno)); };
    const int dir =
        ::open(QFile::encodeName(devDir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return error();
#ifdef O_PATH
    // A path descriptor: opening the device itself could wait for a modem or reset a line.
    const int fd =
        ::openat(dir, QFile::encodeName(name).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
#else
    const int fd = ::openat(dir, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC);
#endif
    const QString openError =
        fd < 0 ? (errno == ELOOP ? QStringLiteral("A SYMBOLIC LINK") : error()) : QString();
    ::close(dir);
    if (fd < 0)
        return openError;
    QString failure;
    struct stat st;
    if (::fstat(fd, &st) != 0)
        failure = error();
    else if (S_ISLNK(st.st_mode))
        failure = QStringLiteral("A SYMBOLIC LINK");
    else if (!S_ISCHR(st.st_mode) && !S_ISBLK(st.st_mode))
        failure = QStringLiteral("NOT A DEVICE NODE");
    else {
        // Read and write for everyone, nothing more: a device node is never executed.
#ifdef O_PATH
        const QByteArray viaFd = "/proc/self/fd/" + QByteArray::number(fd);
        const bool changed = ::chmod(viaFd.constData(), 0666) == 0;
#else
        const bool changed = ::fchmod(fd, 0666) == 0;
#endif
        if (!changed)
            failure = error();
    }
    ::close(fd);
    return failure;
}
#endif

// --- SysUtils ---------------------------------------------------------------------------

SysUtils::SysUtils() = default;
SysUtils::~SysUtils() = default;

int SysUtils::hddTemperature()
{
    if (SysUtilsPrivate::windowsFlavour())
        return 0;
    return SysUtilsPrivate::readDriveTemperature(QStringLiteral("/sys/class/hwmon"));
}

bool SysUtils::mountUsb()
{
    return false;
}

bool SysUtils::applyLinuxKernelSettings()
{
    return false;
}

bool SysUtils::unlockPort(const QString &port, bool verbose)
{
#ifdef Q_OS_WIN
    Q_UNUSED(port)
    Q_UNUSED(verbose)
    return true;
#else
    if (SysUtilsPrivate::windowsFlavour())
        return true;
    return SysUtilsPrivate::unlockDeviceNode(QStringLiteral("/dev"), port, verbose);
#endif
}

bool SysUtilsPrivate::unlockDeviceNode(const QString &devDir, const QString &port, bool verbose)
{
#ifdef Q_OS_WIN
    Q_UNUSED(devDir)
    Q_UNUSED(port)
    Q_UNUSED(verbose)
    return true;
#else
    const QString trimmed = port.trimmed();
    if (trimmed.isEmpty()) {
        qWarning() << "UNLOCK PORT: NO PORT GIVEN";
        return false;
    }
    const QString name = deviceName(trimmed, devDir);
    const QString failure = name.isEmpty() ? QStringLiteral("NOT A NAME DIRECTLY IN %1").arg(devDir)
                                           : openDeviceNode(devDir, name);
    const bool ok = failure.isEmpty();
    if (!ok || verbose)
        qWarning().noquote() << "UNLOCK PORT" << trimmed << (ok ? QStringLiteral("OK") : failure);
    return ok;
#endif
}

void SysUtils::unlockPorts(const QStringList &ports, bool verbose)
{
    for (const QString &port : ports)
        unlockPort(port, verbose);
}

void SysUtils::rotateLogs() {}

bool SysUtils::prepareDirRules(const QString &, const QString &)
{
    return true;
}

QString SysUtils::getProcSerial()
{
    if (SysUtilsPrivate::windowsFlavour())
        return QString();
    return SysUtilsPrivate::readProcSerial(QStringLiteral("/proc/cpuinfo"),
                                           QStringLiteral("/sys/class/dmi/id/product_serial"));
}

void SysUtils::configureSerialPort(const QString &) {}

bool SysUtils::freeDiskSpace(const QString &path, qint64 &freeBytes, qint64 &totalBytes)
{
    const QStorageInfo storage(path);
    if (!storage.isValid())
        return false;
    freeBytes = storage.bytesFree();
    totalBytes = storage.bytesTotal();
    return true;
}

QString SysUtils::freeDiskSpace(const QStringList &paths)
{
    QStringList entries;
    auto add = [&](const QString &name, const QStorageInfo &storage) {
        if (!storage.isValid())
            return;
        entries.append(name + QLatin1Char(' ') +
                       SysUtilsPrivate::formatSize(storage.bytesFree(), false) +
                       SysUtilsPrivate::formatSize(storage.bytesTotal(), true));
    };
    const QList<QStorageInfo> volumes = QStorageInfo::mountedVolumes();
    for (const QStorageInfo &volume : volumes) {
        if (volume.device() != "tmpfs")
            add(volume.rootPath(), volume);
    }
    for (const QString &path : paths)
        add(path, QStorageInfo(path));
    return entries.join(QStringLiteral("; "));
}

QString SysUtils::ipAddress()
{
    QList<QHostAddress> addresses;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsUp) ||
            (iface.flags() & QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = iface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries)
            addresses.append(entry.ip());
    }
    return SysUtilsPrivate::filterAddresses(addresses).join(QStringLiteral("; "));
}

bool SysUtils::getNetworkTraffic(qint64 &received, qint64 &sent)
{
    std::vector<InterfaceRow> rows;
    const long rc = OsLayer::current().interfaceTable(&rows);
    if (rc != OS_ERROR_SUCCESS) {
        qWarning() << "INTERFACE TABLE ERROR" << rc;
        return false;
    }
    received = 0;
    sent = 0;
    for (const InterfaceRow &row : rows) {
        if (row.type == IF_TYPE_SOFTWARE_LOOPBACK)
            continue;
        received += qint64(row.inOctets);
        sent += qint64(row.outOctets);
    }
    return true;
}

qint64 SysUtils::uptime()
{
    return qint64(OsLayer::current().tickCount() / 1000);
}

QDateTime SysUtils::startDt()
{
    return QDateTime::currentDateTimeUtc().addSecs(-uptime());
}

quint64 SysUtils::getTotalSystemMemory()
{
    MemoryStatus status;
    if (!OsLayer::current().memoryStatus(&status))
        qWarning() << "MEMORY STATUS ERROR";
    return status.totalPhys;
}

quint64 SysUtils::getAvailableSystemMemory()
{
    MemoryStatus status;
    if (!OsLayer::current().memoryStatus(&status))
        qWarning() << "MEMORY STATUS ERROR";
    return status.availPhys;
}

int SysUtils::cpuTemperature()
{
    if (SysUtilsPrivate::windowsFlavour())
        return winsys::cpuTemperature();
    return SysUtilsPrivate::readCpuTemperature(QStringLiteral("/sys/class/thermal"));
}

bool SysUtils::fileSystemIsAvailable(const QString &path)
{
    if (path.isEmpty() || !QDir(path).exists())
        return false;
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady() || storage.isReadOnly())
        return false;
    // A drive letter names the volume on Windows; elsewhere the mount point does.
    const QString absolute = QDir(path).absolutePath();
    const QString root = absolute.indexOf(QLatin1Char(':')) == 1
                             ? absolute.left(2) + QLatin1Char('\\')
                             : storage.rootPath();
    std::uint32_t flags = 0;
    if (!OsLayer::current().volumeFlags(root.toStdWString(), &flags))
        return true;
    return !(flags & VOLUME_FLAG_READ_ONLY);
}

void SysUtils::setSystemTime(const QDateTime &dt, bool isUtc)
{
    qWarning().noquote() << "SET SYSTEM TIME" << dt.toString(Qt::ISODate);
    if (!dt.isValid())
        return;
    const QDateTime utc = isUtc ? QDateTime(dt.date(), dt.time(), Qt::UTC) : dt.toTimeSpec(Qt::UTC);
    qWarning().noquote() << "REQUESTED" << dt.toString(Qt::ISODate) << "UTC"
                         << utc.toString(Qt::ISODate) << "CURRENT UTC"
                         << QDateTime::currentDateTimeUtc().toString(Qt::ISODate) << "CURRENT LOCAL"
                         << QDateTime::currentDateTime().toString(Qt::ISODate);
    if (SysUtilsPrivate::windowsFlavour())
        winsys::setSystemTime(utc);
    else
        linuxsys::setSystemTime(utc);
}

bool SysUtils::setDateTime(const QDateTime &dt)
{
    setSystemTime(dt, dt.timeSpec() == Qt::UTC);
    return true;
}

bool SysUtils::setDate(const QDate &date)
{
    QDateTime now = QDateTime::currentDateTime();
    now.setDate(date);
    return setDateTime(now);
}

bool SysUtils::setTime(const QTime &time)
{
    QDateTime now = QDateTime::currentDateTime();
    now.setTime(time);
    return setDateTime(now);
}

bool SysUtils::getTimeZone(int &hours)
{
    if (SysUtilsPrivate::windowsFlavour())
        return winsys::getTimeZone(hours);
    return linuxsys::getTimeZone(hours);
}

bool SysUtils::changeTimeZone(int hours, QLocale::Country)
{
    if (SysUtilsPrivate::windowsFlavour())
        return winsys::changeTimeZone(hours);
    return linuxsys::changeTimeZone(hours);
}

bool SysUtils::setTimeZone(int hours)
{
    return changeTimeZone(hours, QLocale::system().country());
}

bool SysUtils::chooseTimeZone(int hours, QLocale::Country, QByteArray &zoneId)
{
    zoneId.clear();
    const QList<QByteArray> ids = QTimeZone::availableTimeZoneIds(hours * 3600);
    if (ids.isEmpty()) {
        qCritical().noquote() << QStringLiteral("INVALID_OFFCET ") + QString::number(hours);
        return false;
    }
    const QString id = QStringLiteral("UTC%1%2:00")
                           .arg(hours >= 0 ? '+' : '-')
                           .arg(qAbs(hours), 2, 10, QLatin1Char('0'));
    if (!ids.contains(id.toLatin1()))
        return false;
    zoneId = id.toLocal8Bit();
    return true;
}

QString SysUtils::formatDtWithOffcet(const QDateTime &dt)
{
    if (!dt.isValid())
        return QString();
    // The written form carries the offset in force at that moment, whatever its Qt::TimeSpec.
    const QDateTime parsed = QDateTime::fromString(dt.toString(Qt::RFC2822Date), Qt::RFC2822Date);
    const int offset = parsed.timeZone().offsetFromUtc(parsed);
    const int minutes = qAbs(offset) / 60;
    return QLocale::system().toString(dt, QLocale::ShortFormat) +
           QStringLiteral(" %1%2:%3")
               .arg(offset >= 0 ? '+' : '-')
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

void SysUtils::poweroff()
{
    if (SysUtilsPrivate::windowsFlavour())
        winsys::poweroff();
    else
        linuxsys::poweroff();
}

void SysUtils::reboot()
{
    if (SysUtilsPrivate::windowsFlavour())
        winsys::reboot();
    else
        linuxsys::reboot();
}

void SysUtils::monitorOn()
{
    if (SysUtilsPrivate::windowsFlavour())
        winsys::monitor(true);
    else
        startDetached(L"xset", {L"dpms", L"force", L"on"});
}

void SysUtils::monitorOff()
{
    if (SysUtilsPrivate::windowsFlavour())
        winsys::monitor(false);
    else
        startDetached(L"xset", {L"dpms", L"force", L"off"});
}

void SysUtils::cleanSpool(const QStringList &printers)
{
    if (SysUtilsPrivate::windowsFlavour())
        winsys::cleanSpool();
    else
        linuxsys::cleanSpool(printers);
}

void SysUtils::killProcess(const QString &name)
{
    if (name.isEmpty())
        return;
    OsLayer &os = OsLayer::current();
    const bool windows = windowsFlavourOf(os);
    const std::uint32_t self = os.currentProcessId();
    std::vector<ProcessEntry> processes;
    if (!os.processSnapshot(&processes)) {
        qWarning() << "PROCESS SNAPSHOT ERROR";
        return;
    }
    // Windows names ignore case; Linux names do not.
    const Qt::CaseSensitivity cs = windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
    for (const ProcessEntry &p : processes) {
        const QString exe = QString::fromStdWString(p.exeName);
        if (windows)
            qWarning().noquote() << exe << name;
        // The caller asks to end other processes; ending itself would stop the walk half-way.
        if (exe.compare(name, cs) != 0 || p.pid == self)
            continue;
        const bool ok = os.terminateProcess(p.pid, 9);
        qWarning().noquote() << "TERMINATE" << exe << p.pid << (ok ? "true" : "false");
    }
}

void SysUtils::catchSystemExceptions()
{
    installCrashHandlers(false);
}

void SysUtils::catchSystemExceptions(std::function<void()> callback)
{
    crashCallback() = std::move(callback);
    installCrashHandlers(true);
}

QByteArray SysUtils::hardwareHash()
{
    if (SysUtilsPrivate::windowsFlavour())
        return SysUtilsPrivate::windowsHardwareHash();
    return SysUtilsPrivate::linuxHardwareHash(
        {QStringLiteral("/etc/machine-id"), QStringLiteral("/var/lib/dbus/machine-id")},
        QStringLiteral("/proc/cpuinfo"));
}

} // namespace ravix
