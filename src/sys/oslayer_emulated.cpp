// SPDX-License-Identifier: MIT
#include "sys/emulatedwindows_p.h"

#include <algorithm>
#include <cwctype>

namespace ravix {
namespace oslayer {

namespace {

std::wstring lower(std::wstring s)
{
    for (wchar_t &c : s)
        c = wchar_t(std::towlower(std::wint_t(c)));
    return s;
}

bool sameName(const std::wstring &a, const std::wstring &b)
{
    return lower(a) == lower(b);
}

bool isRoot(RegKey key)
{
    return key == REG_ROOT_CLASSES_ROOT || key == REG_ROOT_CURRENT_USER ||
           key == REG_ROOT_LOCAL_MACHINE || key == REG_ROOT_USERS;
}

// Access bits that change a key: set value, create subkey, delete, write DAC, write owner.
constexpr std::uint32_t WRITE_RIGHTS =
    0x00000002 | 0x00000004 | 0x00010000 | 0x00040000 | 0x00080000;
constexpr std::uint32_t QUERY_RIGHT = 0x00000001;
constexpr std::uint32_t ENUMERATE_RIGHT = 0x00000008;

bool split(const std::wstring &path, std::vector<std::wstring> *parts)
{
    if (path.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring part = path.substr(start, end - start);
        if (part.empty())
            return false;
        parts->push_back(part);
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}

std::wstring rootName(RegKey root)
{
    switch (root) {
    case REG_ROOT_CLASSES_ROOT:
        return L"HKEY_CLASSES_ROOT";
    case REG_ROOT_CURRENT_USER:
        return L"HKEY_CURRENT_USER";
    case REG_ROOT_LOCAL_MACHINE:
        return L"HKEY_LOCAL_MACHINE";
    default:
        return L"HKEY_USERS";
    }
}

} // namespace

struct EmulatedRegistry::Node
{
    struct Value
    {
        std::wstring name;
        std::uint32_t type = 0;
        Bytes data;
    };
    std::wstring name;
    std::vector<Value> values;
    std::map<std::wstring, std::shared_ptr<Node>> children; // by lower-case name
    bool deleted = false;
    bool writeDenied = false;

    Value *value(const std::wstring &n)
    {
        for (Value &v : values)
            if (sameName(v.name, n))
                return &v;
        return nullptr;
    }
    void markDeleted()
    {
        deleted = true;
        for (auto &child : children)
            child.second->markDeleted();
    }
};

struct EmulatedRegistry::Handle
{
    std::shared_ptr<Node> node;
    RegKey root = 0;
    std::vector<std::wstring> path; // below the root, after redirection
    std::uint32_t access = 0;
};

EmulatedRegistry::EmulatedRegistry(bool redirect32) : m_redirect32(redirect32)
{
    clear();
}

EmulatedRegistry::~EmulatedRegistry() = default;

void EmulatedRegistry::setRedirect32(bool redirect32)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_redirect32 = redirect32;
}

bool EmulatedRegistry::redirect32() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_redirect32;
}

void EmulatedRegistry::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.clear();
    m_roots.clear();
    for (RegKey root :
         {REG_ROOT_CLASSES_ROOT, REG_ROOT_CURRENT_USER, REG_ROOT_LOCAL_MACHINE, REG_ROOT_USERS}) {
        auto node = std::make_shared<Node>();
        node->name = rootName(root);
        m_roots[root] = node;
    }
}

std::shared_ptr<EmulatedRegistry::Node> EmulatedRegistry::rootNode(RegKey root) const
{
    const auto it = m_roots.find(root);
    return it == m_roots.end() ? nullptr : it->second;
}

void EmulatedRegistry::setWriteDenied(RegKey root, const std::wstring &path, bool denied)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::wstring> parts;
    std::shared_ptr<Node> node = rootNode(root);
    if (!node || !split(path, &parts))
        return;
    for (const std::wstring &part : parts) {
        auto &child = node->children[lower(part)];
        if (!child) {
            child = std::make_shared<Node>();
            child->name = part;
        }
        node = child;
    }
    node->writeDenied = denied;
}

std::size_t EmulatedRegistry::openHandles() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.size();
}

