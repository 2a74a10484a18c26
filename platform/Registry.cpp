#include "platform/Registry.h"

#include "platform/RegistryStore.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <pwd.h>
#include <unistd.h>

using harrow::platform::RegistryKeyNode;
using harrow::platform::RegistryStore;
using harrow::platform::RegistryValueData;

namespace {

LSTATUS Success() { return ERROR_SUCCESS; }

// A name into a caller's buffer of *size characters. Too small: the size
// needed, terminator included. Done: the length, terminator excluded.
LSTATUS CopyName(const std::string& name, LPSTR buffer, DWORD* size)
{
    if (buffer == nullptr || size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    auto needed = static_cast<DWORD>(name.size() + 1);
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed - 1;
    return ERROR_SUCCESS;
}

// Value data into a caller's buffer; no buffer asks for the size only.
LSTATUS CopyData(const RegistryValueData& value, DWORD* type, BYTE* data, DWORD* size)
{
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (type != nullptr) {
        *type = value.type;
    }
    auto needed = static_cast<DWORD>(value.data.size());
    if (data != nullptr && *size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (data != nullptr && needed > 0) {
        std::memcpy(data, value.data.data(), needed);
    }
    if (size != nullptr) {
        *size = needed;
    }
    return ERROR_SUCCESS;
}

std::string ValueName(LPCSTR name) { return name == nullptr ? std::string() : std::string(name); }

bool HasControlCharacters(const std::string& text)
{
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return true;
        }
    }
    return false;
}

template <class Map>
auto Nth(const Map& map, DWORD index)
{
    auto entry = map.begin();
    std::advance(entry, index);
    return entry;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result)
{
    return RegistryStore::Instance().Open(key, subKey, access, result);
}

LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return RegistryStore::Instance().Open(key, subKey, KEY_ALL_ACCESS, result);
}

LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES,
                        PHKEY result, DWORD* disposition)
{
    return RegistryStore::Instance().Create(key, subKey, options, access, result, disposition);
}

LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result)
{
    return RegistryStore::Instance().Create(key, subKey, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, result, nullptr);
}

LSTATUS RegCloseKey(HKEY key) { return RegistryStore::Instance().Close(key); }

LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize)
{
    return RegistryStore::Instance().Read(key, KEY_QUERY_VALUE, [&](const RegistryKeyNode& node) {
        auto found = node.Values().find(ValueName(valueName));
        if (found == node.Values().end()) {
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        }
        return CopyData(found->second, type, data, dataSize);
    });
}

LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize)
{
    std::string name = ValueName(valueName);
    if ((data == nullptr && dataSize != 0) || HasControlCharacters(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    RegistryValueData value{name, type, std::vector<BYTE>(data, data + dataSize), {}};
    return RegistryStore::Instance().Write(key, KEY_SET_VALUE, [&](RegistryKeyNode& node) {
        auto found = node.Values().find(name);
        if (found != node.Values().end()) {
            value.name = found->second.name;  // a value keeps the case it was made with
            value.comments = found->second.comments;
        }
        node.Values()[name] = value;
        return Success();
    });
}

LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName)
{
    return RegistryStore::Instance().Write(key, KEY_SET_VALUE, [&](RegistryKeyNode& node) {
        return static_cast<LSTATUS>(node.Values().erase(ValueName(valueName)) != 0 ? ERROR_SUCCESS
                                                                                    : ERROR_FILE_NOT_FOUND);
    });
}

LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey)
{
    if (subKey == nullptr || *subKey == '\0') {
        return ERROR_INVALID_PARAMETER;
    }
    std::string path(subKey);
    return RegistryStore::Instance().Write(key, 0, [&](RegistryKeyNode& node) {
        RegistryKeyNode* parent = &node;
        std::size_t start = 0;
        std::size_t slash = 0;
        while ((slash = path.find('\\', start)) != std::string::npos) {
            parent = parent->Find(path.substr(start, slash - start));
            if (parent == nullptr) {
                return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
            }
            start = slash + 1;
        }
        RegistryKeyNode* target = parent->Find(path.substr(start));
        if (target == nullptr) {
            return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
        }
        // As on Windows NT: only a key without subkeys can go.
        if (!target->Subkeys().empty()) {
            return static_cast<LSTATUS>(ERROR_ACCESS_DENIED);
        }
        parent->Remove(path.substr(start));
        return Success();
    });
}

LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameSize, DWORD*, LPSTR keyClass, DWORD* classSize,
                      FILETIME* lastWriteTime)
{
    return RegistryStore::Instance().Read(key, KEY_ENUMERATE_SUB_KEYS, [&](const RegistryKeyNode& node) {
        if (index >= node.Subkeys().size()) {
            return static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS);
        }
        if (LSTATUS status = CopyName(Nth(node.Subkeys(), index)->second->Name(), name, nameSize);
            status != ERROR_SUCCESS) {
            return status;
        }
        if (keyClass != nullptr && classSize != nullptr && *classSize > 0) {
            keyClass[0] = '\0';
            *classSize = 0;
        }
        if (lastWriteTime != nullptr) {
            *lastWriteTime = FILETIME{0, 0};
        }
        return Success();
    });
}

LSTATUS RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize)
{
    return RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr);
}

LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameSize, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataSize)
{
    return RegistryStore::Instance().Read(key, KEY_QUERY_VALUE, [&](const RegistryKeyNode& node) {
        if (index >= node.Values().size()) {
            return static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS);
        }
        const RegistryValueData& value = Nth(node.Values(), index)->second;
        if (LSTATUS status = CopyName(value.name, valueName, valueNameSize); status != ERROR_SUCCESS) {
            return status;
        }
        return CopyData(value, type, data, dataSize);
    });
}

LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classSize, DWORD*, DWORD* subKeys, DWORD* maxSubKeyLength,
                         DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength, DWORD* maxValueLength,
                         DWORD* securityDescriptor, FILETIME* lastWriteTime)
{
    return RegistryStore::Instance().Read(key, KEY_QUERY_VALUE, [&](const RegistryKeyNode& node) {
        DWORD longestKey = 0;
        for (const auto& [name, child] : node.Subkeys()) {
            longestKey = std::max(longestKey, static_cast<DWORD>(name.size()));
        }
        DWORD longestName = 0;
        DWORD longestData = 0;
        for (const auto& [name, value] : node.Values()) {
            longestName = std::max(longestName, static_cast<DWORD>(name.size()));
            longestData = std::max(longestData, static_cast<DWORD>(value.data.size()));
        }
        if (keyClass != nullptr && classSize != nullptr && *classSize > 0) {
            keyClass[0] = '\0';
        }
        if (classSize != nullptr) *classSize = 0;
        if (subKeys != nullptr) *subKeys = static_cast<DWORD>(node.Subkeys().size());
        if (maxSubKeyLength != nullptr) *maxSubKeyLength = longestKey;
        if (maxClassLength != nullptr) *maxClassLength = 0;
        if (values != nullptr) *values = static_cast<DWORD>(node.Values().size());
        if (maxValueNameLength != nullptr) *maxValueNameLength = longestName;
        if (maxValueLength != nullptr) *maxValueLength = longestData;
        if (securityDescriptor != nullptr) *securityDescriptor = 0;
        if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
        return Success();
    });
}

// Every write is on disk when it returns; this only checks the handle.
LSTATUS RegFlushKey(HKEY key)
{
    return RegistryStore::Instance().Read(key, 0, [](const RegistryKeyNode&) { return Success(); });
}

namespace harrow::platform {

std::string RegistryPath()
{
    if (const char* path = std::getenv("HARROW_REGISTRY"); path != nullptr && *path != '\0') {
        return path;
    }
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        config = std::string(home) + "/.config";
    } else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr) {
        config = std::string(user->pw_dir) + "/.config";
    }
    return config + "/harrow/registry.reg";
}

void ReloadRegistry() { RegistryStore::Instance().Reload(); }

RegistryBatch::RegistryBatch() : m_status(RegistryStore::Instance().BeginBatch()), m_open(true) {}

RegistryBatch::~RegistryBatch()
{
    if (m_open) {
        RegistryStore::Instance().EndBatch(false);
    }
}

LSTATUS RegistryBatch::Save()
{
    if (!m_open) {
        return m_status;
    }
    m_open = false;
    LSTATUS saved = RegistryStore::Instance().EndBatch(true);
    return m_status != ERROR_SUCCESS ? m_status : saved;
}

}  // namespace harrow::platform
