// SPDX-License-Identifier: MIT
// The Win32 backend: each primitive is the plain system call. No Qt here, so that it
// also builds on its own with a bare Windows toolchain.
#include "sys/oslayer_p.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <aclapi.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>
#include <wbemidl.h>

namespace ravix {
namespace oslayer {

namespace {

// COM and folder identifiers, spelt out so that no import library with GUID data is needed.
const GUID kClsidShellLink = {0x00021401, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidShellLinkW = {0x000214f9, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kIidPersistFile = {0x0000010b, 0x0000, 0x0000, {0xc0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID kClsidWbemLocator = {
    0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
const GUID kIidWbemLocator = {
    0xdc12a687, 0x737f, 0x11cf, {0x88, 0x4d, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
const GUID kFolderIdStartup = {
    0xb97d20bb, 0xf46a, 0x4c97, {0xba, 0x10, 0x5e, 0x36, 0x08, 0x43, 0x08, 0x54}};
const GUID kFolderIdCommonStartup = {
    0x82a5ea35, 0xd9cd, 0x47c5, {0x96, 0x29, 0xe1, 0x5d, 0x2f, 0x71, 0x4e, 0x6e}};

HKEY toHkey(RegKey key)
{
    switch (key) {
    case REG_ROOT_CLASSES_ROOT:
        return HKEY_CLASSES_ROOT;
    case REG_ROOT_CURRENT_USER:
        return HKEY_CURRENT_USER;
    case REG_ROOT_LOCAL_MACHINE:
        return HKEY_LOCAL_MACHINE;
    case REG_ROOT_USERS:
        return HKEY_USERS;
    default:
        return reinterpret_cast<HKEY>(key);
    }
}

bool isRoot(RegKey key)
{
    return key == REG_ROOT_CLASSES_ROOT || key == REG_ROOT_CURRENT_USER ||
           key == REG_ROOT_LOCAL_MACHINE || key == REG_ROOT_USERS;
}

template <typename F> F procAddress(const wchar_t *module, const char *name)
{
    HMODULE handle = GetModuleHandleW(module);
    if (!handle)
        handle = LoadLibraryW(module);
    return handle ? reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(handle, name)))
                  : nullptr;
}

SYSTEMTIME toSystemTime(const SystemTime &t)
{
    SYSTEMTIME s;
    s.wYear = t.year;
    s.wMonth = t.month;
    s.wDayOfWeek = t.dayOfWeek;
    s.wDay = t.day;
    s.wHour = t.hour;
    s.wMinute = t.minute;
    s.wSecond = t.second;
    s.wMilliseconds = t.milliseconds;
    return s;
}

SystemTime fromSystemTime(const SYSTEMTIME &s)
{
    SystemTime t;
    t.year = s.wYear;
    t.month = s.wMonth;
    t.dayOfWeek = s.wDayOfWeek;
    t.day = s.wDay;
    t.hour = s.wHour;
    t.minute = s.wMinute;
    t.second = s.wSecond;
    t.milliseconds = s.wMilliseconds;
    return t;
}

void copyName(const std::wstring &from, WCHAR (&to)[32])
{
    const std::size_t n = from.size() < 31 ? from.size() : 31;
    for (std::size_t i = 0; i < n; ++i)
        to[i] = from[i];
    to[n] = 0;
}

FILETIME toFileTime(std::uint64_t t)
{
    FILETIME f;
    f.dwLowDateTime = DWORD(t & 0xffffffffu);
    f.dwHighDateTime = DWORD(t >> 32);
    return f;
}

// The folder of the running program, where commands are started.
std::wstring applicationDir()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, &path[0], DWORD(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

class Win32OsLayer : public OsLayer
{
public:
    const char *name() const override { return "win32"; }

    long regOpenKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                    RegKey *result) override
    {
        HKEY key = nullptr;
        const LONG rc = RegOpenKeyExW(toHkey(parent), subKey.c_str(), 0, access, &key);
        if (rc == ERROR_SUCCESS)
            *result = reinterpret_cast<RegKey>(key);
        return rc;
    }

    long regCreateKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                      RegKey *result) override
    {
        HKEY key = nullptr;
        const LONG rc = RegCreateKeyExW(toHkey(parent), subKey.c_str(), 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
        if (rc == ERROR_SUCCESS)
            *result = reinterpret_cast<RegKey>(key);
        return rc;
    }

    long regCloseKey(RegKey key) override
    {
        return isRoot(key) ? long(ERROR_SUCCESS) : RegCloseKey(toHkey(key));
    }

    long regQueryValue(RegKey key, const std::wstring &name, std::uint32_t *type,
                       Bytes *data) override
    {
        DWORD t = 0;
        DWORD size = 0;
        LONG rc = RegQueryValueExW(toHkey(key), name.c_str(), nullptr, &t, nullptr, &size);
        // The value may grow between the two calls; ask again until it fits.
        Bytes buffer;
        while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
            buffer.resize(size);
            DWORD got = size;
            rc = RegQueryValueExW(toHkey(key), name.c_str(), nullptr, &t,
                                  buffer.empty() ? nullptr : buffer.data(), &got);
            if (rc == ERROR_SUCCESS) {
                buffer.resize(got);
                break;
            }
            size = got > size ? got : size + 256;
        }
        if (rc != ERROR_SUCCESS)
            return rc;
        if (type)
            *type = t;
        if (data)
            data->swap(buffer);
        return ERROR_SUCCESS;
    }

    long regSetValue(RegKey key, const std::wstring &name, std::uint32_t type,
                     const Bytes &data) override
    {
        return RegSetValueExW(toHkey(key), name.c_str(), 0, type,
                              data.empty() ? nullptr : data.data(), DWORD(data.size()));
    }

    long regDeleteValue(RegKey key, const std::wstring &name) override
    {
        return RegDeleteValueW(toHkey(key), name.c_str());
    }

    long regDeleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access) override
    {
        // RegDeleteKeyExW, which honours the view, is missing on 32-bit XP.
        using DeleteKeyEx = LONG(WINAPI *)(HKEY, LPCWSTR, REGSAM, DWORD);
        static const DeleteKeyEx deleteKeyEx =
            procAddress<DeleteKeyEx>(L"advapi32.dll", "RegDeleteKeyExW");
        const REGSAM view = access & (REG_KEY_WOW64_64KEY | REG_KEY_WOW64_32KEY);
        if (deleteKeyEx)
            return deleteKeyEx(toHkey(parent), subKey.c_str(), view, 0);
        return RegDeleteKeyW(toHkey(parent), subKey.c_str());
    }

    long regQueryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values) override
    {
        DWORD keys = 0;
        DWORD vals = 0;
        const LONG rc = RegQueryInfoKeyW(toHkey(key), nullptr, nullptr, nullptr, &keys, nullptr,
                                         nullptr, &vals, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            if (subKeys)
                *subKeys = keys;
            if (values)
                *values = vals;
        }
        return rc;
    }

    long regEnumKey(RegKey key, std::uint32_t index, std::wstring *name) override
    {
        WCHAR buffer[256]; // key names are at most 255 characters
        DWORD len = 256;
        const LONG rc =
            RegEnumKeyExW(toHkey(key), index, buffer, &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS)
            name->assign(buffer, len);
        return rc;
    }

    long regEnumValue(RegKey key, std::uint32_t index, std::wstring *name) override
    {
        std::wstring buffer(16384, L'\0'); // value names are at most 16383 characters
        DWORD len = DWORD(buffer.size());
        const LONG rc =
            RegEnumValueW(toHkey(key), index, &buffer[0], &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS)
            name->assign(buffer.data(), len);
        return rc;
    }

    long regFlushKey(RegKey key) override { return RegFlushKey(toHkey(key)); }

    std::wstring errorMessage(long code) override
    {
        LPWSTR text = nullptr;
        const DWORD len =
            FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, DWORD(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                           reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        std::wstring message = len && text ? std::wstring(text, len) : L"Unknown error";
        if (text)
            LocalFree(text);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
            message.pop_back();
        return message;
    }

    std::uint32_t getVersion() override { return GetVersion(); }

    bool processSnapshot(std::vector<ProcessEntry> *processes) override
    {
        processes->clear();
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE)
            return false;
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof(entry);
        for (BOOL ok = Process32FirstW(snapshot, &entry); ok;
             ok = Process32NextW(snapshot, &entry)) {
            ProcessEntry e;
            e.pid = entry.th32ProcessID;
            e.parentPid = entry.th32ParentProcessID;
            e.exeName = entry.szExeFile;
            processes->push_back(e);
        }
        CloseHandle(snapshot);
        return true;
    }

    std::uint32_t currentProcessId() override { return GetCurrentProcessId(); }

    bool terminateProcess(std::uint32_t pid, std::uint32_t exitCode) override
    {
        HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
        if (!process)
            return false;
        const bool ok = TerminateProcess(process, exitCode) != 0;
        CloseHandle(process);
        return ok;
    }

    CommandResult startCommand(const std::wstring &program, const std::vector<std::wstring> &args,
                               bool wait, std::uint32_t waitMs) override
    {
        CommandResult result;
        std::wstring line = quoteWindowsArgument(program);
        for (const std::wstring &arg : args)
            line += L" " + quoteWindowsArgument(arg);
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi;
        ZeroMemory(&pi, sizeof(pi));
        const std::wstring dir = applicationDir();
        if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE,
                            CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &si, &pi))
            return result;
        result.started = true;
        result.pid = pi.dwProcessId;
        if (wait && WaitForSingleObject(pi.hProcess, waitMs) == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (GetExitCodeProcess(pi.hProcess, &code)) {
                result.finished = true;
                result.exitCode = code;
            }
        }
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return result;
    }

    CommandResult startHostTool(const std::wstring &program, const std::vector<std::wstring> &args,
                                bool wait, std::uint32_t waitMs) override
    {
        return startCommand(program, args, wait, waitMs);
    }

    bool systemParametersInfo(std::uint32_t action, std::uint32_t uiParam,
                              std::uint32_t flags) override
    {
        return SystemParametersInfoW(action, uiParam, nullptr, flags) != 0;
    }

    std::vector<std::wstring> drives() override
    {
        std::vector<std::wstring> result;
        WCHAR buffer[512];
        const DWORD len = GetLogicalDriveStringsW(512, buffer);
        if (len == 0 || len > 512)
            return result;
        for (const WCHAR *p = buffer; *p; p += wcslen(p) + 1)
            result.emplace_back(p);
        return result;
    }

    bool knownFolderPath(KnownFolder folder, std::wstring *path) override
    {
        using GetKnownFolderPath = HRESULT(WINAPI *)(const GUID &, DWORD, HANDLE, PWSTR *);
        static const GetKnownFolderPath getPath =
            procAddress<GetKnownFolderPath>(L"shell32.dll", "SHGetKnownFolderPath");
        if (!getPath)
            return false;
        PWSTR text = nullptr;
        const HRESULT hr =
            getPath(folder == KnownFolder::Startup ? kFolderIdStartup : kFolderIdCommonStartup, 0,
                    nullptr, &text);
        *path = SUCCEEDED(hr) && text ? std::wstring(text) : std::wstring();
        CoTaskMemFree(text);
        return true;
    }

    bool specialFolderPath(int csidl, std::wstring *path) override
    {
        WCHAR buffer[MAX_PATH];
        if (!SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE))
            return false;
        *path = buffer;
        return true;
    }

