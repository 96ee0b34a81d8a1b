// SPDX-License-Identifier: MIT
// Checks the Win32 backend of the OS layer against the real Windows API (run under Wine in
// CI). No Qt: built with a bare MinGW-w64 toolchain. Prints one line per check and closes
// with "N passed, M failed".
#include "sys/oslayer_p.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <aclapi.h>
#include <objbase.h>
#include <sddl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

using namespace ravix::oslayer;

namespace {

int g_passed = 0;
int g_failed = 0;

void check(bool ok, const char *what, const std::string &detail = std::string())
{
    if (ok) {
        ++g_passed;
        std::printf("PASS   %s\n", what);
    } else {
        ++g_failed;
        std::printf("FAIL   %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
}

std::string narrow(const std::wstring &w)
{
    std::string s;
    for (wchar_t c : w)
        s += c < 128 ? char(c) : '?';
    return s;
}

Bytes utf16z(const std::wstring &s)
{
    Bytes b;
    for (wchar_t c : s) {
        b.push_back(static_cast<unsigned char>(c & 0xff));
        b.push_back(static_cast<unsigned char>((c >> 8) & 0xff));
    }
    b.push_back(0);
    b.push_back(0);
    return b;
}

std::wstring selfPath()
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return std::wstring(buffer, n);
}

std::wstring fileName(const std::wstring &path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring tempDir()
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetTempPathW(MAX_PATH, buffer);
    return std::wstring(buffer, n);
}

// The arguments a child must see one by one, as the C runtime splits its command line.
const std::vector<std::wstring> kTrickyArgs = {
    L"plain", L"with blank", L"", L"quote\"inside", L"C:\\dir name\\", L"a\\\\\"b", L"x & y | z"};

int childMain(int argc, wchar_t **argv)
{
    const std::wstring mode = argv[1];
    if (mode == L"--sleep") {
        Sleep(120000);
        return 0;
    }
    if (mode == L"--exit")
        return int(std::wcstol(argv[2], nullptr, 10));
    if (mode == L"--cwd") {
        wchar_t buffer[MAX_PATH];
        const DWORD n = GetCurrentDirectoryW(MAX_PATH, buffer);
        return n > 0 && n < MAX_PATH && _wcsicmp(buffer, argv[2]) == 0 ? 0 : 1;
    }
    if (mode == L"--args") {
        if (std::size_t(argc - 2) != kTrickyArgs.size())
            return 3;
        for (std::size_t i = 0; i < kTrickyArgs.size(); ++i)
            if (kTrickyArgs[i] != argv[i + 2])
                return 4 + int(i);
        return 0;
    }
    return 99;
}

void registryChecks(OsLayer &os)
{
    const std::uint32_t rw64 = REG_KEY_ALL_ACCESS | REG_KEY_WOW64_64KEY;
    const std::uint32_t ro64 = REG_KEY_READ | REG_KEY_WOW64_64KEY;
    const std::wstring base = L"Software\\RavixOsLayerCheck";
    RegKey key = 0;
    long rc = os.regCreateKey(REG_ROOT_CURRENT_USER, base, rw64, &key);
    check(rc == 0, "registry: create key in the 64-bit view", std::to_string(rc));
    if (rc != 0)
        return;

    struct Typed
    {
        const wchar_t *name;
        std::uint32_t type;
        Bytes data;
    };
    const std::vector<Typed> values = {
        {L"sz", REG_TYPE_SZ, utf16z(L"Explorer.exe")},
        {L"expand", REG_TYPE_EXPAND_SZ, utf16z(L"%SystemRoot%\\x")},
        {L"binary", REG_TYPE_BINARY, {0, 1, 2, 0xff}},
        {L"dword", REG_TYPE_DWORD, dwordBytes(0x80000001u)},
        {L"bigendian", REG_TYPE_DWORD_BIG_ENDIAN, {0, 0, 1, 2}},
        {L"multi", REG_TYPE_MULTI_SZ, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
        {L"qword", REG_TYPE_QWORD, qwordBytes(0x0102030405060708ULL)},
        {L"none", REG_TYPE_NONE, {}},
        {L"", REG_TYPE_SZ, utf16z(L"default value")},
    };
    for (const Typed &v : values) {
        const std::string what =
            "registry: set and query " + narrow(v.name[0] ? v.name : L"(default)");
        rc = os.regSetValue(key, v.name, v.type, v.data);
        std::uint32_t type = 0;
        Bytes data;
        const long qrc = rc == 0 ? os.regQueryValue(key, v.name, &type, &data) : rc;
        check(qrc == 0 && type == v.type && data == v.data, what.c_str(),
              "rc " + std::to_string(qrc) + " type " + std::to_string(type) + " size " +
                  std::to_string(data.size()));
    }
    // A long value makes the first query too small.
    const Bytes big = utf16z(std::wstring(5000, L'x'));
    os.regSetValue(key, L"big", REG_TYPE_SZ, big);
    Bytes data;
    check(os.regQueryValue(key, L"big", nullptr, &data) == 0 && data == big,
          "registry: query of a long value");

    RegKey sub = 0;
    check(os.regCreateKey(key, L"Child1\\Grand", rw64, &sub) == 0,
          "registry: create nested subkeys");
    os.regCloseKey(sub);
    check(os.regCreateKey(key, L"Child2", rw64, &sub) == 0, "registry: create second subkey");
    os.regCloseKey(sub);

    std::uint32_t subKeys = 0, valueCount = 0;
    rc = os.regQueryInfoKey(key, &subKeys, &valueCount);
    check(rc == 0 && subKeys == 2 && valueCount == values.size() + 1, "registry: query info counts",
          std::to_string(subKeys) + " keys, " + std::to_string(valueCount) + " values");
    std::vector<std::wstring> names;
    std::wstring name;
    for (std::uint32_t i = 0; os.regEnumValue(key, i, &name) == 0; ++i)
        names.push_back(name);
    // The order is the system's own; every name must be there once.
    bool allNamed = names.size() == values.size() + 1;
    for (const Typed &v : values) {
        int seen = 0;
        for (const std::wstring &n : names)
            seen += n == v.name;
        allNamed = allNamed && seen == 1;
    }
    check(allNamed, "registry: enumerate values", std::to_string(names.size()));
    check(os.regEnumValue(key, std::uint32_t(names.size()), &name) == OS_ERROR_NO_MORE_ITEMS,
          "registry: value enumeration ends with ERROR_NO_MORE_ITEMS");
    names.clear();
    for (std::uint32_t i = 0; os.regEnumKey(key, i, &name) == 0; ++i)
        names.push_back(name);
    check(names == std::vector<std::wstring>{L"Child1", L"Child2"}, "registry: enumerate subkeys");

    check(os.regDeleteValue(key, L"binary") == 0, "registry: delete value");
    check(os.regQueryValue(key, L"binary", nullptr, nullptr) == OS_ERROR_FILE_NOT_FOUND,
          "registry: deleted value is gone");
    check(os.regDeleteValue(key, L"binary") == OS_ERROR_FILE_NOT_FOUND,
          "registry: deleting a missing value gives ERROR_FILE_NOT_FOUND");
    rc = os.regDeleteKey(key, L"Child1", REG_KEY_WOW64_64KEY);
    check(rc != 0, "registry: a key with subkeys is not deleted", std::to_string(rc));
    check(os.regDeleteKey(key, L"Child1\\Grand", REG_KEY_WOW64_64KEY) == 0 &&
              os.regDeleteKey(key, L"Child1", REG_KEY_WOW64_64KEY) == 0,
          "registry: delete a subtree from the leaves up");
    check(os.regOpenKey(key, L"Child1", ro64, &sub) == OS_ERROR_FILE_NOT_FOUND,
          "registry: deleted subtree is gone");
    check(os.regFlushKey(key) == 0, "registry: flush");

    RegKey readOnly = 0;
    check(os.regOpenKey(REG_ROOT_CURRENT_USER, base, ro64, &readOnly) == 0,
          "registry: open read-only in the 64-bit view");
    rc = os.regSetValue(readOnly, L"x", REG_TYPE_DWORD, dwordBytes(1));
    check(rc == OS_ERROR_ACCESS_DENIED, "registry: write through a read-only handle is denied",
          std::to_string(rc));
    os.regCloseKey(readOnly);
    check(os.regOpenKey(REG_ROOT_CURRENT_USER, base, REG_KEY_READ | REG_KEY_WOW64_32KEY,
                        &readOnly) == 0,
          "registry: open in the 32-bit view");
    os.regCloseKey(readOnly);

    check(os.regOpenKey(REG_ROOT_CURRENT_USER, L"Software\\NoSuchKeyAnywhere", ro64, &sub) ==
              OS_ERROR_FILE_NOT_FOUND,
          "registry: missing key gives ERROR_FILE_NOT_FOUND");
    for (long code : {OS_ERROR_FILE_NOT_FOUND, OS_ERROR_ACCESS_DENIED, OS_ERROR_NO_MORE_ITEMS}) {
        const std::wstring text = os.errorMessage(code);
        const std::string what = "registry: message text for error " + std::to_string(code);
        check(!text.empty() && text.back() != L'\n' && text.back() != L'\r' &&
                  text != L"Unknown error",
              what.c_str(), narrow(text));
        std::printf("       \"%s\"\n", narrow(text).c_str());
    }
    os.regCloseKey(key);
    check(os.regDeleteKey(REG_ROOT_CURRENT_USER, base + L"\\Child2", REG_KEY_WOW64_64KEY) == 0 &&
              os.regDeleteKey(REG_ROOT_CURRENT_USER, base, REG_KEY_WOW64_64KEY) == 0,
          "registry: clean up");

    // HKLM\SOFTWARE: the 32-bit view is redirected to Wow6432Node, the 64-bit view is not.
    const std::wstring viewKey = L"SOFTWARE\\RavixViewCheck";
    RegKey k32 = 0;
    rc = os.regCreateKey(REG_ROOT_LOCAL_MACHINE, viewKey, REG_KEY_ALL_ACCESS | REG_KEY_WOW64_32KEY,
                         &k32);
    check(rc == 0, "registry: create under HKLM\\SOFTWARE in the 32-bit view", std::to_string(rc));
    if (rc == 0) {
        os.regSetValue(k32, L"v", REG_TYPE_DWORD, dwordBytes(32));
        os.regCloseKey(k32);
        RegKey probe = 0;
        rc = os.regOpenKey(REG_ROOT_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\RavixViewCheck", ro64,
                           &probe);
        check(rc == 0, "registry: the 32-bit view wrote the Wow6432Node copy", std::to_string(rc));
        if (rc == 0)
            os.regCloseKey(probe);
        rc = os.regOpenKey(REG_ROOT_LOCAL_MACHINE, viewKey, ro64, &probe);
        check(rc == OS_ERROR_FILE_NOT_FOUND, "registry: the 64-bit view does not see the copy",
              std::to_string(rc));
        if (rc == 0)
            os.regCloseKey(probe);
        os.regDeleteKey(REG_ROOT_LOCAL_MACHINE, viewKey, REG_KEY_WOW64_32KEY);
    }
}

void processChecks(OsLayer &os)
{
    const std::wstring self = selfPath();
    CommandResult r = os.startCommand(self, {L"--exit", L"7"}, true, 60000);
    check(r.started && r.finished && r.exitCode == 7, "process: command waited for, exit code",
          std::to_string(r.exitCode));
    r = os.startCommand(self, std::vector<std::wstring>{L"--args"}, true, 60000);
    std::vector<std::wstring> args{L"--args"};
    args.insert(args.end(), kTrickyArgs.begin(), kTrickyArgs.end());
    r = os.startCommand(self, args, true, 60000);
    check(r.started && r.finished && r.exitCode == 0,
          "process: every argument arrives unchanged, none through a shell",
          "exit code " + std::to_string(r.exitCode));
    {
        // Commands start in the program's folder, wherever the caller happens to be.
        const std::wstring selfDir = self.substr(0, self.find_last_of(L"\\/"));
        wchar_t previous[MAX_PATH];
        const DWORD n = GetCurrentDirectoryW(MAX_PATH, previous);
        SetCurrentDirectoryW(tempDir().c_str());
        r = os.startCommand(self, {L"--cwd", selfDir}, true, 60000);
        if (n > 0 && n < MAX_PATH)
            SetCurrentDirectoryW(previous);
        check(r.started && r.finished && r.exitCode == 0,
              "process: a command starts in the program's folder",
              "exit code " + std::to_string(r.exitCode));
    }
    check(!os.startCommand(L"no-such-program-here", {}, true, 1000).started,
          "process: a missing program does not start");
    r = os.startHostTool(self, {L"--exit", L"3"}, true, 60000);
    check(r.started && r.finished && r.exitCode == 3, "process: host tools start as commands do",
          std::to_string(r.exitCode));
    check(os.currentProcessId() == GetCurrentProcessId(), "process: own process id");

    r = os.startCommand(self, {L"--sleep"}, false, 0);
    check(r.started && r.pid != 0, "process: detached start");
    if (!r.started)
        return;
    // Our own handle keeps the exit code readable after the termination.
    HANDLE child = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, r.pid);
    std::vector<ProcessEntry> all;
    bool found = false;
    if (os.processSnapshot(&all))
        for (const ProcessEntry &p : all)
            found = found || (p.pid == r.pid && p.exeName == fileName(self) &&
                              p.parentPid == GetCurrentProcessId());
    check(found, "process: snapshot finds the child by pid, name and parent");
    check(os.terminateProcess(r.pid, 9), "process: terminate");
    DWORD code = 0;
    const bool ended = child && WaitForSingleObject(child, 60000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(child, &code);
    check(ended && code == 9, "process: child ended with exit code 9", std::to_string(code));
    if (child)
        CloseHandle(child);
}

std::uint64_t fileTime(const FILETIME &f)
{
    return (std::uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

// The rights an inherited allow entry for everyone grants on \a path, limited to read,
// write and execute; \a aces receives the list for the log.
DWORD everyoneMask(const std::wstring &path, std::string *aces)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    PSID everyone = nullptr;
    ConvertStringSidToSidW(L"S-1-1-0", &everyone);
    DWORD mask = 0;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &sd) == ERROR_SUCCESS &&
        dacl) {
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            ACCESS_ALLOWED_ACE *ace = nullptr;
            if (!GetAce(dacl, i, reinterpret_cast<void **>(&ace)) ||
                ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE)
                continue;
            LPWSTR sid = nullptr;
            if (ConvertSidToStringSidW(reinterpret_cast<PSID>(&ace->SidStart), &sid)) {
                char line[160];
                std::snprintf(line, sizeof(line), " [%s mask 0x%lx flags 0x%x]",
                              narrow(sid).c_str(), static_cast<unsigned long>(ace->Mask),
                              unsigned(ace->Header.AceFlags));
                *aces += line;
                LocalFree(sid);
            }
            const DWORD inherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
            if (EqualSid(reinterpret_cast<PSID>(&ace->SidStart), everyone) &&
                (ace->Header.AceFlags & inherit) == inherit) {
                DWORD m = ace->Mask;
                if (m & GENERIC_ALL)
                    m |= FILE_ALL_ACCESS;
                mask |= m & (FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE);
            }
        }
    }
    if (sd)
        LocalFree(sd);
    if (everyone)
        LocalFree(everyone);
    return mask;
}

void fileChecks(OsLayer &os)
{
    const std::wstring dir = tempDir() + L"ravix-oslayer-check";
    CreateDirectoryW(dir.c_str(), nullptr);
    const std::wstring file = dir + L"\\stamped.txt";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    check(h != INVALID_HANDLE_VALUE, "files: create a file");
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    // A second name of the file leads to the same file; another file is another.
    const std::wstring second = dir + L"\\second-name.txt";
    DeleteFileW(second.c_str());
    std::uint64_t volume = 0, index = 0, otherVolume = 0, otherIndex = 0;
    check(CreateHardLinkW(second.c_str(), file.c_str(), nullptr) &&
              os.fileIdentity(file, &volume, &index) &&
              os.fileIdentity(second, &otherVolume, &otherIndex) && volume == otherVolume &&
              index == otherIndex,
          "files: a hard link has the file's identity", std::to_string(index));
    check(os.fileIdentity(dir, &otherVolume, &otherIndex) && otherIndex != index,
          "files: another file has another identity");
    check(!os.fileIdentity(dir + L"\\absent", &otherVolume, &otherIndex),
          "files: a missing file has no identity");
    DeleteFileW(second.c_str());
    // 2001-02-03 04:05:06 UTC and one day later, in 100-ns units since 1601.
    const std::uint64_t created = 126256635060000000ULL;
    const std::uint64_t written = created + 864000000000ULL;
    check(os.setFileTimes(file, &created, nullptr, &written), "files: set creation and write time");
    h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                    nullptr);
    FILETIME c, a, w;
    const bool read = h != INVALID_HANDLE_VALUE && GetFileTime(h, &c, &a, &w);
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    check(read && fileTime(w) == written, "files: write time read back",
          std::to_string(fileTime(w)));
    // Wine keeps no creation time of its own on a Linux file system (it reports another of
    // the file's times), so the creation time is shown, not checked.
    std::printf("       creation time %s (set %s)\n", std::to_string(fileTime(c)).c_str(),
                std::to_string(created).c_str());
    check(!os.setFileTimes(dir + L"\\absent.txt", nullptr, nullptr, &written),
          "files: a missing file is refused");

