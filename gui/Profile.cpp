#include "gui/Profile.h"

#include "platform/Registry.h"

namespace {

constexpr const char* kProfileRoot = "Software\\Kestrel\\Harrow Viraradiza\\";

}  // namespace

namespace profile {

unsigned long ReadNumber(const std::string& section, const std::string& entry, unsigned long fallback)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (kProfileRoot + section).c_str(), 0, KEY_READ, &key) != 0) {
        return fallback;
    }
    DWORD value = 0;
    DWORD type = 0;
    DWORD size = sizeof value;
    const LSTATUS status =
        RegQueryValueExA(key, entry.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return status == 0 && type == REG_DWORD ? value : fallback;
}

bool WriteNumber(const std::string& section, const std::string& entry, unsigned long value)
{
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, (kProfileRoot + section).c_str(), &key) != 0) {
        return false;
    }
    const auto number = static_cast<DWORD>(value);
    const LSTATUS status =
        RegSetValueExA(key, entry.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    RegCloseKey(key);
    return status == 0;
}

}  // namespace profile
