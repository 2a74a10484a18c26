#include "core/transport/CNTPortDriver.h"

#include "core/types/StringPrintf.h"
#include "platform/Files.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

template class CSharedScsiDriver<CNTPortDriver>;

namespace {

// Port numbers Windows hands out; also bounds a walk over a machine whose
// every name opens.
constexpr int kMaxPorts = 256;
// Class numbers run past the port units only by devices of other buses.
constexpr int kMaxOtherClassDevices = 256;
constexpr DWORD kBusListBytes = 20480;
constexpr DWORD kMaxBusListBytes = kBusListBytes << 6;
constexpr DWORD kRescanBytes = 2048;
constexpr DWORD kMaxRegistryBytes = 255;
constexpr int kMaxLun = 255;

// Claimed units are reached through the class driver that owns them.
constexpr const char* kClassNames[] = {"PhysicalDrive", "Tape", "MediaChanger", "CdRom"};

constexpr BYTE kStatusCheckCondition = 0x02;
constexpr BYTE kStatusBusy = 0x08;
constexpr BYTE kStatusQueueFull = 0x28;

HANDLE OpenDevice(const std::string& name)
{
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

HANDLE OpenPort(int port)
{
    return OpenDevice(StringPrintf("\\\\.\\SCSI%d:", port));
}

// The port's bus list, cut to the bytes it returned; false when refused.
// A list too long for the buffer is asked for again with a larger one, as
// Windows' own callers do.
bool ReadBusList(HANDLE port, std::vector<BYTE>& bytes)
{
    for (DWORD size = kBusListBytes; size <= kMaxBusListBytes; size *= 2) {
        bytes.assign(size, 0);
        DWORD returned = 0;
        if (DeviceIoControl(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, bytes.data(), size, &returned, nullptr)) {
            bytes.resize(std::min(returned, size));
            return true;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER && GetLastError() != ERROR_MORE_DATA) {
            return false;
        }
    }
    return false;
}

// The port's MaximumTransferLength; 0 when it does not answer.
unsigned long ReadMaxTransfer(HANDLE port)
{
    IO_SCSI_CAPABILITIES capabilities{};
    DWORD returned = 0;
    const BOOL answered = DeviceIoControl(port, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &capabilities,
                                          sizeof capabilities, &returned, nullptr);
    return answered && returned >= offsetof(IO_SCSI_CAPABILITIES, MaximumPhysicalPages)
               ? capabilities.MaximumTransferLength
               : 0;
}

std::string ReadPortName(int port, const char* valueName)
{
    HKEY key = nullptr;
    const std::string path = StringPrintf("HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", port);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    char value[kMaxRegistryBytes + 1] = {};
    DWORD size = kMaxRegistryBytes;
    DWORD type = 0;
    const LSTATUS result = RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        return {};
    }
    const std::size_t length = strnlen(value, std::min<std::size_t>(size, kMaxRegistryBytes));
    return std::string(value, std::min(length, NTPortAdapter_s::MAX_NAME));
}

bool IsGoodStatus(BYTE status)
{
    // GOOD, CONDITION MET, INTERMEDIATE, INTERMEDIATE-CONDITION MET
    return status == 0x00 || status == 0x04 || status == 0x10 || status == 0x14;
}

}  // namespace

CNTPortDriver::CNTPortDriver()
{
    Init();
}

CNTPortDriver::~CNTPortDriver()
{
    Free();
}

Error_t CNTPortDriver::Init()
{
    std::lock_guard guard(m_Lock);
    FreeLocked();
    // Opening each port once wakes port drivers that start on first use.
    for (int port = 0; port < kMaxPorts; ++port) {
        if (HANDLE handle = OpenPort(port)) {
            CloseHandle(handle);
        }
    }
    try {
        EnumeratePorts();
        for (int port = 0; port < static_cast<int>(m_Adapters.size()); ++port) {
            bool listed = false;
            AddUnits(ListPortUnits(port, &listed));
        }
    } catch (const std::bad_alloc&) {
        FreeLocked();  // no room for a bus list: no ports at all
    }
    OpenHandles();
    return m_Adapters.empty() ? ERR_NO_HOST_ADAPTER : ERR_NONE;
}