long EmulatedRegistry::resolve(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                               bool create, std::shared_ptr<Node> *node,
                               std::vector<std::wstring> *path, RegKey *root)
{
    std::vector<std::wstring> full;
    if (isRoot(parent)) {
        *root = parent;
    } else {
        const auto it = m_handles.find(parent);
        if (it == m_handles.end())
            return OS_ERROR_INVALID_HANDLE;
        if (it->second->node->deleted)
            return OS_ERROR_KEY_DELETED;
        *root = it->second->root;
        full = it->second->path;
    }
    if (!split(subKey, &full))
        return OS_ERROR_INVALID_PARAMETER;

    // A 32-bit process sees HKLM\SOFTWARE through its Wow6432Node copy unless it asks
    // for the 64-bit view.
    const bool view32 =
        (access & REG_KEY_WOW64_32KEY) || (m_redirect32 && !(access & REG_KEY_WOW64_64KEY));
    if (view32 && *root == REG_ROOT_LOCAL_MACHINE && !full.empty() &&
        sameName(full[0], L"SOFTWARE") && !(full.size() > 1 && sameName(full[1], L"Wow6432Node")))
        full.insert(full.begin() + 1, L"Wow6432Node");

    std::shared_ptr<Node> current = rootNode(*root);
    for (const std::wstring &part : full) {
        auto it = current->children.find(lower(part));
        if (it == current->children.end()) {
            if (!create)
                return OS_ERROR_FILE_NOT_FOUND;
            if (current->writeDenied)
                return OS_ERROR_ACCESS_DENIED;
            auto child = std::make_shared<Node>();
            child->name = part;
            it = current->children.emplace(lower(part), child).first;
        }
        current = it->second;
    }
    if ((access & WRITE_RIGHTS) && current->writeDenied)
        return OS_ERROR_ACCESS_DENIED;
    *node = current;
    *path = full;
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::handleNode(RegKey key, std::uint32_t needed, std::shared_ptr<Node> *node,
                                  std::wstring *path)
{
    Handle *handle = nullptr;
    std::shared_ptr<Node> n;
    if (isRoot(key)) {
        n = rootNode(key);
    } else {
        const auto it = m_handles.find(key);
        if (it == m_handles.end())
            return OS_ERROR_INVALID_HANDLE;
        handle = it->second.get();
        n = handle->node;
        if (n->deleted)
            return OS_ERROR_KEY_DELETED;
        if ((handle->access & needed) != needed)
            return OS_ERROR_ACCESS_DENIED;
    }
    if ((needed & WRITE_RIGHTS) && n->writeDenied)
        return OS_ERROR_ACCESS_DENIED;
    if (path) {
        *path = rootName(handle ? handle->root : key);
        if (handle)
            for (const std::wstring &part : handle->path)
                *path += L"\\" + part;
    }
    *node = n;
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::openKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                               RegKey *result)
{
    return newHandle(parent, subKey, access, false, result);
}

long EmulatedRegistry::createKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                                 RegKey *result)
{
    return newHandle(parent, subKey, access, true, result);
}

long EmulatedRegistry::newHandle(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                                 bool create, RegKey *result)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto handle = std::make_unique<Handle>();
    handle->access = access;
    const long rc =
        resolve(parent, subKey, access, create, &handle->node, &handle->path, &handle->root);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    *result = m_nextHandle;
    m_nextHandle += 4;
    m_handles[*result] = std::move(handle);
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::closeKey(RegKey key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (isRoot(key))
        return OS_ERROR_SUCCESS;
    return m_handles.erase(key) ? OS_ERROR_SUCCESS : OS_ERROR_INVALID_HANDLE;
}

