// SPDX-License-Identifier: MIT
#pragma once

// An in-memory Windows: a registry with its four roots, 32-bit view redirection and
// error codes; a process table; a settable version; and a record of every command
// started and every setting changed. Tests drive the Windows code paths through it.

#include "sys/oslayer_p.h"

#include <map>
#include <mutex>

namespace ravix {
namespace oslayer {

class RAVIXCORE_EXPORT EmulatedRegistry
{
public:
    /// \a redirect32: the process sees the 32-bit view by default (a 32-bit process on a
    /// 64-bit system), so HKLM\SOFTWARE leads to its Wow6432Node copy unless the 64-bit
    /// view is asked for.
    explicit EmulatedRegistry(bool redirect32 = false);
    ~EmulatedRegistry();

    void setRedirect32(bool redirect32);
    bool redirect32() const;
    /// Removes every key and value and closes every handle.
    void clear();
    /// A key that refuses every right to change it (as an access list would), or allows it
    /// again. \a path is a full path below \a root, backslash-separated, not redirected.
    void setWriteDenied(RegKey root, const std::wstring &path, bool denied);
    /// Number of handles opened and not yet closed.
    std::size_t openHandles() const;

    long openKey(RegKey parent, const std::wstring &subKey, std::uint32_t access, RegKey *result);
    long createKey(RegKey parent, const std::wstring &subKey, std::uint32_t access, RegKey *result);
    long closeKey(RegKey key);
    long queryValue(RegKey key, const std::wstring &name, std::uint32_t *type, Bytes *data);
    long setValue(RegKey key, const std::wstring &name, std::uint32_t type, const Bytes &data);
    long deleteValue(RegKey key, const std::wstring &name);
    long deleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access);
    long queryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values);
    long enumKey(RegKey key, std::uint32_t index, std::wstring *name);
    long enumValue(RegKey key, std::uint32_t index, std::wstring *name);
    long flushKey(RegKey key);
    static std::wstring errorMessage(long code);

private:
    struct Node;
    struct Handle;
    long resolve(RegKey parent, const std::wstring &subKey, std::uint32_t access, bool create,
                 std::shared_ptr<Node> *node, std::vector<std::wstring> *path, RegKey *root);
    long newHandle(RegKey parent, const std::wstring &subKey, std::uint32_t access, bool create,
                   RegKey *result);
    long handleNode(RegKey key, std::uint32_t needed, std::shared_ptr<Node> *node,
                    std::wstring *path = nullptr);
    std::shared_ptr<Node> rootNode(RegKey root) const;

    mutable std::mutex m_mutex;
    bool m_redirect32;
    std::map<RegKey, std::shared_ptr<Node>> m_roots;
    std::map<RegKey, std::unique_ptr<Handle>> m_handles;
    RegKey m_nextHandle = 0x1000;
};

class RAVIXCORE_EXPORT EmulatedWindows : public OsLayer
{
public:
    // Exported by itself: a DLL does not export nested classes with the enclosing one.
    struct RAVIXCORE_EXPORT Command
    {
        std::wstring program;
        std::vector<std::wstring> args;
        bool wait = false;
        bool started = true;
        /// The command as one line, arguments separated by single blanks.
        std::wstring line() const;
    };

    EmulatedWindows();
    ~EmulatedWindows() override;

    /// Back to a fresh machine: Windows 10.0 (32-bit process on a 64-bit system), an empty
    /// registry and process table, drive C: and empty records.
    void reset();

    void setVersion(int major, int minor, int build = 0);
    EmulatedRegistry &registry();
    std::uint32_t addProcess(const std::wstring &exeName);
    std::vector<ProcessEntry> processes() const;
    /// The process that asks; 0 (none of the table) unless set.
    void setCurrentProcessId(std::uint32_t pid);
    bool hasProcess(const std::wstring &exeName) const;
    void setDrives(const std::vector<std::wstring> &drives);
    void setKnownFoldersAvailable(bool available);
    void setFolder(int csidl, const std::wstring &path);
    void setShellLink(const std::wstring &linkPath, const ShellLinkInfo &info);
    void setExitWindowsResult(bool ok);
    void setTimeZone(const TimeZoneInfo &info, std::uint32_t zoneId);
    void setMemory(const MemoryStatus &status);
    void setTickCount(std::uint64_t ms);
    void setInterfaceTable(const std::vector<InterfaceRow> &rows, long error = 0);
    void setVolumeFlags(const std::wstring &root, std::uint32_t flags);
    void setVolumeSerialNumber(const std::wstring &root, std::uint32_t serial);
    /// Starting \a program fails (it is still recorded, as not started).
    void setStartFails(const std::wstring &program, bool fails);
    /// SetTimeZoneInformation is refused (as without the privilege).
    void setTimeZoneWritable(bool writable);
    /// The WMI temperature reading; a non-empty \a failedStep makes the query fail there.
    void setCpuTemperature(std::int32_t reading, const std::string &failedStep = std::string());
    /// Commands started, in order.
    std::vector<Command> commands() const;
    /// Settings changed, in order, one line each (e.g. "SystemParametersInfoW 17 0 2").
    std::vector<std::wstring> changes() const;
    void clearRecords();

