#include "core/system/ProductConfig.h"

#include "core/types/CEventError.h"
#include "core/types/Device.h"

namespace product_config {
namespace {

constexpr REGSAM kCreateAccess = 0x2001F;

struct OsDefaults {
    const char* key;
    Driver_t driver;
    BufferMgr_t bufferMgr;
};

// Windows 9x reaches every adapter through ASPI and never reads its subkey;
// it is written so that the layout is complete.
constexpr OsDefaults kDefaults[] = {
    {"Win2000", DRV_NTPORT, BUFMGR_HEAP},
    {"WinNT", DRV_NTPORT, BUFMGR_HEAP},
    {"Win98", DRV_ASPI, BUFMGR_HEAP},
};

// The Fibre Channel drivers of the maker's Nox family: their ports are
// reached through the Nox library on the NT family.
constexpr const char* kNoxDrivers[] = {"lp6nds35", "lp7nds35", "lp3nds35", "elxsli2", "OrbLPx"};

// The AMI MegaRAID miniport: its drives are reached through our RAID plug-in.
constexpr const char* kMegaRaidDriver = "mraid35x";

const char* OsKeyName(OsType_t os)
{
    switch (os) {
    case OS_WIN2000:
        return "Win2000";
    case OS_WINNT4:
        return "WinNT";
    default:
        return "Win98";
    }
}

[[noreturn]] void Fail(const char* text, Error_t code = ERR_DRIVER_FAILURE)
{
    throw new CEventError(text, code);
}

bool SetDword(HKEY key, const char* name, DWORD value)
{
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) == ERROR_SUCCESS;
}

bool WriteDefaults(const std::string& product)
{
    for (const OsDefaults& os : kDefaults) {
        const std::string path = std::string(kOrbKey) + "\\" + product + "\\DriverExceptions\\" + os.key;
        RegKey key;
        if (key.Create(HKEY_LOCAL_MACHINE, path.c_str(), kCreateAccess) != ERROR_SUCCESS ||
            !SetDword(key.Get(), kDefaultDriverValue, static_cast<DWORD>(os.driver)) ||
            !SetDword(key.Get(), kBufferMgrValue, static_cast<DWORD>(os.bufferMgr))) {
            return false;
        }
        if (os.driver != DRV_NTPORT) {
            continue;
        }
        for (const char* nox : kNoxDrivers) {
            if (!SetDword(key.Get(), nox, static_cast<DWORD>(DRV_NOX))) {
                return false;
            }
        }
        if (!SetDword(key.Get(), kMegaRaidDriver, static_cast<DWORD>(DRV_AMIRAID))) {
            return false;
        }
    }
    return true;
}

bool IsConfigured(const std::string& product)
{
    RegKey orb;
    if (orb.Open(HKEY_LOCAL_MACHINE, kOrbKey) != ERROR_SUCCESS) {
        return false;
    }
    RegKey existing;
    return product.empty() || existing.Open(orb.Get(), product.c_str()) == ERROR_SUCCESS;
}

}  // namespace

void EnsureDefaults(const std::string& product)
{
    if (IsConfigured(product)) {
        return;
    }
    // One write for the whole configuration: a first run killed halfway or
    // racing another first run leaves either none of it or all of it.
    harrow::platform::RegistryBatch batch;
    if (IsConfigured(product)) {
        return;
    }
    RegKey orb;
    if (orb.Create(HKEY_LOCAL_MACHINE, kOrbKey, kCreateAccess) != ERROR_SUCCESS) {
        return;
    }
    if (product.empty() || WriteDefaults(product)) {
        orb.Close();
        batch.Save();
    }
}

Walk::Walk(const std::string& product, OsType_t os, Lookup lookup)
{
    EnsureDefaults(product);
    if (m_Orb.Open(HKEY_LOCAL_MACHINE, kOrbKey) != ERROR_SUCCESS) {
        Fail("Could not open registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb");
    }
    if (!m_Orb.QueryCounts(nullptr, nullptr)) {
        Fail("Could not query Software\\Orb key for number of products");
    }
    if (product.empty()) {
        Fail("Could not find product running string - application must register itself", ERR_PRODUCT_NOT_REGISTERED);
    }
    if (m_Product.Open(m_Orb.Get(), product.c_str()) != ERROR_SUCCESS) {
        Fail("Could not open Software\\Orb\\(ProductRunning)", ERR_REGISTRY_ACCESS);
    }
    if (m_Exceptions.Open(m_Product.Get(), "DriverExceptions") != ERROR_SUCCESS) {
        Fail("Could not open DriverExceptions for the product", ERR_REGISTRY_ACCESS);
    }
    if (m_Os.Open(m_Exceptions.Get(), OsKeyName(os)) != ERROR_SUCCESS) {
        if (os == OS_WIN2000) {
            Fail("Could not open OS win2000 for products driver exceptions", ERR_REGISTRY_ACCESS);
        }
        if (os == OS_WINNT4) {
            Fail("Could not open OS winNT for products driver exceptions", ERR_REGISTRY_ACCESS);
        }
        Fail("Could not open OS win98 for products driver exceptions",
             lookup == Lookup::DriverType ? ERR_REGISTRY_ACCESS : ERR_DRIVER_FAILURE);
    }
    if (!m_Os.QueryCounts(nullptr, nullptr)) {
        Fail("Could not get info about number of HA Driver exceptions", ERR_REGISTRY_ACCESS);
    }
}

void Walk::Close()
{
    if (m_Os.Close() != ERROR_SUCCESS) {
        Fail("Could not close OS Driver exceptions");
    }
    if (m_Exceptions.Close() != ERROR_SUCCESS) {
        Fail("Could not close Driver exceptions");
    }
    if (m_Product.Close() != ERROR_SUCCESS) {
        Fail("Could not close (ProductRunning) reg key");
    }
    if (m_Orb.Close() != ERROR_SUCCESS) {
        Fail("Could not close SOFTWARE\\Orb");
    }
}

}  // namespace product_config
