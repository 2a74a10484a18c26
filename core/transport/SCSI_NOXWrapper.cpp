#include "core/transport/SCSI_NOXWrapper.h"

#include "core/log/GTrace.h"
#include "core/transport/ErrorTable.h"
#include "core/types/StringPrintf.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

template class CSharedScsiDriver<SCSI_NOXWrapper>;

namespace {

constexpr unsigned long kTraceLevel = 0x20000;
constexpr std::size_t kMaxName = 16;
constexpr DWORD kMaxRegistryBytes = 255;
constexpr int kNarrowTargets = 16;
constexpr int kWideTargets = 32;
constexpr int kNoInitiator = 255;
constexpr DWORD kNoAdapter = 0xFFFFFFFF;

constexpr std::int32_t Key(DWORD code)
{
    return static_cast<std::int32_t>(code);
}

constexpr ERR_XTBL kStatusTable[] = {
    {0, ERR_CMD_PENDING},
    {1, ERR_NONE},
    {2, ERR_CMD_ABORTED},
    {Key(0x8000000B), ERR_CMD_ABORTED},
    {3, ERR_ABORT_FAILED},
    {4, ERR_CHECK_CONDITION},
    {5, ERR_DEVICE_BUSY},
    {6, ERR_INVALID_REQUEST},
    {7, ERR_INVALID_PATH_ID},
    {8, ERR_NO_DEVICE},
    {Key(0x80000008), ERR_NO_DEVICE},
    {9, ERR_TIMEOUT},
    {10, ERR_SELECTION_TIMEOUT},
    {11, ERR_COMMAND_TIMEOUT},
    {Key(0x8000000C), ERR_COMMAND_TIMEOUT},
    {13, ERR_MESSAGE_REJECTED},
    {14, ERR_BUS_RESET},
    {15, ERR_PARITY},
    {16, ERR_REQSENSE_FAILED},
    {17, ERR_NO_HOST_ADAPTER},
    {18, ERR_DATA_OVERRUN},
    {19, ERR_UNEXPECTED_BUS_FREE},
    {20, ERR_PHASE_SEQUENCE},
    {21, ERR_BAD_SRB_LENGTH},
    {22, ERR_REQUEST_FLUSHED},
    {32, ERR_INVALID_LUN},
    {33, ERR_INVALID_TARGET},
    {34, ERR_BAD_FUNCTION},
    {35, ERR_ERROR_RECOVERY},
    {Key(0x80000002), ERR_NOT_INITIALIZED},
    {Key(0x80000004), ERR_NO_RESOURCE},
    {Key(0x80000005), ERR_DRIVER_FAILURE},
    {Key(0x80000006), ERR_SK_ILLEGAL_REQUEST},
    {Key(0x80000009), ERR_INVALID_PARAM},
    {Key(0x8000000A), ERR_NOX_5},
    {Key(0x8000000D), ERR_NOX_6},
    {Key(0x8000000E), ERR_NO_MEMORY},
    {Key(0x8000000F), ERR_DEVICE_REPORTED},
};

// Driver families whose library geometry needs correcting.
struct Correction_s {
    const char* Prefix;
    bool FibreLoop;     // no initiator ID, one bus fewer, 31 targets, paths from 1
    int TargetsPerBus;  // for the others: one bus of this many targets
};

constexpr Correction_s kCorrections[] = {
    {"lp6n", true, 31}, {"lp3n", true, 31},       {"lp7n", true, 31},     {"elxs", true, 31},
    {"OrbLPx", true, 31}, {"adpu160m", false, 16}, {"ql12160", false, 16}, {"sparrow", false, 8},
};

std::string ReadPortValue(int port, const char* valueName)
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
    return std::string(value, std::min(length, kMaxName));
}

bool ContainsPseudo(const char* name, std::size_t size)
{
    std::string lowered(name, strnlen(name, size));
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered.find("pseudo") != std::string::npos;
}

