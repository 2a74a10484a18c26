#pragma once

#include "platform/Registry.h"

// One open registry key, closed when it goes out of scope unless closed
// earlier; a failure part-way through a walk thus leaks no key.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey();

    LSTATUS Open(HKEY parent, const char* subKey, REGSAM access = KEY_READ);
    LSTATUS Create(HKEY parent, const char* subKey, REGSAM access);
    // ERROR_SUCCESS when nothing was open.
    LSTATUS Close();

    bool IsOpen() const { return m_Key != nullptr; }
    HKEY Get() const { return m_Key; }
    // Subkey and value counts; false when the key cannot be queried.
    bool QueryCounts(DWORD* subKeys, DWORD* values) const;

private:
    HKEY m_Key = nullptr;
};