long EmulatedRegistry::queryValue(RegKey key, const std::wstring &name, std::uint32_t *type,
                                  Bytes *data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    const long rc = handleNode(key, QUERY_RIGHT, &node);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    const Node::Value *v = node->value(name);
    if (!v)
        return OS_ERROR_FILE_NOT_FOUND;
    if (type)
        *type = v->type;
    if (data)
        *data = v->data;
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::setValue(RegKey key, const std::wstring &name, std::uint32_t type,
                                const Bytes &data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    const long rc = handleNode(key, 0x2, &node);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    if (Node::Value *v = node->value(name)) {
        v->type = type;
        v->data = data;
    } else {
        node->values.push_back({name, type, data});
    }
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::deleteValue(RegKey key, const std::wstring &name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    const long rc = handleNode(key, 0x2, &node);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    const auto it = std::find_if(node->values.begin(), node->values.end(),
                                 [&](const Node::Value &v) { return sameName(v.name, name); });
    if (it == node->values.end())
        return OS_ERROR_FILE_NOT_FOUND;
    node->values.erase(it);
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::deleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (subKey.empty())
        return OS_ERROR_INVALID_PARAMETER;
    std::shared_ptr<Node> node;
    std::vector<std::wstring> path;
    RegKey root = 0;
    long rc = resolve(parent, subKey, (access & (REG_KEY_WOW64_64KEY | REG_KEY_WOW64_32KEY)), false,
                      &node, &path, &root);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    if (path.empty())
        return OS_ERROR_ACCESS_DENIED; // a root is never deleted
    // The system deletes only keys without subkeys; callers delete from the leaves up.
    if (!node->children.empty() || node->writeDenied)
        return OS_ERROR_ACCESS_DENIED;
    std::shared_ptr<Node> container = rootNode(root);
    for (std::size_t i = 0; i + 1 < path.size(); ++i)
        container = container->children.at(lower(path[i]));
    if (container->writeDenied)
        return OS_ERROR_ACCESS_DENIED;
    node->markDeleted();
    container->children.erase(lower(path.back()));
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::queryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    const long rc = handleNode(key, QUERY_RIGHT, &node);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    if (subKeys)
        *subKeys = std::uint32_t(node->children.size());
    if (values)
        *values = std::uint32_t(node->values.size());
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::enumKey(RegKey key, std::uint32_t index, std::wstring *name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    const long rc = handleNode(key, ENUMERATE_RIGHT, &node);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    if (index >= node->children.size())
        return OS_ERROR_NO_MORE_ITEMS;
    auto it = node->children.begin();
    std::advance(it, index);
    *name = it->second->name;
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::enumValue(RegKey key, std::uint32_t index, std::wstring *name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    const long rc = handleNode(key, QUERY_RIGHT, &node);
    if (rc != OS_ERROR_SUCCESS)
        return rc;
    if (index >= node->values.size())
        return OS_ERROR_NO_MORE_ITEMS;
    *name = node->values[index].name;
    return OS_ERROR_SUCCESS;
}

long EmulatedRegistry::flushKey(RegKey key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Node> node;
    return handleNode(key, 0, &node);
}

std::wstring EmulatedRegistry::errorMessage(long code)
{
    switch (code) {
    case OS_ERROR_SUCCESS:
        return L"The operation completed successfully.";
    case OS_ERROR_FILE_NOT_FOUND:
        return L"The system cannot find the file specified.";
    case OS_ERROR_ACCESS_DENIED:
        return L"Access is denied.";
    case OS_ERROR_INVALID_HANDLE:
        return L"The handle is invalid.";
    case OS_ERROR_NOT_SUPPORTED:
        return L"The request is not supported.";
    case OS_ERROR_INVALID_PARAMETER:
        return L"The parameter is incorrect.";
    case OS_ERROR_INSUFFICIENT_BUFFER:
        return L"The data area passed to a system call is too small.";
    case OS_ERROR_MORE_DATA:
        return L"More data is available.";
    case OS_ERROR_NO_MORE_ITEMS:
        return L"No more data is available.";
    case OS_ERROR_KEY_DELETED:
        return L"Illegal operation attempted on a registry key that has been marked for "
               L"deletion.";
    default:
        return L"Unknown error";
    }
}

// ---------------------------------------------------------------------------------------

std::wstring EmulatedWindows::Command::line() const
{
    std::wstring s = program;
    for (const std::wstring &a : args)
        s += L" " + a;
    return s;
}

EmulatedWindows::EmulatedWindows()
{
    reset();
}

EmulatedWindows::~EmulatedWindows() = default;

void EmulatedWindows::reset()
{
    m_registry.clear();
    m_registry.setRedirect32(true);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_processes.clear();
    m_nextPid = 1000;
    m_currentPid = 0;
    m_drives = {L"C:\\"};
    m_knownFolders = true;
    m_folders.clear();
    m_links.clear();
    m_exitWindowsOk = true;
    m_timeZone = TimeZoneInfo();
    m_timeZoneId = 1;
    m_memory = MemoryStatus();
    m_tick = 0;
    m_interfaces.clear();
    m_interfaceError = 0;
    m_volumeFlags.clear();
    m_volumeSerials.clear();
    m_failingPrograms.clear();
    m_timeZoneWritable = true;
    m_cpuTemperature = 0;
    m_cpuTemperatureFailure.clear();
    m_commands.clear();
    m_changes.clear();
    m_version = 10u | (19045u << 16);
}

void EmulatedWindows::setVersion(int major, int minor, int build)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_version = std::uint32_t(major & 0xff) | (std::uint32_t(minor & 0xff) << 8) |
                (std::uint32_t(build & 0x7fff) << 16);
}

EmulatedRegistry &EmulatedWindows::registry()
{
    return m_registry;
}

std::uint32_t EmulatedWindows::addProcess(const std::wstring &exeName)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ProcessEntry e;
    e.pid = m_nextPid;
    m_nextPid += 4;
    e.parentPid = 4;
    e.exeName = exeName;
    m_processes.push_back(e);
    return e.pid;
}

std::vector<ProcessEntry> EmulatedWindows::processes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_processes;
}

bool EmulatedWindows::hasProcess(const std::wstring &exeName) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::any_of(m_processes.begin(), m_processes.end(),
                       [&](const ProcessEntry &e) { return sameName(e.exeName, exeName); });
}

