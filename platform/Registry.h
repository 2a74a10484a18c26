// The registry, stored as one REGEDIT4 text file (HARROW_REGISTRY, default
// $XDG_CONFIG_HOME/harrow/registry.reg). HKLM\HARDWARE\DEVICEMAP\Scsi is
// volatile: built from the active machine, never saved; so are keys made
// with REG_OPTION_VOLATILE. Calls that start from a root key see what other
// processes have written; a malformed file fails every call with ERROR_BADDB.
#pragma once

#include "platform/FileTime.h"
#include "platform/WinTypes.h"

#include <string>

using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;
using LSTATUS = LONG;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000));
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003));

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;

constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_SET_VALUE = 0x0002;
constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_OPTION_VOLATILE = 1;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Results are Win32 codes: ERROR_SUCCESS (0), ERROR_FILE_NOT_FOUND (2),
// ERROR_MORE_DATA (234), ERROR_NO_MORE_ITEMS (259), ERROR_BADDB (1009) for a
// malformed registry file, ...
LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result);
LSTATUS RegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options,
                        REGSAM access, LPSECURITY_ATTRIBUTES attributes, PHKEY result, DWORD* disposition);
LSTATUS RegCreateKeyA(HKEY key, LPCSTR subKey, PHKEY result);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataSize);
LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName);
LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey);
// Subkeys and values enumerate in a stable order: by name without regard to
// case, runs of digits by value ("Scsi Port 2" before "Scsi Port 10"). A name
// buffer too small gives ERROR_MORE_DATA and the size needed, terminator
// included.
LSTATUS RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, DWORD* nameSize, DWORD* reserved, LPSTR keyClass,
                      DWORD* classSize, FILETIME* lastWriteTime);
LSTATUS RegEnumKeyA(HKEY key, DWORD index, LPSTR name, DWORD nameSize);
LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, DWORD* valueNameSize, DWORD* reserved,
                      DWORD* type, BYTE* data, DWORD* dataSize);
LSTATUS RegQueryInfoKeyA(HKEY key, LPSTR keyClass, DWORD* classSize, DWORD* reserved, DWORD* subKeys,
                         DWORD* maxSubKeyLength, DWORD* maxClassLength, DWORD* values, DWORD* maxValueNameLength,
                         DWORD* maxValueLength, DWORD* securityDescriptor, FILETIME* lastWriteTime);
LSTATUS RegFlushKey(HKEY key);

namespace harrow::platform {

// Path of the registry file: HARROW_REGISTRY, else
// $XDG_CONFIG_HOME/harrow/registry.reg (XDG default ~/.config).
std::string RegistryPath();

// Drops the in-memory view so the next call reads the file and the active
// machine's device map anew (tests switch HARROW_REGISTRY or the machine).
void ReloadRegistry();

// Groups this thread's writes into one replacement of the file, so that a
// process killed halfway leaves none of them. While it lives it holds the
// writers' lock and the registry's other threads wait. Writes not saved by
// Save() are dropped when it ends.
class RegistryBatch {
public:
    RegistryBatch();
    ~RegistryBatch();
    RegistryBatch(const RegistryBatch&) = delete;
    RegistryBatch& operator=(const RegistryBatch&) = delete;

    // ERROR_SUCCESS once the writes are in the file.
    LSTATUS Save();

private:
    LSTATUS m_status;
    bool m_open;
};

}  // namespace harrow::platform