HANDLE AsHandle(DWORD handle)
{
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle));
}

// A list of 32-bit count and entries, read in two calls. False unless the
// library answered as it must, and never reads past what it returned.
template <class Entry, class Call>
bool ReadList(Call call, std::vector<BYTE>* bytes, std::vector<Entry>* entries)
{
    DWORD size = 0;
    if (call(nullptr, &size) != nox_code::MORE_DATA || size < sizeof(DWORD)) {
        return false;
    }
    bytes->assign(size, 0);
    if (call(bytes->data(), &size) != nox_code::DONE) {
        return false;
    }
    DWORD count = 0;
    std::memcpy(&count, bytes->data(), sizeof count);
    const std::size_t fits = (std::min<std::size_t>(size, bytes->size()) - sizeof count) / sizeof(Entry);
    entries->resize(std::min<std::size_t>(count, fits));
    if (!entries->empty()) {
        std::memcpy(entries->data(), bytes->data() + sizeof count, entries->size() * sizeof(Entry));
    }
    return true;
}

}  // namespace

SCSI_NOXWrapper::SCSI_NOXWrapper()
{
    Init();
}

SCSI_NOXWrapper::~SCSI_NOXWrapper()
{
    Free();
}

Error_t SCSI_NOXWrapper::Translate(DWORD code)
{
    Error_t result = ERR_NO_TRANSLATION;
    for (const ERR_XTBL& row : kStatusTable) {
        if (row.key == Key(code)) {
            result = row.result;
            break;
        }
    }
    return result;
}

void SCSI_NOXWrapper::ApplyDriverCorrections(Adapter_s* adapter)
{
    for (const Correction_s& correction : kCorrections) {
        if (strncasecmp(adapter->DriverName.c_str(), correction.Prefix, std::strlen(correction.Prefix)) != 0) {
            continue;
        }
        if (correction.FibreLoop) {
            adapter->InitiatorId = kNoInitiator;
            adapter->Buses = std::max(adapter->Buses - 1, 0);
            adapter->BasePath = 1;
        } else {
            adapter->Buses = 1;
        }
        adapter->TargetsPerBus = correction.TargetsPerBus;
        return;
    }
}

