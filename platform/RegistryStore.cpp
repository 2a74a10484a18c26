#include "platform/RegistryStore.h"

#include "platform/DeviceNamespace.h"
#include "platform/RegistryText.h"

#include <chrono>
#include <cstdio>
#include <exception>

namespace harrow::platform {
namespace {

constexpr std::uintptr_t kFirstRootKey = 0x80000000;
const std::vector<std::string> kDeviceMapPath = {"HKEY_LOCAL_MACHINE", "HARDWARE", "DEVICEMAP", "Scsi"};

// One trailing backslash is allowed, as Windows allows it; empty parts and
// control characters (which the file cannot hold) are not.
bool SplitSubKey(LPCSTR subKey, std::vector<std::string>& path)
{
    if (subKey == nullptr || *subKey == '\0') {
        return true;
    }
    std::string text(subKey);
    if (text.size() > 1 && text.back() == '\\') {
        text.pop_back();
    }
    std::size_t start = 0;
    while (true) {
        std::size_t slash = text.find('\\', start);
        std::string part = text.substr(start, slash - start);
        if (part.empty()) {
            return false;
        }
        for (char c : part) {
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
        }
        path.push_back(part);
        if (slash == std::string::npos) {
            return true;
        }
        start = slash + 1;
    }
}

std::vector<std::string> SplitDeviceMapPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('\\', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > start) {
            parts.push_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return parts;
}

void Report(const std::string& problem, std::string& last)
{
    if (problem != last) {
        std::fprintf(stderr, "harrow: %s\n", problem.c_str());
        last = problem;
    }
}

// File times move in steps (the kernel's clock tick; whole seconds on some
// file systems, two on FAT), so a write in the step of the version read could
// leave its stamp alone. Once two seconds have passed since the read version
// was written, any later write moves it.
bool Settled(const RegistryFileStamp& stamp)
{
    using namespace std::chrono;
    auto now = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return !stamp.exists || stamp.modified < now - duration_cast<nanoseconds>(seconds(2)).count();
}

}  // namespace

RegistryStore& RegistryStore::Instance()
{
    static RegistryStore* store = new RegistryStore;  // outlives every static destructor
    return *store;
}

LSTATUS RegistryStore::Find(HKEY key, REGSAM need, OpenKey* open)
{
    auto value = reinterpret_cast<std::uintptr_t>(key);
    const std::vector<std::string>& roots = RegistryRootNames();
    if (value >= kFirstRootKey && value < kFirstRootKey + roots.size()) {
        open->path = {roots[value - kFirstRootKey]};
        open->access = KEY_ALL_ACCESS;
    } else if (auto found = m_handles.find(value); found != m_handles.end()) {
        *open = found->second;
    } else {
        return ERROR_INVALID_HANDLE;
    }
    return (open->access & need) == need ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

bool RegistryStore::FileUnchanged() const
{
    if (!m_haveText || m_failing || !m_stampSettled) {
        return false;
    }
    RegistryFileStamp now;
    return m_file->Stamp(&now) && now == m_stamp;
}

LSTATUS RegistryStore::Refresh()
{
    if (!m_file) {
        m_file = std::make_unique<RegistryFile>(RegistryPath());
    }
    if (FileUnchanged()) {
        return ERROR_SUCCESS;
    }
    std::string text;
    std::string error;
    if (!m_file->Read(&text, &m_stamp, &error)) {
        m_stampSettled = false;
        m_failing = true;
        Report("the registry file " + m_file->Path() + " is unreadable (" + error + ")", m_lastProblem);
        return ERROR_BADDB;
    }
    m_stampSettled = Settled(m_stamp);
    if (m_haveText && text == m_text) {
        m_failing = m_textMalformed;
        return m_textMalformed ? ERROR_BADDB : ERROR_SUCCESS;
    }
    m_text = text;
    m_haveText = true;
    try {
        std::unique_ptr<RegistryKeyNode> fresh = ParseRegistryText(text, kDeviceMapPath);
        if (m_roots) {
            CarryVolatileKeys(*m_roots, *fresh);
        }
        m_roots = std::move(fresh);
        m_textMalformed = false;
        m_failing = false;
        m_lastProblem.clear();
        return ERROR_SUCCESS;
    } catch (const RegistryFormatError& malformed) {
        m_textMalformed = true;
        m_failing = true;
        Report("the registry file " + m_file->Path() + " is malformed at line " + std::to_string(malformed.Line()) +
                   " (" + malformed.what() + "); registry calls fail until it is mended",
               m_lastProblem);
        return ERROR_BADDB;
    }
}

LSTATUS RegistryStore::Prepare(HKEY key, REGSAM need, OpenKey* open)
{
    if (LSTATUS status = Find(key, need, open); status != ERROR_SUCCESS) {
        return status;
    }
    // Other processes' writes show on the next call that starts from a root key.
    bool fromRoot = reinterpret_cast<std::uintptr_t>(key) >= kFirstRootKey;
    if (fromRoot || !m_roots || m_failing) {
        if (LSTATUS status = Refresh(); status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (SameRegistryName(open->path[0], kDeviceMapPath[0])) {
        EnsureDeviceMap();
    }
    return ERROR_SUCCESS;
}

void RegistryStore::EnsureDeviceMap()
{
    if (m_deviceMapBuilt || m_buildingDeviceMap) {
        return;
    }
    std::vector<RegistryKey> keys;
    m_buildingDeviceMap = true;
    try {
        keys = ActiveMachine().DeviceMap();
        m_buildingDeviceMap = false;
    } catch (const std::exception& failure) {
        m_buildingDeviceMap = false;
        Report(std::string("no SCSI device map in the registry: ") + failure.what(), m_machineProblem);
        return;
    }
    RegistryKeyNode* parent = m_roots.get();
    for (std::size_t i = 0; i + 1 < kDeviceMapPath.size(); ++i) {
        parent = &parent->Create(kDeviceMapPath[i], i > 0);
    }
    parent->Remove(kDeviceMapPath.back());
    RegistryKeyNode& scsi = parent->Create(kDeviceMapPath.back(), true);
    for (const RegistryKey& key : keys) {
        RegistryKeyNode* node = &scsi;
        for (const std::string& part : SplitDeviceMapPath(key.path)) {
            node = &node->Create(part, true);
        }
        for (const RegistryValue& value : key.values) {
            node->Values()[value.name] = RegistryValueData{value.name, value.type, value.data, {}};
        }
    }
    m_deviceMapBuilt = true;
}

RegistryKeyNode* RegistryStore::Resolve(RegistryKeyNode& roots, const std::vector<std::string>& path) const
{
    RegistryKeyNode* node = &roots;
    for (const std::string& part : path) {
        node = node->Find(part);
        if (node == nullptr) {
            return nullptr;
        }
    }
    return node;
}

LSTATUS RegistryStore::Read(HKEY key, REGSAM need, const Reader& reader)
{
    std::lock_guard guard(m_lock);
    OpenKey open;
    if (LSTATUS status = Prepare(key, need, &open); status != ERROR_SUCCESS) {
        return status;
    }
    RegistryKeyNode* node = Resolve(*m_roots, open.path);
    return node == nullptr ? ERROR_KEY_DELETED : reader(*node);
}

LSTATUS RegistryStore::Write(HKEY key, REGSAM need, const Writer& writer)
{
    std::lock_guard guard(m_lock);
    OpenKey open;
    if (LSTATUS status = Prepare(key, need, &open); status != ERROR_SUCCESS) {
        return status;
    }
    return Commit(open, writer);
}

LSTATUS RegistryStore::Commit(const OpenKey& open, const Writer& writer)
{
    // A change that leaves the saved text alone (volatile keys, no-ops)
    // stays in memory and needs no lock.
    std::unique_ptr<RegistryKeyNode> copy = m_roots->Clone();
    RegistryKeyNode* node = Resolve(*copy, open.path);
    if (node == nullptr) {
        return ERROR_KEY_DELETED;
    }
    if (LSTATUS status = writer(*node); status != ERROR_SUCCESS) {
        return status;
    }
    std::string before = FormatRegistryText(*m_roots);
    bool changed = FormatRegistryText(*copy) != before;
    if (m_batchDepth > 0 || !changed) {
        m_batchChanged = m_batchChanged || changed;
        m_roots = std::move(copy);
        return ERROR_SUCCESS;
    }

    std::string error;
    if (!m_file->Lock(&error)) {
        Report("cannot write the registry file " + m_file->Path() + ": " + error, m_writeProblem);
        return ERROR_CANTWRITE;
    }
    struct Unlocker {
        RegistryFile& file;
        ~Unlocker() { file.Unlock(); }
    } unlocker{*m_file};

    // Apply the change again to what other processes saved meanwhile.
    if (LSTATUS status = Refresh(); status != ERROR_SUCCESS) {
        return status;
    }
    copy = m_roots->Clone();
    node = Resolve(*copy, open.path);
    if (node == nullptr) {
        return ERROR_KEY_DELETED;
    }
    if (LSTATUS status = writer(*node); status != ERROR_SUCCESS) {
        return status;
    }
    std::string text = FormatRegistryText(*copy);
    if (text != FormatRegistryText(*m_roots)) {
        if (m_file->IsReadOnly()) {
            TellReadOnly();
        } else if (!m_file->Replace(text, &error)) {
            Report("cannot write the registry file " + m_file->Path() + ": " + error, m_writeProblem);
            return ERROR_CANTWRITE;
        } else {
            m_text = text;
        }
    }
    m_roots = std::move(copy);
    m_writeProblem.clear();
    return ERROR_SUCCESS;
}

// A read-only file is its owner's wish: changes live in memory for this run only.
void RegistryStore::TellReadOnly()
{
    if (!m_readOnlyTold) {
        std::fprintf(stderr, "harrow: the registry file %s is read-only: settings will not be saved\n",
                     m_file->Path().c_str());
        m_readOnlyTold = true;
    }
}

LSTATUS RegistryStore::Open(HKEY key, LPCSTR subKey, REGSAM access, PHKEY result)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard guard(m_lock);
    OpenKey open;
    if (LSTATUS status = Prepare(key, 0, &open); status != ERROR_SUCCESS) {
        return status;
    }
    if (Resolve(*m_roots, open.path) == nullptr) {
        return ERROR_KEY_DELETED;
    }
    if (!SplitSubKey(subKey, open.path)) {
        return ERROR_INVALID_PARAMETER;
    }
    if (Resolve(*m_roots, open.path) == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    open.access = access;
    *result = NewHandle(std::move(open));
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Create(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result, DWORD* disposition)
{
    if (result == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard guard(m_lock);
    OpenKey open;
    if (LSTATUS status = Prepare(key, 0, &open); status != ERROR_SUCCESS) {
        return status;
    }
    std::vector<std::string> parts;
    if (!SplitSubKey(subKey, parts)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<std::string> path = open.path;
    path.insert(path.end(), parts.begin(), parts.end());
    if (path.size() > kMaxRegistryDepth + 1) {
        return ERROR_INVALID_PARAMETER;
    }
    bool exists = Resolve(*m_roots, path) != nullptr;
    if (!exists) {
        if ((open.access & KEY_CREATE_SUB_KEY) == 0) {
            return ERROR_ACCESS_DENIED;
        }
        bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
        LSTATUS status = Commit(open, [&](RegistryKeyNode& base) {
            RegistryKeyNode* node = &base;
            for (const std::string& part : parts) {
                node = &node->Create(part, isVolatile);
            }
            return static_cast<LSTATUS>(ERROR_SUCCESS);
        });
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    if (disposition != nullptr) {
        *disposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    }
    *result = NewHandle(OpenKey{std::move(path), access});
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Close(HKEY key)
{
    auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value >= kFirstRootKey && value < kFirstRootKey + RegistryRootNames().size()) {
        return ERROR_SUCCESS;
    }
    std::lock_guard guard(m_lock);
    return m_handles.erase(value) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

HKEY RegistryStore::NewHandle(OpenKey open)
{
    std::uintptr_t value = m_nextHandle;
    m_nextHandle += 4;
    m_handles.emplace(value, std::move(open));
    return reinterpret_cast<HKEY>(value);
}

LSTATUS RegistryStore::BeginBatch()
{
    m_lock.lock();
    if (m_batchDepth++ > 0) {
        return ERROR_SUCCESS;
    }
    m_batchChanged = false;
    if (!m_file) {
        m_file = std::make_unique<RegistryFile>(RegistryPath());
    }
    std::string error;
    if (!m_file->Lock(&error)) {
        Report("cannot write the registry file " + m_file->Path() + ": " + error, m_writeProblem);
        return ERROR_CANTWRITE;
    }
    m_batchLocked = true;
    m_batchStatus = Refresh();
    return m_batchStatus;
}

LSTATUS RegistryStore::EndBatch(bool save)
{
    struct Release {
        RegistryStore& store;
        ~Release() { store.m_lock.unlock(); }
    } release{*this};
    if (--m_batchDepth > 0) {
        return ERROR_SUCCESS;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (!m_batchLocked) {
        status = ERROR_CANTWRITE;
    } else if (m_batchStatus != ERROR_SUCCESS) {
        status = m_batchStatus;  // a file that could not be read is never replaced
    } else if (save && m_batchChanged) {
        std::string text = FormatRegistryText(*m_roots);
        std::string error;
        if (text != m_text && m_file->IsReadOnly()) {
            TellReadOnly();
        } else if (text != m_text && !m_file->Replace(text, &error)) {
            Report("cannot write the registry file " + m_file->Path() + ": " + error, m_writeProblem);
            status = ERROR_CANTWRITE;
        } else {
            m_text = text;
        }
    }
    if (m_batchLocked) {
        m_file->Unlock();
        m_batchLocked = false;
    }
    if (save && status == ERROR_SUCCESS) {
        return status;
    }
    // What was not saved goes: the next call parses the file again.
    m_haveText = false;
    if (LSTATUS refreshed = Refresh(); refreshed != ERROR_SUCCESS && status == ERROR_SUCCESS) {
        status = refreshed;
    }
    return status;
}

void RegistryStore::Reload()
{
    std::lock_guard guard(m_lock);
    m_file.reset();
    m_roots.reset();
    m_text.clear();
    m_haveText = false;
    m_stampSettled = false;
    m_textMalformed = false;
    m_failing = false;
    m_deviceMapBuilt = false;
    m_lastProblem.clear();
    m_machineProblem.clear();
    m_writeProblem.clear();
}

}  // namespace harrow::platform