    bool resolveShellLink(const std::wstring &linkPath, ShellLinkInfo *info,
                          std::string *failedStep, long *code) override
    {
        const HRESULT init = CoInitialize(nullptr);
        IShellLinkW *link = nullptr;
        IPersistFile *file = nullptr;
        HRESULT hr = CoCreateInstance(kClsidShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                      kIidShellLinkW, reinterpret_cast<void **>(&link));
        const char *step = "CoCreateInstance";
        WCHAR buffer[MAX_PATH];
        if (SUCCEEDED(hr)) {
            step = "QueryInterface";
            hr = link->QueryInterface(kIidPersistFile, reinterpret_cast<void **>(&file));
        }
        if (SUCCEEDED(hr)) {
            step = "IPersistFile::Load";
            hr = file->Load(linkPath.c_str(), STGM_READ);
        }
        if (SUCCEEDED(hr)) {
            // No window may appear on an unattended machine.
            step = "IShellLink::Resolve";
            hr = link->Resolve(nullptr, SLR_NO_UI);
        }
        if (SUCCEEDED(hr)) {
            step = "IShellLink::GetPath";
            hr = link->GetPath(buffer, MAX_PATH, nullptr, SLGP_SHORTPATH);
            if (SUCCEEDED(hr))
                info->path = buffer;
        }
        if (SUCCEEDED(hr)) {
            step = "IShellLink::GetDescription";
            hr = link->GetDescription(buffer, MAX_PATH);
            if (SUCCEEDED(hr))
                info->description = buffer;
        }
        if (SUCCEEDED(hr)) {
            step = "IShellLink::GetArguments";
            hr = link->GetArguments(buffer, MAX_PATH);
            if (SUCCEEDED(hr))
                info->arguments = buffer;
        }
        if (SUCCEEDED(hr)) {
            step = "IShellLink::GetWorkingDirectory";
            hr = link->GetWorkingDirectory(buffer, MAX_PATH);
            if (SUCCEEDED(hr))
                info->workDir = buffer;
        }
        if (file)
            file->Release();
        if (link)
            link->Release();
        if (SUCCEEDED(init))
            CoUninitialize();
        if (FAILED(hr)) {
            *failedStep = step;
            *code = long(hr);
            return false;
        }
        return true;
    }