void EmulatedWindows::setDrives(const std::vector<std::wstring> &drives)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_drives = drives;
}

void EmulatedWindows::setKnownFoldersAvailable(bool available)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_knownFolders = available;
}

void EmulatedWindows::setFolder(int csidl, const std::wstring &path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_folders[csidl] = path;
}

void EmulatedWindows::setShellLink(const std::wstring &linkPath, const ShellLinkInfo &info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_links[lower(linkPath)] = info;
}

void EmulatedWindows::setExitWindowsResult(bool ok)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_exitWindowsOk = ok;
}

void EmulatedWindows::setTimeZone(const TimeZoneInfo &info, std::uint32_t zoneId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeZone = info;
    m_timeZoneId = zoneId;
}

void EmulatedWindows::setMemory(const MemoryStatus &status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_memory = status;
}

void EmulatedWindows::setTickCount(std::uint64_t ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tick = ms;
}

void EmulatedWindows::setInterfaceTable(const std::vector<InterfaceRow> &rows, long error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_interfaces = rows;
    m_interfaceError = error;
}

void EmulatedWindows::setVolumeFlags(const std::wstring &root, std::uint32_t flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_volumeFlags[lower(root)] = flags;
}

void EmulatedWindows::setVolumeSerialNumber(const std::wstring &root, std::uint32_t serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_volumeSerials[lower(root)] = serial;
}

void EmulatedWindows::setStartFails(const std::wstring &program, bool fails)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::wstring name = lower(program);
    m_failingPrograms.erase(std::remove(m_failingPrograms.begin(), m_failingPrograms.end(), name),
                            m_failingPrograms.end());
    if (fails)
        m_failingPrograms.push_back(name);
}

void EmulatedWindows::setTimeZoneWritable(bool writable)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeZoneWritable = writable;
}

void EmulatedWindows::setCpuTemperature(std::int32_t reading, const std::string &failedStep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_cpuTemperature = reading;
    m_cpuTemperatureFailure = failedStep;
}

std::vector<EmulatedWindows::Command> EmulatedWindows::commands() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

std::vector<std::wstring> EmulatedWindows::changes() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_changes;
}

void EmulatedWindows::clearRecords()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.clear();
    m_changes.clear();
}

void EmulatedWindows::record(const std::wstring &change)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_changes.push_back(change);
}

const char *EmulatedWindows::name() const
{
    return "emulated";
}

long EmulatedWindows::regOpenKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                                 RegKey *result)
{
    return m_registry.openKey(parent, subKey, access, result);
}