    // Wine keeps access lists as the file's permission bits (no extended attributes for
    // them here), so of "everything" only read, write and execute can come back; DELETE,
    // WRITE_DAC and WRITE_OWNER cannot. A directory without the grant shows the difference.
    const std::wstring open = dir + L"\\open";
    const std::wstring closed = dir + L"\\closed";
    CreateDirectoryW(open.c_str(), nullptr);
    CreateDirectoryW(closed.c_str(), nullptr);
    check(os.grantEveryoneFullAccess(open), "access: grant everyone on a directory");
    std::string aces;
    const DWORD readWriteExecute = FILE_GENERIC_READ | FILE_GENERIC_WRITE | FILE_GENERIC_EXECUTE;
    check(everyoneMask(open, &aces) == readWriteExecute,
          "access: the directory's list allows everyone everything, inherited", aces);
    aces.clear();
    check(everyoneMask(closed, &aces) != readWriteExecute,
          "access: a directory without the grant does not", aces);
    check(!os.grantEveryoneFullAccess(dir + L"\\absent"), "access: a missing path is refused");

    std::uint32_t flags = 0;
    check(os.volumeFlags(L"C:\\", &flags), "files: volume information of C:");
    DWORD serial = 0;
    std::uint32_t ours = 0;
    check(GetVolumeInformationW(L"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) &&
              os.volumeSerialNumber(L"C:\\", &ours) && ours == serial,
          "files: volume serial number of C:", std::to_string(ours));
    check(!os.volumeSerialNumber(L"Q:\\no-such-volume\\", &ours),
          "files: no serial number of a missing volume");
}

void shellChecks(OsLayer &os)
{
    const std::uint32_t version = os.getVersion();
    std::printf("       version %u.%u\n", version & 0xff, (version >> 8) & 0xff);
    check((version & 0xff) >= 5, "shell: version");
    bool hasC = false;
    for (const std::wstring &d : os.drives())
        hasC = hasC || d == L"C:\\";
    check(hasC, "shell: drives include C:\\");
    std::wstring known, special;
    const bool knownOk = os.knownFolderPath(KnownFolder::Startup, &known);
    check(knownOk && !known.empty(), "shell: known start-up folder", narrow(known));
    check(os.specialFolderPath(CSIDL_ID_STARTUP, &special) && special == known,
          "shell: special start-up folder matches", narrow(special));
    std::wstring common;
    check(os.specialFolderPath(CSIDL_ID_COMMON_STARTUP, &common) && !common.empty(),
          "shell: all users' start-up folder", narrow(common));
    check(os.systemParametersInfo(SPI_ACTION_SETSCREENSAVEACTIVE, 0, 0),
          "shell: SystemParametersInfoW screen saver off");

    // A link made with the shell's own object, then resolved through the layer.
    const std::wstring target = selfPath();
    const std::wstring link = tempDir() + L"ravix-oslayer-check\\check.lnk";
    bool saved = false;
    if (SUCCEEDED(CoInitialize(nullptr))) {
        IShellLinkW *sl = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, reinterpret_cast<void **>(&sl)))) {
            sl->SetPath(target.c_str());
            sl->SetArguments(L"--sleep now");
            sl->SetWorkingDirectory(L"C:\\windows");
            IPersistFile *pf = nullptr;
            if (SUCCEEDED(sl->QueryInterface(IID_IPersistFile, reinterpret_cast<void **>(&pf)))) {
                saved = SUCCEEDED(pf->Save(link.c_str(), TRUE));
                pf->Release();
            }
            sl->Release();
        }
        CoUninitialize();
    }
    check(saved, "shell: link created");
    ShellLinkInfo info;
    std::string step;
    long hr = 0;
    const bool resolved = os.resolveShellLink(link, &info, &step, &hr);
    check(resolved && fileName(info.path) != L"" && info.arguments == L"--sleep now" &&
              info.workDir == L"C:\\windows",
          "shell: link resolved", step + " " + std::to_string(hr) + " " + narrow(info.path));
    check(!os.resolveShellLink(L"C:\\no-such.lnk", &info, &step, &hr) && !step.empty(),
          "shell: a missing link fails with its step", step);
}

