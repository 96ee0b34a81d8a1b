// The default backend on systems other than Windows: processes, permissions, drives,
// memory, uptime and the interface table are the host's own; the registry lives in memory;
// everything that only Windows has is logged as unsupported and fails.
#ifndef _WIN32

#include "sys/emulatedwindows_p.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

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
        struct sysinfo info;
        if (::sysinfo(&info) != 0)
            return false;
        status->totalPhys = std::uint64_t(info.totalram) * info.mem_unit;
        status->availPhys = std::uint64_t(info.freeram + info.bufferram) * info.mem_unit;
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
            // The table's counters are 32 bits wide and wrap.
            row.inOctets = std::uint32_t(fields.at(0).toULongLong());
            row.outOctets = std::uint32_t(fields.at(8).toULongLong());
            rows->push_back(row);
        }
        return OS_ERROR_SUCCESS;
    }

    bool exitWindows(std::uint32_t, std::uint32_t) override
    {
        notSupported("ExitWindowsEx");
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

} // namespace oslayer
} // namespace ravix

#endif