long EmulatedWindows::regCreateKey(RegKey parent, const std::wstring &subKey, std::uint32_t access,
                                   RegKey *result)
{
    return m_registry.createKey(parent, subKey, access, result);
}

long EmulatedWindows::regCloseKey(RegKey key)
{
    return m_registry.closeKey(key);
}

long EmulatedWindows::regQueryValue(RegKey key, const std::wstring &name, std::uint32_t *type,
                                    Bytes *data)
{
    return m_registry.queryValue(key, name, type, data);
}

long EmulatedWindows::regSetValue(RegKey key, const std::wstring &name, std::uint32_t type,
                                  const Bytes &data)
{
    const long rc = m_registry.setValue(key, name, type, data);
    if (rc == OS_ERROR_SUCCESS)
        record(L"RegSetValue " + name);
    return rc;
}

long EmulatedWindows::regDeleteValue(RegKey key, const std::wstring &name)
{
    const long rc = m_registry.deleteValue(key, name);
    if (rc == OS_ERROR_SUCCESS)
        record(L"RegDeleteValue " + name);
    return rc;
}

long EmulatedWindows::regDeleteKey(RegKey parent, const std::wstring &subKey, std::uint32_t access)
{
    const long rc = m_registry.deleteKey(parent, subKey, access);
    if (rc == OS_ERROR_SUCCESS)
        record(L"RegDeleteKey " + subKey);
    return rc;
}

long EmulatedWindows::regQueryInfoKey(RegKey key, std::uint32_t *subKeys, std::uint32_t *values)
{
    return m_registry.queryInfoKey(key, subKeys, values);
}

long EmulatedWindows::regEnumKey(RegKey key, std::uint32_t index, std::wstring *name)
{
    return m_registry.enumKey(key, index, name);
}

long EmulatedWindows::regEnumValue(RegKey key, std::uint32_t index, std::wstring *name)
{
    return m_registry.enumValue(key, index, name);
}

long EmulatedWindows::regFlushKey(RegKey key)
{
    return m_registry.flushKey(key);
}

std::wstring EmulatedWindows::errorMessage(long code)
{
    return EmulatedRegistry::errorMessage(code);
}

std::uint32_t EmulatedWindows::getVersion()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_version;
}

void EmulatedWindows::setCurrentProcessId(std::uint32_t pid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_currentPid = pid;
}

std::uint32_t EmulatedWindows::currentProcessId()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_currentPid;
}

bool EmulatedWindows::processSnapshot(std::vector<ProcessEntry> *processes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *processes = m_processes;
    return true;
}

bool EmulatedWindows::terminateProcess(std::uint32_t pid, std::uint32_t exitCode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = std::find_if(m_processes.begin(), m_processes.end(),
                                 [&](const ProcessEntry &e) { return e.pid == pid; });
    if (it == m_processes.end())
        return false;
    m_changes.push_back(L"TerminateProcess " + it->exeName + L" " + std::to_wstring(exitCode));
    m_processes.erase(it);
    return true;
}

CommandResult EmulatedWindows::startCommand(const std::wstring &program,
                                            const std::vector<std::wstring> &args, bool wait,
                                            std::uint32_t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool fails = std::find(m_failingPrograms.begin(), m_failingPrograms.end(),
                                 lower(program)) != m_failingPrograms.end();
    m_commands.push_back({program, args, wait, !fails});
    CommandResult r;
    if (fails)
        return r;
    r.started = true;
    r.pid = m_nextPid;
    m_nextPid += 4;
    r.finished = wait;
    return r;
}

CommandResult EmulatedWindows::startHostTool(const std::wstring &program,
                                             const std::vector<std::wstring> &args, bool wait,
                                             std::uint32_t waitMs)
{
    return startCommand(program, args, wait, waitMs);
}

bool EmulatedWindows::systemParametersInfo(std::uint32_t action, std::uint32_t uiParam,
                                           std::uint32_t flags)
{
    record(L"SystemParametersInfoW " + std::to_wstring(action) + L" " + std::to_wstring(uiParam) +
           L" " + std::to_wstring(flags));
    return true;
}

std::vector<std::wstring> EmulatedWindows::drives()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_drives;
}

