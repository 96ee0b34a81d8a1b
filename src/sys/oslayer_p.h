// SPDX-License-Identifier: MIT
#pragma once

// The operating-system primitives behind the Windows-facing classes. Plain C++ types only,
// so that the Win32 backend also builds without Qt. One backend serves the whole process:
// the real Win32 calls on Windows, an in-memory Windows for tests, and elsewhere the host
// system where a primitive has a natural meaning there.

#include <ravixcore/ravixcore_export.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ravix {
namespace oslayer {

using Bytes = std::vector<unsigned char>;

// A registry key handle: one of the four roots below or a key the backend opened.
using RegKey = std::uintptr_t;
constexpr RegKey REG_ROOT_CLASSES_ROOT = 0x80000000u;
constexpr RegKey REG_ROOT_CURRENT_USER = 0x80000001u;
constexpr RegKey REG_ROOT_LOCAL_MACHINE = 0x80000002u;
constexpr RegKey REG_ROOT_USERS = 0x80000003u;

// Access rights and views, with the values the system uses.
constexpr std::uint32_t REG_KEY_READ = 0x20019;
constexpr std::uint32_t REG_KEY_WRITE = 0x20006;
constexpr std::uint32_t REG_KEY_ALL_ACCESS = 0xf003f;
constexpr std::uint32_t REG_KEY_WOW64_64KEY = 0x0100;
constexpr std::uint32_t REG_KEY_WOW64_32KEY = 0x0200;

// Value types.
constexpr std::uint32_t REG_TYPE_NONE = 0;
constexpr std::uint32_t REG_TYPE_SZ = 1;
constexpr std::uint32_t REG_TYPE_EXPAND_SZ = 2;
constexpr std::uint32_t REG_TYPE_BINARY = 3;
constexpr std::uint32_t REG_TYPE_DWORD = 4;
constexpr std::uint32_t REG_TYPE_DWORD_BIG_ENDIAN = 5;
constexpr std::uint32_t REG_TYPE_LINK = 6;
constexpr std::uint32_t REG_TYPE_MULTI_SZ = 7;
constexpr std::uint32_t REG_TYPE_QWORD = 11;

// System error codes.
constexpr long OS_ERROR_SUCCESS = 0;
constexpr long OS_ERROR_FILE_NOT_FOUND = 2;
constexpr long OS_ERROR_ACCESS_DENIED = 5;
constexpr long OS_ERROR_INVALID_HANDLE = 6;
constexpr long OS_ERROR_INVALID_PARAMETER = 87;
constexpr long OS_ERROR_INSUFFICIENT_BUFFER = 122;
constexpr long OS_ERROR_MORE_DATA = 234;
constexpr long OS_ERROR_NO_MORE_ITEMS = 259;
constexpr long OS_ERROR_KEY_DELETED = 1018;
constexpr long OS_ERROR_NOT_SUPPORTED = 50;

// SystemParametersInfoW actions and flags used by the library.
constexpr std::uint32_t SPI_ACTION_SETSCREENSAVEACTIVE = 0x11;
constexpr std::uint32_t SPI_ACTION_SETLOWPOWERACTIVE = 0x55;
constexpr std::uint32_t SPI_ACTION_SETPOWEROFFACTIVE = 0x56;
constexpr std::uint32_t SPI_FLAG_SENDCHANGE = 2;

// ExitWindowsEx flags and the reason "application".
constexpr std::uint32_t EXIT_WINDOWS_REBOOT = 0x02;
constexpr std::uint32_t EXIT_WINDOWS_POWEROFF = 0x08;
constexpr std::uint32_t SHUTDOWN_REASON_MAJOR_APPLICATION = 0x00040000;

// Special folders (CSIDL numbers) and the matching known folders.
constexpr int CSIDL_ID_STARTUP = 0x07;
constexpr int CSIDL_ID_COMMON_STARTUP = 0x18;
enum class KnownFolder { Startup, CommonStartup };

// Volume flag of a read-only file system.
constexpr std::uint32_t VOLUME_FLAG_READ_ONLY = 0x00080000;

// Interface type of the software loopback in the interface table.
constexpr std::uint32_t IF_TYPE_SOFTWARE_LOOPBACK = 24;

// Result of GetTimeZoneInformation when it fails.
constexpr std::uint32_t TIME_ZONE_ID_FAILED = 0xffffffffu;

struct ProcessEntry
{
    std::uint32_t pid = 0;
    std::uint32_t parentPid = 0;
    std::wstring exeName; ///< the executable's file name, e.g. "explorer.exe"
};

struct CommandResult
{
    bool started = false;
    std::uint32_t pid = 0;
    bool finished = false; ///< only when waited for
    std::uint32_t exitCode = 0;
};

struct SystemTime
{
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0; ///< Sunday is 0
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
    bool operator==(const SystemTime &o) const
    {
        return year == o.year && month == o.month && dayOfWeek == o.dayOfWeek && day == o.day &&
               hour == o.hour && minute == o.minute && second == o.second &&
               milliseconds == o.milliseconds;
    }
};

struct TimeZoneInfo
{
    std::int32_t bias = 0; ///< minutes, UTC = local + bias
    std::wstring standardName;
    SystemTime standardDate;
    std::int32_t standardBias = 0;
    std::wstring daylightName;
    SystemTime daylightDate;
    std::int32_t daylightBias = 0;
};

struct MemoryStatus
{
    std::uint64_t totalPhys = 0;
    std::uint64_t availPhys = 0;
};

struct InterfaceRow
{
    std::uint32_t type = 0;
    // 32 bits wide (and wrapping) in the Windows table; the host's own counters elsewhere.
    std::uint64_t inOctets = 0;
    std::uint64_t outOctets = 0;
};

struct ShellLinkInfo
{
    std::wstring path;
    std::wstring description;
    std::wstring arguments;
    std::wstring workDir;
};

class RAVIXCORE_EXPORT OsLayer
{
public:
    virtual ~OsLayer();

