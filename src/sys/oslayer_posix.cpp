// SPDX-License-Identifier: MIT
// The default backend on systems other than Windows: processes, the host's own tools,
// permissions, drives, memory, uptime and the interface table are the host's own; the
// registry lives in memory;
// everything that only Windows has is logged as unsupported and fails.
#ifndef _WIN32

#include "sys/emulatedwindows_p.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <dlfcn.h>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace ravix {
namespace oslayer {

namespace {

void notSupported(const char *what)
{
    qWarning("%s: not supported on this platform", what);
}

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

class PosixOsLayer : public OsLayer
{
public:
    const char *name() const override { return "posix"; }

    long regOpenKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                    RegKey *result) override
    {
        return m_registry.openKey(parent, subKey, access, result);
    }
    long regCreateKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                      RegKey *result) override
    {
        return m_registry.createKey(parent, subKey, access, result);
    }
    long regCloseKey(RegKey key) override { return m_registry.closeKey(key); }
    long regQueryValue(RegKey key, const std::wstring &name, std::uint32_t *type,
                       Bytes *data) override
    {
        return m_registry.queryValue(key, name, type, data);
    }
    long regSetValue(RegKey key, const std::wstring &name, std::uint32_t type,
                     const Bytes &data) override
    {
        return m_registry.setValue(key, name, type, data);
    }
    long regDeleteValue(RegKey key, const std::wstring &name) override
    {
        return m_registry.deleteValue(key, name);
    }
    long regDeleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access) override
    {
        return m_registry.deleteKey(parent, subKey, access);
    }
    long regQueryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values) override
    {
        return m_registry.queryInfoKey(key, subKeys, values);
    }
    long regEnumKey(RegKey key, std::uint32_t index, std::wstring *name) override
    {
        return m_registry.enumKey(key, index, name);
    }
    long regEnumValue(RegKey key, std::uint32_t index, std::wstring *name) override
    {
        return m_registry.enumValue(key, index, name);
    }
    long regFlushKey(RegKey key) override { return m_registry.flushKey(key); }
    std::wstring errorMessage(long code) override { return EmulatedRegistry::errorMessage(code); }

    std::uint32_t getVersion() override
    {
        notSupported("GetVersion");
        return 0;
    }

    bool processSnapshot(std::vector<ProcessEntry> *processes) override
    {
        processes->clear();
        const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
        for (const QString &entry : entries) {
            bool ok = false;
            const uint pid = entry.toUInt(&ok);
            if (!ok)
                continue;
            const QString dir = QStringLiteral("/proc/") + entry;
            ProcessEntry e;
            e.pid = pid;
            // The name lies between the first "(" and the last ")"; the parent follows.
            const QByteArray stat = readSmallFile(dir + QStringLiteral("/stat"));
            const int close = stat.lastIndexOf(')');
            if (close < 0)
                continue; // ended meanwhile
            const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
            if (fields.size() > 1)
                e.parentPid = fields.at(1).toUInt();
            QString exe = QFile::symLinkTarget(dir + QStringLiteral("/exe"));
            if (exe.endsWith(QLatin1String(" (deleted)")))
                exe.chop(10);
            if (!exe.isEmpty()) {
                e.exeName = exe.mid(exe.lastIndexOf(QLatin1Char('/')) + 1).toStdWString();
            } else {
                const int open = stat.indexOf('(');
                e.exeName =
                    QString::fromLocal8Bit(stat.mid(open + 1, close - open - 1)).toStdWString();
            }
            processes->push_back(e);
        }
        return true;
    }

    std::uint32_t currentProcessId() override { return std::uint32_t(::getpid()); }

    bool terminateProcess(std::uint32_t pid, std::uint32_t) override
    {
        // No exit code can be chosen here; the kill signal is what the parent sees.
        return pid > 1 && ::kill(pid_t(pid), SIGKILL) == 0;
    }

    CommandResult startCommand(const std::wstring &program, const std::vector<std::wstring> &, bool,
                               std::uint32_t) override
    {
        qWarning("start of \"%s\": not supported on this platform",
                 qPrintable(QString::fromStdWString(program)));
        return CommandResult();
    }

    CommandResult startHostTool(const std::wstring &program, const std::vector<std::wstring> &args,
                                bool wait, std::uint32_t waitMs) override
    {
        CommandResult result;
        QStringList arguments;
        for (const std::wstring &a : args)
            arguments.append(QString::fromStdWString(a));
        const QString prog = QString::fromStdWString(program);
        if (!wait) {
            qint64 pid = 0;
            result.started = QProcess::startDetached(prog, arguments, QString(), &pid);
            result.pid = std::uint32_t(pid);
            return result;
        }
        // Spawned directly, so that a command still running after the wait is left alone
        // instead of being killed with a QProcess going out of scope.
        std::vector<QByteArray> storage;
        storage.push_back(QFile::encodeName(prog));
        for (const QString &a : arguments)
            storage.push_back(a.toLocal8Bit());
        std::vector<char *> argv;
        for (QByteArray &b : storage)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
            return result;
        result.started = true;
        result.pid = std::uint32_t(pid);
        const QDeadlineTimer deadline{qint64(waitMs)};
        for (;;) {
            int status = 0;
            const pid_t done = ::waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                result.finished = true;
                result.exitCode = WIFEXITED(status) ? std::uint32_t(WEXITSTATUS(status))
                                                    : std::uint32_t(128 + WTERMSIG(status));
                break;
            }
            if (done < 0 || deadline.hasExpired())
                break;
            QThread::msleep(10);
        }
        return result;
    }

    bool systemParametersInfo(std::uint32_t, std::uint32_t, std::uint32_t) override
    {
        notSupported("SystemParametersInfoW");
        return false;
    }

    std::vector<std::wstring> drives() override { return {L"/"}; }

    bool knownFolderPath(KnownFolder, std::wstring *) override { return false; }

    bool specialFolderPath(int, std::wstring *) override
    {
        notSupported("SHGetSpecialFolderPathW");
        return false;
    }

    bool resolveShellLink(const std::wstring &, ShellLinkInfo *, std::string *failedStep,
                          long *code) override
    {
        notSupported("shell links");
        *failedStep = "CoCreateInstance";
        *code = OS_ERROR_NOT_SUPPORTED;
        return false;
    }

    bool setFileTimes(const std::wstring &path, const std::uint64_t *, const std::uint64_t *access,
                      const std::uint64_t *write) override
    {
        // There is no settable creation time here.
        struct timespec times[2];
        const std::uint64_t *given[2] = {access, write};
        for (int i = 0; i < 2; ++i) {
            if (!given[i]) {
                times[i].tv_sec = 0;
                times[i].tv_nsec = UTIME_OMIT;
                continue;
            }
            constexpr std::int64_t epochDiff = 116444736000000000LL; // 1601 to 1970
            const std::int64_t units = std::int64_t(*given[i]) - epochDiff;
            std::int64_t sec = units / 10000000;
            std::int64_t rest = units % 10000000;
            if (rest < 0) {
                rest += 10000000;
                --sec;
            }
            times[i].tv_sec = time_t(sec);
            times[i].tv_nsec = long(rest * 100);
        }
        const QByteArray p = QFile::encodeName(QString::fromStdWString(path));
        return ::utimensat(AT_FDCWD, p.constData(), times, 0) == 0;
    }

    // The permission bits are the whole of the access rules here; nothing is left to add.
    bool grantEveryoneFullAccess(const std::wstring &) override { return true; }

    bool volumeFlags(const std::wstring &root, std::uint32_t *flags) override
    {
        struct statvfs st;
        const QByteArray p = QFile::encodeName(QString::fromStdWString(root));
        if (::statvfs(p.constData(), &st) != 0)
            return false;
        *flags = (st.f_flag & ST_RDONLY) ? VOLUME_FLAG_READ_ONLY : 0;
        return true;
    }

    bool volumeSerialNumber(const std::wstring &, std::uint32_t *) override
    {
        notSupported("volume serial numbers");
        return false;
    }

    bool fileIdentity(const std::wstring &path, std::uint64_t *volume,
                      std::uint64_t *index) override
    {
        struct stat st;
        if (::stat(QFile::encodeName(QString::fromStdWString(path)).constData(), &st) != 0)
            return false;
        *volume = std::uint64_t(st.st_dev);
        *index = std::uint64_t(st.st_ino);
        return true;
    }

    bool setSystemTime(const SystemTime &) override
    {
        notSupported("SetSystemTime");
        return false;
    }

    bool enablePrivilege(const std::wstring &) override
    {
        notSupported("AdjustTokenPrivileges");
        return false;
    }

    std::uint32_t getTimeZoneInformation(TimeZoneInfo *) override
    {
        notSupported("GetTimeZoneInformation");
        return TIME_ZONE_ID_FAILED;
    }

    bool setTimeZoneInformation(const TimeZoneInfo &) override
    {
        notSupported("SetTimeZoneInformation");
        return false;
    }

    bool memoryStatus(MemoryStatus *status) override
    {
        // MemAvailable is the kernel's own estimate of what can be had without swapping.
        std::uint64_t total = 0;
        std::uint64_t available = 0;
        bool haveTotal = false;
        bool haveAvailable = false;
        const QList<QByteArray> lines = readSmallFile(QStringLiteral("/proc/meminfo")).split('\n');
        for (const QByteArray &line : lines) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() < 2)
                continue;
            if (fields.at(0) == "MemTotal:")
                total = fields.at(1).toULongLong(&haveTotal) * 1024;
            else if (fields.at(0) == "MemAvailable:")
                available = fields.at(1).toULongLong(&haveAvailable) * 1024;
        }
        if (!haveTotal || !haveAvailable)
            return false;
        status->totalPhys = total;
        status->availPhys = available;
        return true;
    }

    std::uint64_t tickCount() override
    {
        struct timespec ts;
        if (::clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
            return 0;
        return std::uint64_t(ts.tv_sec) * 1000 + std::uint64_t(ts.tv_nsec) / 1000000;
    }

    long interfaceTable(std::vector<InterfaceRow> *rows) override
    {
        // "name: rx_bytes rx_packets ... (8 receive fields) tx_bytes ..."
        const QList<QByteArray> lines = readSmallFile(QStringLiteral("/proc/net/dev")).split('\n');
        if (lines.size() < 3)
            return OS_ERROR_NOT_SUPPORTED;
        rows->clear();
        for (int i = 2; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = lines.at(i).left(colon).trimmed();
            const QList<QByteArray> fields = lines.at(i).mid(colon + 1).simplified().split(' ');
            if (fields.size() < 9)
                continue;
            InterfaceRow row;
            row.type = name == "lo" ? IF_TYPE_SOFTWARE_LOOPBACK : 6;
            row.inOctets = fields.at(0).toULongLong();
            row.outOctets = fields.at(8).toULongLong();
            rows->push_back(row);
        }
        return OS_ERROR_SUCCESS;
    }

    bool exitWindows(std::uint32_t, std::uint32_t) override
    {
        notSupported("ExitWindowsEx");
        return false;
    }

    bool cpuTemperature(std::int32_t *, std::string *failedStep) override
    {
        notSupported("WMI");
        *failedStep = "CoCreateInstance";
        return false;
    }

private:
    EmulatedRegistry m_registry;
};

} // namespace

std::unique_ptr<OsLayer> createDefaultOsLayer()
{
    return std::make_unique<PosixOsLayer>();
}

std::wstring moduleFilePath(const void *address)
{
    Dl_info info;
    if (::dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return std::wstring();
    return QFile::decodeName(info.dli_fname).toStdWString();
}

} // namespace oslayer
} // namespace ravix

#endif