bool EmulatedWindows::knownFolderPath(KnownFolder folder, std::wstring *path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_knownFolders)
        return false;
    const int csidl = folder == KnownFolder::Startup ? CSIDL_ID_STARTUP : CSIDL_ID_COMMON_STARTUP;
    const auto it = m_folders.find(csidl);
    *path = it == m_folders.end() ? std::wstring() : it->second;
    return true;
}

bool EmulatedWindows::specialFolderPath(int csidl, std::wstring *path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_folders.find(csidl);
    if (it == m_folders.end())
        return false;
    *path = it->second;
    return true;
}

bool EmulatedWindows::resolveShellLink(const std::wstring &linkPath, ShellLinkInfo *info,
                                       std::string *failedStep, long *code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_links.find(lower(linkPath));
    if (it == m_links.end()) {
        *failedStep = "IPersistFile::Load";
        *code = long(0x80070002u); // the file was not found
        return false;
    }
    *info = it->second;
    return true;
}

bool EmulatedWindows::setFileTimes(const std::wstring &path, const std::uint64_t *creation,
                                   const std::uint64_t *access, const std::uint64_t *write)
{
    auto text = [](const std::uint64_t *t) { return t ? std::to_wstring(*t) : L"-"; };
    record(L"SetFileTime " + path + L" " + text(creation) + L" " + text(access) + L" " +
           text(write));
    return true;
}

bool EmulatedWindows::grantEveryoneFullAccess(const std::wstring &path)
{
    record(L"GrantEveryone " + path);
    return true;
}

bool EmulatedWindows::volumeFlags(const std::wstring &root, std::uint32_t *flags)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_volumeFlags.find(lower(root));
    if (it == m_volumeFlags.end())
        return false;
    *flags = it->second;
    return true;
}

bool EmulatedWindows::volumeSerialNumber(const std::wstring &root, std::uint32_t *serial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_volumeSerials.find(lower(root));
    if (it == m_volumeSerials.end())
        return false;
    *serial = it->second;
    return true;
}

bool EmulatedWindows::fileIdentity(const std::wstring &, std::uint64_t *, std::uint64_t *)
{
    return false;
}

bool EmulatedWindows::setSystemTime(const SystemTime &t)
{
    record(L"SetSystemTime " + std::to_wstring(t.year) + L"-" + std::to_wstring(t.month) + L"-" +
           std::to_wstring(t.day) + L" " + std::to_wstring(t.hour) + L":" +
           std::to_wstring(t.minute) + L":" + std::to_wstring(t.second) + L" dow " +
           std::to_wstring(t.dayOfWeek));
    return true;
}

bool EmulatedWindows::enablePrivilege(const std::wstring &privilege)
{
    record(L"EnablePrivilege " + privilege);
    return true;
}

std::uint32_t EmulatedWindows::getTimeZoneInformation(TimeZoneInfo *info)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *info = m_timeZone;
    return m_timeZoneId;
}

bool EmulatedWindows::setTimeZoneInformation(const TimeZoneInfo &info)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_timeZoneWritable)
            return false;
        m_timeZone = info;
    }
    record(L"SetTimeZoneInformation " + std::to_wstring(info.bias) + L" " + info.standardName);
    return true;
}

bool EmulatedWindows::memoryStatus(MemoryStatus *status)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    *status = m_memory;
    return true;
}

std::uint64_t EmulatedWindows::tickCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tick;
}

long EmulatedWindows::interfaceTable(std::vector<InterfaceRow> *rows)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_interfaceError != 0)
        return m_interfaceError;
    *rows = m_interfaces;
    return OS_ERROR_SUCCESS;
}

bool EmulatedWindows::exitWindows(std::uint32_t flags, std::uint32_t reason)
{
    record(L"ExitWindowsEx " + std::to_wstring(flags) + L" " + std::to_wstring(reason));
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exitWindowsOk;
}

bool EmulatedWindows::cpuTemperature(std::int32_t *reading, std::string *failedStep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_cpuTemperatureFailure.empty()) {
        *failedStep = m_cpuTemperatureFailure;
        return false;
    }
    *reading = m_cpuTemperature;
    return true;
}

} // namespace oslayer
} // namespace ravix
