// How the computer system chooses a transport per adapter and the buffer
// manager for the run, from the device map and the product configuration.
#include "core/buffers/AlignedBuffer.h"
#include "core/system/AspiDriverSource.h"
#include "core/system/CComputerSystem.h"
#include "core/system/ProductConfig.h"
#include "core/system/RegKey.h"
#include "core/transport/CScsiDriver.h"
#include "core/types/CEventError.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace {

constexpr DWORD kNameBytes = 260;
constexpr const char* kDeviceMap = "HARDWARE\\DEVICEMAP\\Scsi";
constexpr const char* kNoxParameters = "SYSTEM\\CurrentControlSet\\Services\\noxclass\\Parameters";
constexpr REGSAM kCreateAccess = 0x2001F;
// The Nox driver's pool when nobody has sized it: room for many 64 KiB transfers in flight.
constexpr long kNoxBufferBytes = 16 * 1024 * 1024;

[[noreturn]] void Fail(const char* text, Error_t code = ERR_DRIVER_FAILURE)
{
    throw new CEventError(text, code);
}

std::string Lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool IsIdePort(const std::string& driverName)
{
    const std::string lowered = Lowered(driverName);
    return lowered.find("atapi") != std::string::npos || lowered.find("esdi") != std::string::npos;
}

// One value of a key: its name and, when it fits, its data.
struct ValueEntry {
    LSTATUS Status;
    std::string Name;
    DWORD Type = REG_NONE;
    BYTE Data[kNameBytes] = {};
    DWORD DataSize = kNameBytes;
};

ValueEntry EnumValue(HKEY key, DWORD index, DWORD dataBytes)
{
    ValueEntry entry{};
    char name[kNameBytes] = {};
    DWORD nameSize = kNameBytes;
    entry.DataSize = dataBytes;
    entry.Status = RegEnumValueA(key, index, name, &nameSize, nullptr, &entry.Type, entry.Data, &entry.DataSize);
    entry.Name.assign(name, strnlen(name, kNameBytes));
    return entry;
}

std::string StringData(const ValueEntry& entry)
{
    const char* text = reinterpret_cast<const char*>(entry.Data);
    return std::string(text, strnlen(text, std::min<DWORD>(entry.DataSize, kNameBytes)));
}

bool SameName(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

// The DWORD of a value the lookup matched; anything else is refused so that a
// mistyped value never picks a transport by accident.
DWORD DwordData(const ValueEntry& entry)
{
    if (entry.Status != ERROR_SUCCESS || entry.Type != REG_DWORD || entry.DataSize != sizeof(DWORD)) {
        throw new CEventError("Driver exceptions value \"" + entry.Name + "\" is not a DWORD", ERR_REGISTRY_ACCESS);
    }
    DWORD value = 0;
    std::memcpy(&value, entry.Data, sizeof value);
    return value;
}

// A Nox port needs its class driver's pool sized; a size already set is the user's.
void EnsureNoxBufferSize()
{
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kNoxParameters) == ERROR_SUCCESS &&
        RegQueryValueExA(key.Get(), "BufferSize", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
        return;
    }
    CComputerSystem::ChangeNOXMemorySize(kNoxBufferBytes);
}

}  // namespace

Error_t CComputerSystem::InitializeHADriverTypes(Driver_t requested)
{
    m_HADriverTypes.clear();
    m_RaidChannels.clear();
    long total = 0;
    long raid = 0;
    if (IsNtFamily(m_OsType)) {
        GetHAList(total, raid, requested);
    } else if (IsWin9xFamily(m_OsType)) {
        ListWin9xAdapters();
        total = static_cast<long>(m_HADriverTypes.size());
    }
    m_NumHAs = total;
    m_NumRAIDChannels = raid;
    return ERR_NONE;
}

void CComputerSystem::ListWin9xAdapters()
{
    CScsiDriver* aspi = AcquireAspiDriver();
    if (aspi == nullptr) {
        throw new CEventError("Driver is not installed correctly", ERR_DRIVER_NOT_INSTALLED);
    }
    const long count = aspi->AdapterCount();
    for (long adapter = 0; adapter < count; ++adapter) {
        int targetId = -1;
        std::string manager;
        std::string name;
        long devices = 0;
        aspi->AdapterInquiry(static_cast<int>(adapter), &targetId, &manager, &name, &devices);
        m_HADriverTypes.push_back(IsIdePort(manager) || IsIdePort(name) ? DRV_IDE : DRV_ASPI);
    }
    aspi->Release();
}