void systemChecks(OsLayer &os)
{
    MemoryStatus mem;
    check(os.memoryStatus(&mem) && mem.totalPhys > 0 && mem.availPhys <= mem.totalPhys,
          "system: memory status");
    check(os.tickCount() > 0, "system: tick count");
    std::vector<InterfaceRow> rows;
    const long rc = os.interfaceTable(&rows);
    check(rc == 0, "system: interface table",
          std::to_string(rc) + ", " + std::to_string(rows.size()) + " rows");
    TimeZoneInfo tz;
    check(os.getTimeZoneInformation(&tz) != TIME_ZONE_ID_FAILED, "system: time zone read");
    check(os.enablePrivilege(L"SeChangeNotifyPrivilege"), "system: privilege enabled");
    check(!os.enablePrivilege(L"SeNoSuchPrivilege"), "system: unknown privilege refused");
    std::printf("       SeTimeZonePrivilege enabled: %s\n",
                os.enablePrivilege(L"SeTimeZonePrivilege") ? "yes" : "no");
    // A machine may well have no sensor; the query must answer either way.
    std::int32_t reading = 0;
    std::string step;
    const bool temperature = os.cpuTemperature(&reading, &step);
    check(temperature || !step.empty(), "system: WMI temperature read or its failing step named",
          step);
    std::printf("       WMI temperature: %s %d\n", temperature ? "read" : step.c_str(),
                int(reading));
    // Never set here: the clock, the zone and the power state belong to the machine.
}

// The module that holds an address is this program itself, named in full.
void moduleChecks()
{
    static const int inThisProgram = 0;
    const std::wstring path = moduleFilePath(&inThisProgram);
    const std::wstring suffix = L".exe";
    check(path.size() > suffix.size() &&
              path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0 &&
              path.find(L'\\') != std::wstring::npos,
          "module: the file holding an address is this program");
    check(moduleFilePath(nullptr).empty(), "module: no module holds the null address");
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc > 1)
        return childMain(argc, argv);
    std::unique_ptr<OsLayer> os = createDefaultOsLayer();
    std::printf("backend %s\n", os->name());
    registryChecks(*os);
    processChecks(*os);
    fileChecks(*os);
    shellChecks(*os);
    systemChecks(*os);
    moduleChecks();
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed > 0 ? 1 : 0;
}
