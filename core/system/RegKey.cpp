#include "core/system/RegKey.h"

RegKey::~RegKey()
{
    Close();
}

LSTATUS RegKey::Open(HKEY parent, const char* subKey, REGSAM access)
{
    Close();
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExA(parent, subKey, 0, access, &key);
    if (status == ERROR_SUCCESS) {
        m_Key = key;
    }
    return status;
}

LSTATUS RegKey::Create(HKEY parent, const char* subKey, REGSAM access)
{
    Close();
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LSTATUS status =
        RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, &disposition);
    if (status == ERROR_SUCCESS) {
        m_Key = key;
    }
    return status;
}

LSTATUS RegKey::Close()
{
    if (m_Key == nullptr) {
        return ERROR_SUCCESS;
    }
    HKEY key = m_Key;
    m_Key = nullptr;
    return RegCloseKey(key);
}

bool RegKey::QueryCounts(DWORD* subKeys, DWORD* values) const
{
    return RegQueryInfoKeyA(m_Key, nullptr, nullptr, nullptr, subKeys, nullptr, nullptr, values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS;
}