Error_t SCSI_NOXWrapper::Init()
{
    GTrace trace(kTraceLevel, "SCSI_NOXWrapper: Init");
    std::lock_guard guard(m_Lock);
    if (m_Module != nullptr) {
        return ERR_ALREADY_INITIALIZED;
    }
    m_Module = LoadLibraryA("NOXCOMM.DLL");
    if (m_Module == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    if (!LookUpFunctions()) {
        return ERR_DRIVER_FAILURE;
    }
    if (m_Lib.InitLibrary() != nox_code::DONE) {
        return ERR_NONE;
    }
    ListAdapters();
    ListDevices();  // an unreadable list leaves the adapters without devices
    return ERR_NONE;
}

bool SCSI_NOXWrapper::LookUpFunctions()
{
    Library_s lib;
    const auto find = [this](const char* name, auto* slot) {
        *slot = reinterpret_cast<std::remove_pointer_t<decltype(slot)>>(GetProcAddress(m_Module, name));
        return *slot != nullptr;
    };
    if (!find("NoxInitLibrary", &lib.InitLibrary) || !find("NoxHaEnum", &lib.HaEnum) ||
        !find("NoxGetCompletion", &lib.GetCompletion) || !find("NoxExecuteIOCmd", &lib.ExecuteIOCmd) ||
        !find("NoxEnumerate", &lib.Enumerate) || !find("NoxRefresh", &lib.Refresh) ||
        !find("NoxBufferGet", &lib.BufferGet) || !find("NoxBufferRelease", &lib.BufferRelease) ||
        !find("NoxBufferReleaseAll", &lib.BufferReleaseAll) || !find("NoxBufferGetStats", &lib.BufferGetStats)) {
        return false;
    }
    m_Lib = lib;
    return true;
}

void SCSI_NOXWrapper::ListAdapters()
{
    std::vector<NoxAdapterEntry_s> entries;
    const auto call = [this](void* buffer, DWORD* size) { return m_Lib.HaEnum(buffer, size); };
    if (!ReadList(call, &m_AdapterList, &entries)) {
        return;
    }
    m_Adapters.clear();
    for (const NoxAdapterEntry_s& entry : entries) {
        if (entry.Hidden != 0) {
            continue;
        }
        Adapter_s adapter;
        adapter.AdapterId = entry.AdapterId;
        adapter.InitiatorId = entry.InitiatorId;
        adapter.Byte1 = entry.Byte1;
        adapter.Byte2 = entry.Byte2;
        adapter.Value1 = entry.Value1;
        adapter.Value2 = entry.Value2;
        adapter.PortNumber = static_cast<int>(entry.PortNumber);
        adapter.Buses = entry.Buses;
        adapter.TargetsPerBus = entry.InitiatorId < kNarrowTargets ? kNarrowTargets : kWideTargets;
        adapter.DeviceName = ReadPortValue(adapter.PortNumber, "DeviceName");
        adapter.DriverName = ReadPortValue(adapter.PortNumber, "Driver");
        ApplyDriverCorrections(&adapter);
        m_Adapters.push_back(adapter);
        m_Lib.Refresh(adapter.AdapterId);
    }
}

Error_t SCSI_NOXWrapper::ListDevices()
{
    std::vector<BYTE> bytes;
    std::vector<NoxDeviceEntry_s> entries;
    const auto call = [this](void* buffer, DWORD* size) { return m_Lib.Enumerate(buffer, size); };
    if (!ReadList(call, &bytes, &entries)) {
        return ERR_DRIVER_FAILURE;
    }
    m_Devices.clear();
    for (const NoxDeviceEntry_s& entry : entries) {
        if (ContainsPseudo(entry.Name, sizeof entry.Name)) {
            continue;
        }
        Device_s device;
        device.Name.assign(entry.Name, strnlen(entry.Name, sizeof entry.Name));
        device.Handle = entry.Handle;
        const auto adapter = std::find_if(m_Adapters.begin(), m_Adapters.end(),
                                          [&](const Adapter_s& a) { return a.AdapterId == entry.AdapterId; });
        device.PortNumber = adapter != m_Adapters.end() ? adapter->PortNumber : -1;
        device.Path = entry.Path;
        device.Target = entry.Target;
        device.Lun = entry.Lun;
        device.Extra = entry.Extra;
        m_Devices.push_back(device);
    }
    return ERR_NONE;
}

const SCSI_NOXWrapper::Adapter_s* SCSI_NOXWrapper::FindAdapterByPort(int port) const
{
    const auto found = std::find_if(m_Adapters.begin(), m_Adapters.end(),
                                    [port](const Adapter_s& a) { return a.PortNumber == (port & 0xFF); });
    return found != m_Adapters.end() ? &*found : nullptr;
}

Error_t SCSI_NOXWrapper::RescanBus(int adapter)
{
    GTrace trace(kTraceLevel, "SCSI_NOXWrapper: RescanBus");
    std::lock_guard guard(m_Lock);
    m_Devices.clear();
    if (!IsReady()) {
        return ERR_DRIVER_FAILURE;
    }
    const Adapter_s* record = FindAdapterByPort(adapter);
    m_Lib.Refresh(record != nullptr ? record->AdapterId : kNoAdapter);
    return ListDevices();
}

Error_t SCSI_NOXWrapper::Send(HANDLE device, void* request)
{
    if (!IsReady()) {
        return ERR_NOT_INITIALIZED;
    }
    const auto handle = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(device));
    return Translate(m_Lib.ExecuteIOCmd(handle, request));
}