    bool setFileTimes(const std::wstring &path, const std::uint64_t *creation,
                      const std::uint64_t *access, const std::uint64_t *write) override
    {
        HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        FILETIME times[3];
        const std::uint64_t *given[3] = {creation, access, write};
        for (int i = 0; i < 3; ++i)
            if (given[i])
                times[i] = toFileTime(*given[i]);
        const bool ok = SetFileTime(file, creation ? &times[0] : nullptr,
                                    access ? &times[1] : nullptr, write ? &times[2] : nullptr) != 0;
        CloseHandle(file);
        return ok;
    }

    bool grantEveryoneFullAccess(const std::wstring &path) override
    {
        PACL oldDacl = nullptr;
        PSECURITY_DESCRIPTOR sd = nullptr;
        if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &oldDacl, nullptr, &sd) != ERROR_SUCCESS)
            return false;
        PSID everyone = nullptr;
        bool ok = ConvertStringSidToSidW(L"S-1-1-0", &everyone) != 0;
        PACL newDacl = nullptr;
        if (ok) {
            EXPLICIT_ACCESSW ea;
            ZeroMemory(&ea, sizeof(ea));
            ea.grfAccessPermissions = GENERIC_ALL;
            ea.grfAccessMode = SET_ACCESS;
            ea.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
            ea.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
            ea.Trustee.TrusteeForm = TRUSTEE_IS_SID;
            ea.Trustee.TrusteeType = TRUSTEE_IS_UNKNOWN;
            ea.Trustee.ptstrName = static_cast<LPWSTR>(everyone);
            ok = SetEntriesInAclW(1, &ea, oldDacl, &newDacl) == ERROR_SUCCESS;
        }
        if (ok) {
            std::wstring target = path;
            ok = SetNamedSecurityInfoW(&target[0], SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                       nullptr, nullptr, newDacl, nullptr) == ERROR_SUCCESS;
        }
        if (newDacl)
            LocalFree(newDacl);
        if (everyone)
            LocalFree(everyone);
        if (sd)
            LocalFree(sd);
        return ok;
    }