    /// The backend of this process; the platform's default unless select() came first.
    static OsLayer &current();
    /// Installs \a backend for the rest of the process. Refused (false, backend
    /// deleted) once a backend was chosen, explicitly or by a first current().
    static bool select(std::unique_ptr<OsLayer> backend);

    virtual const char *name() const = 0;

    // Registry. Every call returns a system error code (0 = success).
    virtual long regOpenKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                            RegKey *result) = 0;
    virtual long regCreateKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                              RegKey *result) = 0;
    virtual long regCloseKey(RegKey key) = 0;
    virtual long regQueryValue(RegKey key, const std::wstring &name, std::uint32_t *type,
                               Bytes *data) = 0;
    virtual long regSetValue(RegKey key, const std::wstring &name, std::uint32_t type,
                             const Bytes &data) = 0;
    virtual long regDeleteValue(RegKey key, const std::wstring &name) = 0;
    /// Deletes a subkey that has no subkeys of its own, in the view \a access names.
    virtual long regDeleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access) = 0;
    virtual long regQueryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values) = 0;
    virtual long regEnumKey(RegKey key, std::uint32_t index, std::wstring *name) = 0;
    virtual long regEnumValue(RegKey key, std::uint32_t index, std::wstring *name) = 0;
    virtual long regFlushKey(RegKey key) = 0;
    /// The system's message text for an error code, without a trailing line break.
    virtual std::wstring errorMessage(long code) = 0;

    // Version and processes.
    /// The packed version as GetVersion gives it: major in the low byte, minor in the next.
    virtual std::uint32_t getVersion() = 0;
    virtual bool processSnapshot(std::vector<ProcessEntry> *processes) = 0;
    virtual std::uint32_t currentProcessId() = 0;
    virtual bool terminateProcess(std::uint32_t pid, std::uint32_t exitCode) = 0;
    /// Starts \a program with each argument passed as one argument, never through a shell.
    /// With \a wait, waits up to \a waitMs and reports the exit code when it ended.
    virtual CommandResult startCommand(const std::wstring &program,
                                       const std::vector<std::wstring> &args, bool wait,
                                       std::uint32_t waitMs) = 0;
    /// Starts one of the host system's own tools (date, systemctl, ...) as startCommand
    /// starts a program. The host backend elsewhere refuses startCommand, so that code
    /// written for Windows never runs its commands there, and runs only these.
    virtual CommandResult startHostTool(const std::wstring &program,
                                        const std::vector<std::wstring> &args, bool wait,
                                        std::uint32_t waitMs) = 0;

    // Shell.
    virtual bool systemParametersInfo(std::uint32_t action, std::uint32_t uiParam,
                                      std::uint32_t flags) = 0;
    virtual std::vector<std::wstring> drives() = 0;
    /// False when the system lacks known folders; \a path is then untouched.
    virtual bool knownFolderPath(KnownFolder folder, std::wstring *path) = 0;
    virtual bool specialFolderPath(int csidl, std::wstring *path) = 0;
    /// Resolves a shell link; on failure \a failedStep names the step and \a code its result.
    virtual bool resolveShellLink(const std::wstring &linkPath, ShellLinkInfo *info,
                                  std::string *failedStep, long *code) = 0;

    // Files and permissions.
    /// Times in 100-ns units since 1601-01-01 UTC; a null pointer leaves that time alone.
    virtual bool setFileTimes(const std::wstring &path, const std::uint64_t *creation,
                              const std::uint64_t *access, const std::uint64_t *write) = 0;
    /// Gives the group of all users full access, inherited by everything below a directory.
    virtual bool grantEveryoneFullAccess(const std::wstring &path) = 0;
    virtual bool volumeFlags(const std::wstring &root, std::uint32_t *flags) = 0;
    virtual bool volumeSerialNumber(const std::wstring &root, std::uint32_t *serial) = 0;
    /// The volume and the number that name a file whatever path leads to it (a second name
    /// of the same file gives the same pair); false when unknown.
    virtual bool fileIdentity(const std::wstring &path, std::uint64_t *volume,
                              std::uint64_t *index) = 0;

    // Time, memory, network and power.
    virtual bool setSystemTime(const SystemTime &utc) = 0;
    virtual bool enablePrivilege(const std::wstring &privilege) = 0;
    /// Returns the zone id (0 unknown, 1 standard, 2 daylight) or TIME_ZONE_ID_FAILED.
    virtual std::uint32_t getTimeZoneInformation(TimeZoneInfo *info) = 0;
    virtual bool setTimeZoneInformation(const TimeZoneInfo &info) = 0;
    virtual bool memoryStatus(MemoryStatus *status) = 0;
    /// Milliseconds since the system started (64-bit counter where the system has one).
    virtual std::uint64_t tickCount() = 0;
    /// The interface table; returns a system error code.
    virtual long interfaceTable(std::vector<InterfaceRow> *rows) = 0;
    virtual bool exitWindows(std::uint32_t flags, std::uint32_t reason) = 0;
    /// The raw "CurrentReading" of the first temperature sensor WMI reports; on failure
    /// \a failedStep names the step that failed (e.g. "pLocator->ConnectServer").
    virtual bool cpuTemperature(std::int32_t *reading, std::string *failedStep) = 0;

protected:
    OsLayer() = default;
    OsLayer(const OsLayer &) = delete;
    OsLayer &operator=(const OsLayer &) = delete;
};

/// The platform's default backend (Win32 on Windows, the host system elsewhere).
RAVIXCORE_EXPORT std::unique_ptr<OsLayer> createDefaultOsLayer();
/// The file of the loaded module (shared library or program) that holds \a address, as the
/// system's loader knows it; empty when it cannot tell. Not a backend primitive: where the
/// library lies is a fact of the real process, emulated or not.
RAVIXCORE_EXPORT std::wstring moduleFilePath(const void *address);

/// Quotes one argument so that the C runtime's command-line parser gives it back unchanged.
RAVIXCORE_EXPORT std::wstring quoteWindowsArgument(const std::wstring &arg);

/// Little-endian encodings of the integer value types.
RAVIXCORE_EXPORT Bytes dwordBytes(std::uint32_t v);
RAVIXCORE_EXPORT Bytes qwordBytes(std::uint64_t v);

} // namespace oslayer
} // namespace ravix