void CNTPortDriver::EnumeratePorts()
{
    std::vector<BYTE> bytes;
    for (int port = 0; port < kMaxPorts; ++port) {
        HANDLE handle = OpenPort(port);
        if (handle == nullptr) {
            return;
        }
        const bool listed = ReadBusList(handle, bytes);
        const unsigned long maxTransfer = ReadMaxTransfer(handle);
        CloseHandle(handle);
        if (!listed) {
            return;
        }
        const NTPortBusList_s list = ParseBusList(bytes.data(), bytes.size());
        NTPortAdapter_s adapter;
        adapter.DeviceName = ReadPortName(port, "DeviceName");
        adapter.DriverName = ReadPortName(port, "Driver");
        const int initiator = list.Buses.empty() ? NTPortAdapter_s::NO_INITIATOR : list.Buses[0].InitiatorBusId;
        SetReportedGeometry(adapter, static_cast<int>(list.Buses.size()), initiator);
        for (const NTPortBus_s& bus : list.Buses) {
            adapter.LogicalUnits += bus.LogicalUnits;
        }
        ApplyDriverNameCorrections(adapter);
        adapter.MaxTransferBytes = maxTransfer;
        m_Adapters.push_back(adapter);
    }
}

std::vector<CNTPortDriver::Unit_s> CNTPortDriver::ListPortUnits(int port, bool* listed) const
{
    std::vector<Unit_s> units;
    HANDLE handle = OpenPort(port);
    if (handle == nullptr) {
        *listed = false;
        return units;
    }
    std::vector<BYTE> bytes;
    *listed = ReadBusList(handle, bytes);
    CloseHandle(handle);
    if (!*listed) {
        return units;
    }
    for (const NTPortUnit_s& unit : ParseBusList(bytes.data(), bytes.size()).Units) {
        units.push_back({unit, port, nullptr});
    }
    return units;
}

CNTPortDriver::UnitKey CNTPortDriver::KeyOf(int port, const NTPortUnit_s& where)
{
    return {port, where.PathId, where.TargetId, where.Lun};
}

void CNTPortDriver::AddUnits(const std::vector<Unit_s>& units)
{
    for (const Unit_s& unit : units) {
        m_Units.emplace(KeyOf(unit.Port, unit.Unit), unit);
    }
}

void CNTPortDriver::OpenHandles()
{
    bool claimedWaiting = false;
    for (auto& [key, unit] : m_Units) {
        if (unit.Handle != nullptr) {
            continue;
        }
        if (unit.Unit.Claimed) {
            claimedWaiting = true;
        } else {
            unit.Handle = OpenPort(unit.Port);
        }
    }
    if (claimedWaiting) {
        OpenClaimedUnits();
    }
}

// Each claimed unit opens the class device learnt for it. A unit missing from
// what was learnt, or whose class device now holds another unit, walks the
// class devices again, once a call: a walk costs every class device, and the
// adapters' start-up rescans would otherwise make it one walk a port.
void CNTPortDriver::OpenClaimedUnits()
{
    bool walked = false;
    for (auto& [key, unit] : m_Units) {
        if (!unit.Unit.Claimed || unit.Handle != nullptr) {
            continue;
        }
        const auto name = m_ClassNames.find(key);
        if (name != m_ClassNames.end() && OpenClassDevice(key, unit, name->second)) {
            continue;
        }
        if (!walked) {
            WalkClassDevices();
            walked = true;
        }
    }
}

// Opens every class device, learns the unit each holds and gives its handle
// to that unit when it still waits for one.
void CNTPortDriver::WalkClassDevices()
{
    m_ClassNames.clear();
    const int entries = static_cast<int>(m_Units.size());
    for (const char* className : kClassNames) {
        for (int index = 0; index < entries + kMaxOtherClassDevices; ++index) {
            const std::string name = StringPrintf("\\\\.\\%s%d", className, index);
            HANDLE handle = OpenDevice(name);
            if (handle == nullptr) {
                if (index >= entries) {
                    break;
                }
                continue;
            }
            SCSI_ADDRESS address{};
            DWORD returned = 0;
            Unit_s* owner = nullptr;
            if (DeviceIoControl(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned,
                                nullptr) &&
                returned >= sizeof address) {
                NTPortUnit_s where;
                where.PathId = address.PathId;
                where.TargetId = address.TargetId;
                where.Lun = address.Lun;
                m_ClassNames.emplace(KeyOf(address.PortNumber, where), name);
                owner = FindUnit(address.PortNumber, where, true);
            }
            if (owner != nullptr) {
                owner->Handle = handle;
            } else {
                CloseHandle(handle);
            }
        }
    }
}