    const char *name() const override;

    long regOpenKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                    RegKey *result) override;
    long regCreateKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                      RegKey *result) override;
    long regCloseKey(RegKey key) override;
    long regQueryValue(RegKey key, const std::wstring &name, std::uint32_t *type,
                       Bytes *data) override;
    long regSetValue(RegKey key, const std::wstring &name, std::uint32_t type,
                     const Bytes &data) override;
    long regDeleteValue(RegKey key, const std::wstring &name) override;
    long regDeleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access) override;
    long regQueryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values) override;
    long regEnumKey(RegKey key, std::uint32_t index, std::wstring *name) override;
    long regEnumValue(RegKey key, std::uint32_t index, std::wstring *name) override;
    long regFlushKey(RegKey key) override;
    std::wstring errorMessage(long code) override;

    std::uint32_t getVersion() override;
    bool processSnapshot(std::vector<ProcessEntry> *processes) override;
    std::uint32_t currentProcessId() override;
    bool terminateProcess(std::uint32_t pid, std::uint32_t exitCode) override;
    CommandResult startCommand(const std::wstring &program, const std::vector<std::wstring> &args,
                               bool wait, std::uint32_t waitMs) override;
    /// Recorded with the commands.
    CommandResult startHostTool(const std::wstring &program, const std::vector<std::wstring> &args,
                                bool wait, std::uint32_t waitMs) override;

    bool systemParametersInfo(std::uint32_t action, std::uint32_t uiParam,
                              std::uint32_t flags) override;
    std::vector<std::wstring> drives() override;
    bool knownFolderPath(KnownFolder folder, std::wstring *path) override;
    bool specialFolderPath(int csidl, std::wstring *path) override;
    bool resolveShellLink(const std::wstring &linkPath, ShellLinkInfo *info,
                          std::string *failedStep, long *code) override;

    bool setFileTimes(const std::wstring &path, const std::uint64_t *creation,
                      const std::uint64_t *access, const std::uint64_t *write) override;
    bool grantEveryoneFullAccess(const std::wstring &path) override;
    bool volumeFlags(const std::wstring &root, std::uint32_t *flags) override;
    bool volumeSerialNumber(const std::wstring &root, std::uint32_t *serial) override;
    /// Unknown: the emulation has no files of its own.
    bool fileIdentity(const std::wstring &path, std::uint64_t *volume,
                      std::uint64_t *index) override;

    bool setSystemTime(const SystemTime &utc) override;
    bool enablePrivilege(const std::wstring &privilege) override;
    std::uint32_t getTimeZoneInformation(TimeZoneInfo *info) override;
    bool setTimeZoneInformation(const TimeZoneInfo &info) override;
    bool memoryStatus(MemoryStatus *status) override;
    std::uint64_t tickCount() override;
    long interfaceTable(std::vector<InterfaceRow> *rows) override;
    bool exitWindows(std::uint32_t flags, std::uint32_t reason) override;
    bool cpuTemperature(std::int32_t *reading, std::string *failedStep) override;

private:
    void record(const std::wstring &change);

    mutable std::mutex m_mutex;
    EmulatedRegistry m_registry;
    std::uint32_t m_version = 0;
    std::vector<ProcessEntry> m_processes;
    std::uint32_t m_nextPid = 1000;
    std::uint32_t m_currentPid = 0;
    std::vector<std::wstring> m_drives;
    bool m_knownFolders = true;
    std::map<int, std::wstring> m_folders;
    std::map<std::wstring, ShellLinkInfo> m_links;
    bool m_exitWindowsOk = true;
    TimeZoneInfo m_timeZone;
    std::uint32_t m_timeZoneId = 1;
    MemoryStatus m_memory;
    std::uint64_t m_tick = 0;
    std::vector<InterfaceRow> m_interfaces;
    long m_interfaceError = 0;
    std::map<std::wstring, std::uint32_t> m_volumeFlags;
    std::map<std::wstring, std::uint32_t> m_volumeSerials;
    std::vector<std::wstring> m_failingPrograms;
    bool m_timeZoneWritable = true;
    std::int32_t m_cpuTemperature = 0;
    std::string m_cpuTemperatureFailure;
    std::vector<Command> m_commands;
    std::vector<std::wstring> m_changes;
};

} // namespace oslayer
} // namespace ravix
