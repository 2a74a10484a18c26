#pragma once

#include "core/system/OsType.h"
#include "core/system/RegKey.h"

#include <string>

// The running product's configuration under HKLM "SOFTWARE\Orb":
// <product>\DriverExceptions\<Win2000|WinNT|Win98> holds, per adapter driver
// name, the transport to use ("defaultdriver" for the rest) and the buffer
// manager ("buffermgr").
namespace product_config {

constexpr const char* kOrbKey = "SOFTWARE\\Orb";
constexpr const char* kDefaultDriverValue = "defaultdriver";
constexpr const char* kBufferMgrValue = "buffermgr";

// Which lookup walks the keys: the two differ in a few of their errors.
enum class Lookup { DriverType, BufferMgr };

// A product without a configuration gets one with working defaults: the NT
// port transport for every adapter but those of the maker's Nox Fibre Channel
// drivers, which get the Nox transport, and the heap buffer manager (ASPI on
// Windows 9x). An existing configuration is never changed. A failure here
// shows as the walk's own error when it opens the keys.
void EnsureDefaults(const std::string& product);

// The four keys down to the operating system's subkey, opened for reading;
// each failure is thrown as the error event the lookups define.
class Walk {
public:
    Walk(const std::string& product, OsType_t os, Lookup lookup);
    HKEY OsKey() const { return m_Os.Get(); }
    // Innermost first; a failure is thrown as an error event.
    void Close();

private:
    RegKey m_Orb;
    RegKey m_Product;
    RegKey m_Exceptions;
    RegKey m_Os;
};

}  // namespace product_config