// Opens name for the unit at key, unless it now holds another unit.
bool CNTPortDriver::OpenClassDevice(const UnitKey& key, Unit_s& unit, const std::string& name)
{
    HANDLE handle = OpenDevice(name);
    if (handle == nullptr) {
        return false;
    }
    SCSI_ADDRESS address{};
    DWORD returned = 0;
    if (DeviceIoControl(handle, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned, nullptr) &&
        returned >= sizeof address &&
        UnitKey{address.PortNumber, address.PathId, address.TargetId, address.Lun} == key) {
        unit.Handle = handle;
        return true;
    }
    CloseHandle(handle);
    return false;
}

CNTPortDriver::Unit_s* CNTPortDriver::FindUnit(int port, const NTPortUnit_s& where, bool claimedWithoutHandle)
{
    const auto [first, last] = m_Units.equal_range(KeyOf(port, where));
    for (auto it = first; it != last; ++it) {
        Unit_s& unit = it->second;
        if (!claimedWithoutHandle || (unit.Unit.Claimed && unit.Handle == nullptr)) {
            return &unit;
        }
    }
    return nullptr;
}

void CNTPortDriver::DropPortUnits(int port)
{
    const auto first = m_Units.lower_bound(UnitKey{port, 0, 0, 0});
    const auto last = m_Units.lower_bound(UnitKey{port + 1, 0, 0, 0});
    for (auto it = first; it != last; ++it) {
        if (it->second.Handle != nullptr) {
            CloseHandle(it->second.Handle);
        }
    }
    m_Units.erase(first, last);
}

Error_t CNTPortDriver::RescanBus(int adapter)
{
    if (adapter < 0 || adapter >= AdapterCount()) {
        return ERR_NO_HOST_ADAPTER;
    }
    HANDLE port = OpenPort(adapter);
    if (port == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    const unsigned long maxTransfer = ReadMaxTransfer(port);
    std::vector<BYTE> rescanAnswer(kRescanBytes);
    DWORD returned = 0;
    const BOOL rescanned = DeviceIoControl(port, IOCTL_SCSI_RESCAN_BUS, nullptr, 0, rescanAnswer.data(), kRescanBytes,
                                           &returned, nullptr);
    CloseHandle(port);
    if (!rescanned) {
        return ERR_DRIVER_FAILURE;
    }
    // List before dropping, so a port that stops answering keeps what it had.
    bool listed = false;
    std::vector<Unit_s> units = ListPortUnits(adapter, &listed);
    if (!listed) {
        return ERR_DRIVER_FAILURE;
    }
    std::lock_guard guard(m_Lock);
    m_Adapters[static_cast<std::size_t>(adapter)].MaxTransferBytes = maxTransfer;
    DropPortUnits(adapter);
    AddUnits(units);
    OpenHandles();
    return ERR_NONE;
}

Error_t CNTPortDriver::Send(HANDLE device, void* request)
{
    if (request == nullptr) {
        return ERR_INVALID_PARAM;
    }
    auto* ntRequest = static_cast<NTPortRequest_s*>(request);
    DWORD returned = 0;
    if (DeviceIoControl(device, IOCTL_SCSI_PASS_THROUGH_DIRECT, ntRequest, sizeof *ntRequest, ntRequest,
                        sizeof *ntRequest, &returned, nullptr)) {
        ntRequest->DeliveryState = NTPortRequest_s::DELIVERY_SENT;
        ntRequest->DeliveryDetail = NTPortRequest_s::DETAIL_OK;
        return ERR_NONE;
    }
    ntRequest->DeliveryState = NTPortRequest_s::DELIVERY_FAILED;
    ntRequest->DeliveryDetail = GetLastError();
    return ERR_DRIVER_IO;
}

bool CNTPortDriver::WaitDone(void*)
{
    return true;
}

Error_t CNTPortDriver::GetCompletion(void* request, bool)
{
    if (request == nullptr) {
        return ERR_INVALID_PARAM;
    }
    return CompletionStatus(*static_cast<const NTPortRequest_s*>(request));
}

Error_t CNTPortDriver::CompletionStatus(const NTPortRequest_s& request)
{
    const BYTE status = request.Spt.ScsiStatus;
    if (status == kStatusCheckCondition) {
        return ERR_CHECK_CONDITION;
    }
    if (request.DeliveryDetail != NTPortRequest_s::DETAIL_OK) {
        return ERR_DRIVER_IO;
    }
    // A delivered request whose target did not end it well is no success.
    if (status == kStatusBusy || status == kStatusQueueFull) {
        return ERR_DEVICE_BUSY;
    }
    return IsGoodStatus(status) ? ERR_NONE : ERR_DRIVER_FAILURE;
}

long CNTPortDriver::AdapterCount()
{
    std::lock_guard guard(m_Lock);
    return static_cast<long>(m_Adapters.size());
}

Error_t CNTPortDriver::AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString,
                                      std::string* adapterString, long* devsSupported)
{
    std::lock_guard guard(m_Lock);
    if (adapter < 0 || adapter >= static_cast<int>(m_Adapters.size())) {
        return ERR_NO_HOST_ADAPTER;
    }
    const NTPortAdapter_s& record = m_Adapters[static_cast<std::size_t>(adapter)];
    if (adapterTargetId != nullptr) {
        *adapterTargetId = record.InitiatorId;
    }
    if (managerString != nullptr) {
        *managerString = record.DriverName;
    }
    if (adapterString != nullptr) {
        *adapterString = record.DeviceName;
    }
    if (devsSupported != nullptr) {
        *devsSupported = static_cast<long>(record.Buses) * record.TargetsPerBus;
    }
    return ERR_NONE;
}