    bool volumeFlags(const std::wstring &root, std::uint32_t *flags) override
    {
        DWORD f = 0;
        if (!GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, &f, nullptr, 0))
            return false;
        *flags = f;
        return true;
    }

    bool volumeSerialNumber(const std::wstring &root, std::uint32_t *serial) override
    {
        DWORD number = 0;
        if (!GetVolumeInformationW(root.c_str(), nullptr, 0, &number, nullptr, nullptr, nullptr, 0))
            return false;
        *serial = number;
        return true;
    }

    bool fileIdentity(const std::wstring &path, std::uint64_t *volume,
                      std::uint64_t *index) override
    {
        // No access asked and every kind of sharing allowed: nobody else is hindered.
        const HANDLE h =
            CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        BY_HANDLE_FILE_INFORMATION info;
        const bool ok = GetFileInformationByHandle(h, &info) != 0;
        CloseHandle(h);
        if (!ok)
            return false;
        *volume = info.dwVolumeSerialNumber;
        *index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        return true;
    }

    bool setSystemTime(const SystemTime &utc) override
    {
        const SYSTEMTIME s = toSystemTime(utc);
        return SetSystemTime(&s) != 0;
    }

    bool enablePrivilege(const std::wstring &privilege) override
    {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
            return false;
        TOKEN_PRIVILEGES tp;
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        bool ok = LookupPrivilegeValueW(nullptr, privilege.c_str(), &tp.Privileges[0].Luid) != 0;
        // Success of the call alone does not mean the privilege was there to enable.
        ok = ok && AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr) &&
             GetLastError() == ERROR_SUCCESS;
        CloseHandle(token);
        return ok;
    }

    std::uint32_t getTimeZoneInformation(TimeZoneInfo *info) override
    {
        TIME_ZONE_INFORMATION tz;
        const DWORD id = GetTimeZoneInformation(&tz);
        if (id == TIME_ZONE_ID_INVALID)
            return TIME_ZONE_ID_FAILED;
        info->bias = tz.Bias;
        info->standardName = tz.StandardName;
        info->standardDate = fromSystemTime(tz.StandardDate);
        info->standardBias = tz.StandardBias;
        info->daylightName = tz.DaylightName;
        info->daylightDate = fromSystemTime(tz.DaylightDate);
        info->daylightBias = tz.DaylightBias;
        return id;
    }

    bool setTimeZoneInformation(const TimeZoneInfo &info) override
    {
        TIME_ZONE_INFORMATION tz;
        ZeroMemory(&tz, sizeof(tz));
        tz.Bias = info.bias;
        copyName(info.standardName, tz.StandardName);
        tz.StandardDate = toSystemTime(info.standardDate);
        tz.StandardBias = info.standardBias;
        copyName(info.daylightName, tz.DaylightName);
        tz.DaylightDate = toSystemTime(info.daylightDate);
        tz.DaylightBias = info.daylightBias;
        return SetTimeZoneInformation(&tz) != 0;
    }

    bool memoryStatus(MemoryStatus *status) override
    {
        MEMORYSTATUSEX m;
        m.dwLength = sizeof(m);
        if (!GlobalMemoryStatusEx(&m))
            return false;
        status->totalPhys = m.ullTotalPhys;
        status->availPhys = m.ullAvailPhys;
        return true;
    }

    std::uint64_t tickCount() override
    {
        // The 64-bit counter is missing on XP; the 32-bit one wraps after 49.7 days.
        using TickCount64 = ULONGLONG(WINAPI *)();
        static const TickCount64 tick64 =
            procAddress<TickCount64>(L"kernel32.dll", "GetTickCount64");
        return tick64 ? tick64() : GetTickCount();
    }

    long interfaceTable(std::vector<InterfaceRow> *rows) override
    {
        ULONG size = 0x360;
        std::vector<unsigned char> buffer(size);
        DWORD rc = GetIfTable(reinterpret_cast<PMIB_IFTABLE>(buffer.data()), &size, FALSE);
        if (rc == ERROR_INSUFFICIENT_BUFFER) {
            buffer.resize(size);
            rc = GetIfTable(reinterpret_cast<PMIB_IFTABLE>(buffer.data()), &size, FALSE);
        }
        if (rc != NO_ERROR)
            return long(rc);
        const MIB_IFTABLE *table = reinterpret_cast<const MIB_IFTABLE *>(buffer.data());
        rows->clear();
        for (DWORD i = 0; i < table->dwNumEntries; ++i) {
            InterfaceRow row;
            row.type = table->table[i].dwType;
            row.inOctets = table->table[i].dwInOctets;
            row.outOctets = table->table[i].dwOutOctets;
            rows->push_back(row);
        }
        return ERROR_SUCCESS;
    }

    bool exitWindows(std::uint32_t flags, std::uint32_t reason) override
    {
        return ExitWindowsEx(flags, reason) != 0;
    }

    bool cpuTemperature(std::int32_t *reading, std::string *failedStep) override
    {
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // Security can be set once per process; a second attempt says so and is harmless.
        HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                          RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        if (hr == RPC_E_TOO_LATE)
            hr = S_OK;
        const char *step = "CoInitializeSecurity";
        IWbemLocator *locator = nullptr;
        IWbemServices *services = nullptr;
        IEnumWbemClassObject *results = nullptr;
        IWbemClassObject *object = nullptr;
        BSTR ns = SysAllocString(L"Root\\CIMV2");
        BSTR language = SysAllocString(L"WQL");
        BSTR query = SysAllocString(L"SELECT CurrentReading FROM CIM_TemperatureSensor");
        if (SUCCEEDED(hr)) {
            step = "CoCreateInstance";
            hr = CoCreateInstance(kClsidWbemLocator, nullptr, CLSCTX_INPROC_SERVER, kIidWbemLocator,
                                  reinterpret_cast<void **>(&locator));
        }
        if (SUCCEEDED(hr)) {
            step = "pLocator->ConnectServer";
            hr = locator->ConnectServer(ns, nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                        &services);
        }
        if (SUCCEEDED(hr)) {
            step = "pServices->ExecQuery";
            hr = services->ExecQuery(language, query,
                                     WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                     &results);
        }
        if (SUCCEEDED(hr)) {
            step = "pEnumerator->Next";
            ULONG returned = 0;
            hr = results->Next(WBEM_INFINITE, 1, &object, &returned);
            if (SUCCEEDED(hr) && returned == 0)
                hr = E_FAIL;
        }
        if (SUCCEEDED(hr)) {
            step = "pObject->Get";
            VARIANT value;
            VariantInit(&value);
            hr = object->Get(L"CurrentReading", 0, &value, nullptr, nullptr);
            if (SUCCEEDED(hr)) {
                VARIANT asInt;
                VariantInit(&asInt);
                hr = VariantChangeType(&asInt, &value, 0, VT_I4);
                if (SUCCEEDED(hr))
                    *reading = asInt.lVal;
                VariantClear(&asInt);
            }
            VariantClear(&value);
        }
        if (object)
            object->Release();
        if (results)
            results->Release();
        if (services)
            services->Release();
        if (locator)
            locator->Release();
        SysFreeString(query);
        SysFreeString(language);
        SysFreeString(ns);
        if (SUCCEEDED(init))
            CoUninitialize();
        if (FAILED(hr)) {
            *failedStep = step;
            return false;
        }
        return true;
    }
};

} // namespace

std::wstring moduleFilePath(const void *address)
{
    // A null name would give the program's own module.
    if (!address)
        return std::wstring();
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return std::wstring();
    // The name is cut to the buffer without an error: grow until it fits (32767 at most).
    std::wstring path(MAX_PATH, L'\0');
    while (path.size() <= 32768) {
        const DWORD n = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return std::wstring();
}

std::unique_ptr<OsLayer> createDefaultOsLayer()
{
    return std::make_unique<Win32OsLayer>();
}

} // namespace oslayer
} // namespace ravix