Error_t CComputerSystem::GetHAList(long& total, long& raidChannels, Driver_t requested)
{
    try {
        RegKey map;
        if (map.Open(HKEY_LOCAL_MACHINE, kDeviceMap) != ERROR_SUCCESS) {
            Fail("Could not open registry key HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\Scsi");
        }
        DWORD ports = 0;
        if (!map.QueryCounts(&ports, nullptr)) {
            Fail("Could not query Scsi key for number of subkeys (Ports)");
        }
        for (DWORD position = 0; position < ports; ++position) {
            char portName[kNameBytes] = {};
            DWORD portNameSize = kNameBytes;
            if (RegEnumKeyExA(map.Get(), position, portName, &portNameSize, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                Fail("Could not enumerate key for HA name");
            }
            RegKey port;
            if (port.Open(map.Get(), portName) != ERROR_SUCCESS) {
                Fail("Could not open Port key");
            }
            DWORD values = 0;
            if (!port.QueryCounts(nullptr, &values)) {
                Fail("Could not query Port key for driver value");
            }
            for (DWORD index = 0; index < values; ++index) {
                const ValueEntry entry = EnumValue(port.Get(), index, kNameBytes);
                const bool isDriver = entry.Name.find("Driver") != std::string::npos;
                if (entry.Status == ERROR_MORE_DATA && !isDriver) {
                    continue;  // some other long value of the port
                }
                if (entry.Status != ERROR_SUCCESS || (isDriver && entry.Type != REG_SZ)) {
                    Fail("Could not query Port key for driver value");
                }
                if (!isDriver) {
                    continue;
                }
                const std::string driverName = StringData(entry);
                Driver_t type = requested;
                if (IsIdePort(driverName)) {
                    type = DRV_IDE;
                } else if (requested == DRV_DEFAULT) {
                    std::string name = driverName;
                    type = GetDriverType(name.data());
                }
                if (m_HADriverTypes.size() <= position) {
                    // A port without a driver value gets no adapter.
                    m_HADriverTypes.resize(position + 1, DRV_NONE);
                }
                m_HADriverTypes[position] = type;
                if (type == DRV_NOX) {
                    EnsureNoxBufferSize();
                }
                if (type == DRV_AMIRAID) {
                    DWORD channels = 0;
                    if (!port.QueryCounts(&channels, nullptr)) {
                        Fail("Could not query port key for num channels");
                    }
                    for (DWORD channel = 0; channel < channels; ++channel) {
                        m_RaidChannels.push_back({static_cast<std::int32_t>(position),
                                                  static_cast<std::int32_t>(channel), DRV_AMIRAID_CHANNEL});
                    }
                }
            }
            if (port.Close() != ERROR_SUCCESS) {
                Fail("Could not close HA key");
            }
        }
        if (map.Close() != ERROR_SUCCESS) {
            Fail("Could not close ScsiAdapter key");
        }
    } catch (CEventBase*) {
        throw;
    } catch (...) {
        Fail("Unexpected Registry function exception caught in GetHAList");
    }
    raidChannels = static_cast<long>(m_RaidChannels.size());
    total = static_cast<long>(m_HADriverTypes.size()) + raidChannels;
    return ERR_NONE;
}

Driver_t CComputerSystem::GetDriverType(char* driverName)
{
    try {
        product_config::Walk walk(m_ProductRunning, m_OsType, product_config::Lookup::DriverType);
        DWORD result = DRV_DEFAULT;
        for (DWORD index = 0;; ++index) {
            const ValueEntry entry = EnumValue(walk.OsKey(), index, sizeof(DWORD));
            if (entry.Status == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (entry.Status != ERROR_SUCCESS && entry.Status != ERROR_MORE_DATA) {
                Fail("Could not get info about number of HA Driver exceptions", ERR_REGISTRY_ACCESS);
            }
            // The driver's own value wins over the default wherever it stands.
            if (driverName != nullptr && SameName(entry.Name, driverName)) {
                result = DwordData(entry);
                break;
            }
            if (SameName(entry.Name, product_config::kDefaultDriverValue)) {
                result = DwordData(entry);
            }
        }
        if (result == DRV_DEFAULT) {
            Fail("Did not find DefaultDriver value, nor specific driver for the HA", ERR_NO_DRIVER_CONFIGURED);
        }
        walk.Close();
        return static_cast<Driver_t>(result);
    } catch (CEventBase*) {
        throw;
    } catch (...) {
        Fail("Unexpected Registry function exception caught in GetDriverType");
    }
}

BufferMgr_t CComputerSystem::GetBufMgrType()
{
    try {
        product_config::Walk walk(m_ProductRunning, m_OsType, product_config::Lookup::BufferMgr);
        DWORD result = BUFMGR_DEFAULT;
        for (DWORD index = 0;; ++index) {
            const ValueEntry entry = EnumValue(walk.OsKey(), index, sizeof(DWORD));
            if (entry.Status == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (entry.Status != ERROR_SUCCESS && entry.Status != ERROR_MORE_DATA) {
                Fail("Could not get info about number of HA Driver exceptions", ERR_REGISTRY_ACCESS);
            }
            if (SameName(entry.Name, product_config::kBufferMgrValue)) {
                result = DwordData(entry);
                break;
            }
        }
        if (result == BUFMGR_DEFAULT) {
            Fail("Could not find BufferMgr Value in registry", ERR_NO_BUFFERMGR_VALUE);
        }
        walk.Close();
        return static_cast<BufferMgr_t>(result);
    } catch (CEventBase*) {
        throw;
    } catch (...) {
        Fail("Unexpected Registry function exception caught in GetBufMgrType");
    }
}

Error_t CComputerSystem::SetupBufferMgr(BufferMgr_t requested)
{
    BufferMgr_t chosen = BUFMGR_DEFAULT;
    if (IsNtFamily(m_OsType)) {
        chosen = requested == BUFMGR_DEFAULT ? GetBufMgrType() : requested;
    } else if (IsWin9xFamily(m_OsType)) {
        chosen = requested == BUFMGR_DEFAULT ? BUFMGR_ASPI : requested;
    }
    return AlignedBuffer::RegisterBufferMgr(chosen);
}

Error_t CComputerSystem::ChangeNOXMemorySize(long size)
{
    RegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kNoxParameters, kCreateAccess) != ERROR_SUCCESS &&
        key.Create(HKEY_LOCAL_MACHINE, kNoxParameters, kCreateAccess) != ERROR_SUCCESS) {
        return ERR_DRIVER_NOT_INSTALLED;
    }
    const DWORD value = static_cast<DWORD>(size);
    const LSTATUS written =
        RegSetValueExA(key.Get(), "BufferSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    key.Close();
    // A size that never reached the registry must not look saved.
    return written == ERROR_SUCCESS ? ERR_NONE : ERR_REGISTRY_ACCESS;
}