unsigned long CNTPortDriver::MaxTransferBytes(int adapter)
{
    std::lock_guard guard(m_Lock);
    if (adapter < 0 || adapter >= static_cast<int>(m_Adapters.size())) {
        return 0;
    }
    return m_Adapters[static_cast<std::size_t>(adapter)].MaxTransferBytes;
}

Error_t CNTPortDriver::MapAddress(const CDevAddress& address, NTPortPath_s* path)
{
    std::lock_guard guard(m_Lock);
    if (address.m_HostAdapter < 0 || address.m_HostAdapter >= static_cast<int>(m_Adapters.size())) {
        return ERR_NO_HOST_ADAPTER;
    }
    const auto mapped = MapTarget(m_Adapters[static_cast<std::size_t>(address.m_HostAdapter)], address.m_Target);
    if (!mapped) {
        return ERR_INVALID_TARGET;
    }
    if (address.m_Lun < 0 || address.m_Lun > kMaxLun) {
        return ERR_INVALID_LUN;
    }
    *path = *mapped;
    return ERR_NONE;
}

HANDLE CNTPortDriver::GetDeviceHandle(const CDevAddress& address)
{
    NTPortPath_s path{};
    if (MapAddress(address, &path) != ERR_NONE) {
        return nullptr;
    }
    NTPortUnit_s where;
    where.PathId = path.PathId;
    where.TargetId = path.TargetId;
    where.Lun = static_cast<UCHAR>(address.m_Lun);
    std::lock_guard guard(m_Lock);
    const Unit_s* unit = FindUnit(address.m_HostAdapter, where, false);
    return unit != nullptr ? unit->Handle : nullptr;
}

Error_t CNTPortDriver::Free()
{
    std::lock_guard guard(m_Lock);
    FreeLocked();
    return ERR_NONE;
}

void CNTPortDriver::FreeLocked()
{
    for (const auto& [key, unit] : m_Units) {
        if (unit.Handle != nullptr) {
            CloseHandle(unit.Handle);
        }
    }
    m_Units.clear();
    m_ClassNames.clear();
    m_Adapters.clear();
}