bool SCSI_NOXWrapper::WaitDone(void* request)
{
    if (!IsReady()) {
        return false;
    }
    DWORD result = 0;
    do {
        result = m_Lib.GetCompletion(request, 1);
    } while (static_cast<Error_t>(result) == ERR_CMD_PENDING);
    return result != 0;
}

Error_t SCSI_NOXWrapper::GetCompletion(void* request, bool wait)
{
    if (!IsReady()) {
        return ERR_NOT_INITIALIZED;
    }
    return Translate(m_Lib.GetCompletion(request, wait ? 1 : 0));
}

long SCSI_NOXWrapper::AdapterCount()
{
    std::lock_guard guard(m_Lock);
    return static_cast<long>(m_Adapters.size());
}

Error_t SCSI_NOXWrapper::AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString,
                                        std::string* adapterString, long* devsSupported)
{
    std::lock_guard guard(m_Lock);
    if (m_Adapters.empty()) {
        return ERR_DRIVER_NOT_INSTALLED;
    }
    // Adapters are numbered by their device map port, as device addresses are.
    const Adapter_s* record = FindAdapterByPort(adapter);
    if (record == nullptr) {
        return ERR_NO_HOST_ADAPTER;
    }
    *adapterTargetId = record->InitiatorId;
    *managerString = record->DriverName;
    *adapterString = record->DeviceName;
    *devsSupported = static_cast<long>(record->TargetsPerBus) * record->Buses;
    return ERR_NONE;
}

HANDLE SCSI_NOXWrapper::GetDeviceHandle(const CDevAddress& address)
{
    std::lock_guard guard(m_Lock);
    const Adapter_s* adapter = FindAdapterByPort(address.m_HostAdapter);
    if (adapter == nullptr || adapter->TargetsPerBus <= 0 || address.m_Target < 0) {
        return nullptr;
    }
    const int bus = address.m_Target / adapter->TargetsPerBus;
    const int id = address.m_Target % adapter->TargetsPerBus;
    for (const Device_s& device : m_Devices) {
        if (device.PortNumber == adapter->PortNumber && device.Path == bus + adapter->BasePath &&
            device.Target == id && device.Lun == address.m_Lun) {
            return AsHandle(device.Handle);
        }
    }
    return nullptr;
}

Error_t SCSI_NOXWrapper::Free()
{
    std::lock_guard guard(m_Lock);
    if (m_Module == nullptr) {
        return ERR_NOT_INITIALIZED;
    }
    m_Adapters.clear();
    m_Devices.clear();
    m_AdapterList.clear();
    if (auto term = reinterpret_cast<NoxTermLibrary_t>(GetProcAddress(m_Module, "NoxTermLibrary"))) {
        term();
    } else {
        GTrace trace(kTraceLevel, "Can not terminate NOX library");
    }
    FreeLibrary(m_Module);
    m_Module = nullptr;
    m_Lib = Library_s{};
    return ERR_NONE;
}

Error_t SCSI_NOXWrapper::BufferGet(unsigned long size, void** address)
{
    if (!IsReady()) {
        return ERR_NOT_INITIALIZED;
    }
    return Translate(m_Lib.BufferGet(static_cast<DWORD>(size), address));
}

Error_t SCSI_NOXWrapper::BufferRelease(void* address)
{
    if (!IsReady()) {
        return ERR_NOT_INITIALIZED;
    }
    return Translate(m_Lib.BufferRelease(address));
}

Error_t SCSI_NOXWrapper::BufferReleaseAll()
{
    if (!IsReady()) {
        return ERR_NOT_INITIALIZED;
    }
    return Translate(m_Lib.BufferReleaseAll());
}

Error_t SCSI_NOXWrapper::BufferGetStats(NoxBufferStats_s* stats)
{
    *stats = NoxBufferStats_s{};
    if (!IsReady()) {
        return ERR_NOT_INITIALIZED;
    }
    const LONG result = m_Lib.BufferGetStats(stats);
    if (result < 0) {
        *stats = NoxBufferStats_s{};
    }
    return Translate(static_cast<DWORD>(result));
}
