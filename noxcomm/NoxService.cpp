#include "noxcomm/NoxService.h"

#include "platform/Files.h"
#include "platform/Handle.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

namespace {

constexpr int kWorkers = 4;
constexpr DWORD kPortListBytes = 4 + 256 * sizeof(harrow::machine::NoxPortEntry);
constexpr DWORD kBusListBytes = 65536;
constexpr DWORD kInquiryBytes = 36;
constexpr const char* kParameters = "SYSTEM\\CurrentControlSet\\Services\\noxclass\\Parameters";
constexpr DWORD kDefaultPoolBytes = 16 * 1024 * 1024;
constexpr std::size_t kBufferAlignment = 4096;
constexpr ULONG kMaxTimeout = 108000;
constexpr const char* kPseudoName = "NOX PSEUDO DEVICE";
constexpr BYTE kPseudoType = 0x1F;

constexpr BYTE kStatusGood = 0x00;
constexpr BYTE kStatusCheckCondition = 0x02;
constexpr BYTE kStatusBusy = 0x08;
constexpr BYTE kStatusQueueFull = 0x28;

HANDLE OpenDevice(const std::string& name)
{
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

template <class T>
T ReadAt(const std::vector<BYTE>& data, std::size_t offset)
{
    T value{};
    if (offset <= data.size() && sizeof value <= data.size() - offset) {
        std::memcpy(&value, data.data() + offset, sizeof value);
    }
    return value;
}

// "VENDOR PRODUCT" from standard INQUIRY data, blanks trimmed.
std::string NameFromInquiry(const BYTE* inquiry)
{
    const auto trimmed = [](const BYTE* text, std::size_t size) {
        std::string value(reinterpret_cast<const char*>(text), size);
        value.erase(std::find_if(value.rbegin(), value.rend(), [](char c) { return c != ' ' && c != '\0'; }).base(),
                    value.end());
        return value;
    };
    return trimmed(inquiry + 8, 8) + " " + trimmed(inquiry + 16, 16);
}

NoxDeviceEntry_s MakeEntry(DWORD handle, const std::string& name, BYTE path, BYTE target, BYTE lun, BYTE type,
                           DWORD adapterId)
{
    NoxDeviceEntry_s entry{};
    entry.Handle = handle;
    std::strncpy(entry.Name, name.c_str(), sizeof entry.Name - 1);
    entry.Path = path;
    entry.Target = target;
    entry.Lun = lun;
    entry.Extra = type;
    entry.AdapterId = adapterId;
    return entry;
}

// The library's list answer: the bytes needed for a null buffer, else the list.
template <class Entry>
DWORD AnswerList(const std::vector<Entry>& entries, void* buffer, DWORD* size)
{
    if (size == nullptr) {
        return nox_code::INVALID_PARAM;
    }
    const DWORD count = static_cast<DWORD>(entries.size());
    const DWORD needed = static_cast<DWORD>(sizeof count + entries.size() * sizeof(Entry));
    if (buffer == nullptr || *size < needed) {
        *size = needed;
        return nox_code::MORE_DATA;
    }
    auto* bytes = static_cast<BYTE*>(buffer);
    std::memcpy(bytes, &count, sizeof count);
    if (count != 0) {
        std::memcpy(bytes + sizeof count, entries.data(), entries.size() * sizeof(Entry));
    }
    *size = needed;
    return nox_code::DONE;
}

// The pass-through the port receives, with room for the sense bytes.
struct PortRequest_s {
    SCSI_PASS_THROUGH_DIRECT Spt;
    ULONG Filler;
    SCSI_SenseData_s Sense;
};

UCHAR DirectionOf(DWORD flags)
{
    if ((flags & NoxRequest_s::FLAG_DATA_IN) != 0) {
        return SCSI_IOCTL_DATA_IN;
    }
    if ((flags & NoxRequest_s::FLAG_DATA_OUT) != 0) {
        return SCSI_IOCTL_DATA_OUT;
    }
    return SCSI_IOCTL_DATA_UNSPECIFIED;
}

// Byte 1 for a request the port ran.
BYTE CodeFor(const PortRequest_s& done, DWORD asked)
{
    switch (done.Spt.ScsiStatus) {
    case kStatusCheckCondition:
        return static_cast<BYTE>(nox_code::CHECK_CONDITION) |
               (done.Spt.SenseInfoLength != 0 ? NoxRequest_s::SENSE_PRESENT : 0);
    case kStatusBusy:
    case kStatusQueueFull:
        return static_cast<BYTE>(nox_code::BUSY);
    case kStatusGood:
        return static_cast<BYTE>(done.Spt.DataTransferLength < asked ? nox_code::DATA_OVERRUN : nox_code::DONE);
    default:
        return static_cast<BYTE>(nox_code::DONE);  // the status byte tells the rest
    }
}

}  // namespace

NoxService& NoxService::Instance()
{
    static NoxService service;
    return service;
}

DWORD NoxService::Init()
{
    std::lock_guard guard(m_Lock);
    if (m_bReady) {
        return nox_code::DONE;
    }
    HANDLE control = OpenDevice(std::string("\\\\.\\") + harrow::machine::kNoxClassDevice);
    if (control == nullptr) {
        return nox_code::DRIVER_FAILURE;  // the Nox driver is not on this machine
    }
    std::vector<BYTE> list(kPortListBytes);
    DWORD returned = 0;
    const BOOL listed = DeviceIoControl(control, harrow::machine::IOCTL_NOX_GET_PORTS, nullptr, 0, list.data(),
                                        kPortListBytes, &returned, nullptr);
    CloseHandle(control);
    if (!listed) {
        return nox_code::DRIVER_FAILURE;
    }
    list.resize(returned);
    const auto count = ReadAt<DWORD>(list, 0);
    for (DWORD i = 0; i < count; ++i) {
        const auto port = ReadAt<harrow::machine::NoxPortEntry>(list, sizeof count + i * sizeof(harrow::machine::NoxPortEntry));
        HANDLE device = OpenDevice("\\\\.\\SCSI" + std::to_string(port.port) + ":");
        if (device != nullptr) {
            m_Adapters.push_back(Adapter_s{i + 1, port, device});
        }
    }
    for (const Adapter_s& adapter : m_Adapters) {
        ListUnits(adapter);
    }
    m_bStopping = false;
    for (int i = 0; i < kWorkers; ++i) {
        m_Workers.emplace_back([this] { Work(); });
    }
    m_bReady = true;
    return nox_code::DONE;
}

DWORD NoxService::Term()
{
    std::vector<std::thread> workers;
    {
        std::lock_guard guard(m_Lock);
        if (!m_bReady) {
            return nox_code::NOT_INITIALIZED;
        }
        m_bStopping = true;
        workers.swap(m_Workers);
    }
    m_WorkQueued.notify_all();
    for (std::thread& worker : workers) {
        worker.join();  // each finishes the queue first
    }
    std::lock_guard guard(m_Lock);
    CloseAll();
    m_bReady = false;
    return nox_code::DONE;
}

void NoxService::CloseAll()
{
    for (const Adapter_s& adapter : m_Adapters) {
        CloseHandle(adapter.Device);
    }
    m_Adapters.clear();
    m_Devices.clear();
    m_Handles.clear();
    m_Done.clear();
    for (const auto& [address, size] : m_Buffers) {
        std::free(address);
    }
    m_Buffers.clear();
    m_BufferBytes = 0;
}

DWORD NoxService::HandleFor(const Address& address)
{
    const auto [found, added] = m_Handles.emplace(address, static_cast<DWORD>(m_Handles.size() + 1));
    return found->second;
}

void NoxService::ListUnits(const Adapter_s& adapter)
{
    std::erase_if(m_Devices, [&](const Device_s& device) { return device.Entry.AdapterId == adapter.Id; });
    if (adapter.Port.pseudo != 0) {
        // Listed first, on the address of what may be a real unit.
        const DWORD handle = HandleFor({adapter.Id, 0xFF, 0xFF, 0xFF});
        m_Devices.push_back({MakeEntry(handle, kPseudoName, 0, 0, 0, kPseudoType, adapter.Id), nullptr});
    }
    std::vector<BYTE> bytes(kBusListBytes);
    DWORD returned = 0;
    if (!DeviceIoControl(adapter.Device, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, bytes.data(), kBusListBytes,
                         &returned, nullptr)) {
        return;
    }
    bytes.resize(returned);
    const BYTE buses = bytes.empty() ? 0 : bytes[0];
    for (BYTE bus = 0; bus < buses; ++bus) {
        const auto data = ReadAt<SCSI_BUS_DATA>(bytes, offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * 8);
        std::set<ULONG> visited;
        for (ULONG at = data.InquiryDataOffset; at != 0 && visited.insert(at).second;
             at = ReadAt<ULONG>(bytes, at + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset))) {
            const std::size_t inquiryAt = at + offsetof(SCSI_INQUIRY_DATA, InquiryData);
            if (inquiryAt > bytes.size() || kInquiryBytes > bytes.size() - inquiryAt) {
                break;
            }
            const auto unit = ReadAt<SCSI_INQUIRY_DATA>(bytes, at);
            const BYTE* inquiry = bytes.data() + inquiryAt;
            const DWORD handle = HandleFor({adapter.Id, unit.PathId, unit.TargetId, unit.Lun});
            m_Devices.push_back({MakeEntry(handle, NameFromInquiry(inquiry), unit.PathId, unit.TargetId, unit.Lun,
                                           static_cast<BYTE>(inquiry[0] & 0x1F), adapter.Id),
                                 adapter.Device});
        }
    }
}

DWORD NoxService::HaEnum(void* buffer, DWORD* size)
{
    std::lock_guard guard(m_Lock);
    if (!m_bReady) {
        return nox_code::NOT_INITIALIZED;
    }
    std::vector<NoxAdapterEntry_s> entries;
    for (const Adapter_s& adapter : m_Adapters) {
        NoxAdapterEntry_s entry{};
        entry.AdapterId = adapter.Id;
        entry.InitiatorId = adapter.Port.initiatorId;
        entry.PortNumber = adapter.Port.port;
        entry.Buses = adapter.Port.buses;
        entry.Hidden = adapter.Port.hidden;
        entries.push_back(entry);
    }
    return AnswerList(entries, buffer, size);
}

DWORD NoxService::Refresh(DWORD adapterId)
{
    std::lock_guard guard(m_Lock);
    if (!m_bReady) {
        return nox_code::NOT_INITIALIZED;
    }
    const auto adapter = std::find_if(m_Adapters.begin(), m_Adapters.end(),
                                      [adapterId](const Adapter_s& a) { return a.Id == adapterId; });
    if (adapter == m_Adapters.end()) {
        return nox_code::INVALID_PARAM;
    }
    DWORD returned = 0;
    DeviceIoControl(adapter->Device, IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, &returned, nullptr);
    ListUnits(*adapter);
    return nox_code::DONE;
}

DWORD NoxService::Enumerate(void* buffer, DWORD* size)
{
    std::lock_guard guard(m_Lock);
    if (!m_bReady) {
        return nox_code::NOT_INITIALIZED;
    }
    std::vector<NoxDeviceEntry_s> entries;
    for (const Device_s& device : m_Devices) {
        entries.push_back(device.Entry);
    }
    return AnswerList(entries, buffer, size);
}

DWORD NoxService::Execute(DWORD handle, NoxRequest_s* request)
{
    std::lock_guard guard(m_Lock);
    if (!m_bReady) {
        return nox_code::NOT_INITIALIZED;
    }
    if (request == nullptr) {
        return nox_code::INVALID_PARAM;
    }
    const auto device = std::find_if(m_Devices.begin(), m_Devices.end(),
                                     [handle](const Device_s& d) { return d.Entry.Handle == handle; });
    if (device == m_Devices.end() || device->Port == nullptr) {
        return nox_code::NO_DEVICE;
    }
    if (request->Function != NoxRequest_s::FUNCTION_EXECUTE) {
        return nox_code::INVALID_REQUEST;
    }
    const auto running = m_Done.find(request);
    if (running != m_Done.end() && !running->second) {
        return nox_code::INVALID_REQUEST;  // still in flight
    }
    request->Completion = static_cast<BYTE>(nox_code::PENDING);
    m_Done[request] = false;
    m_Queue.push_back({request, *device});
    // An untagged request's caller collects it waiting, and runs it then
    // itself; a worker takes it once the caller only polls.
    if ((request->Flags & NoxRequest_s::FLAG_TAGGED) != 0) {
        m_WorkQueued.notify_one();
    }
    return nox_code::DONE;
}

DWORD NoxService::Completion(NoxRequest_s* request, bool wait)
{
    std::unique_lock guard(m_Lock);
    const auto found = m_Done.find(request);
    if (found == m_Done.end()) {
        return nox_code::INVALID_PARAM;
    }
    if (wait && !found->second) {
        // A caller about to sleep on a request no worker has taken runs it itself.
        const auto queued = std::find_if(m_Queue.begin(), m_Queue.end(),
                                         [request](const Job_s& job) { return job.Request == request; });
        if (queued != m_Queue.end()) {
            const Job_s job = *queued;
            m_Queue.erase(queued);
            guard.unlock();
            Run(job);
            guard.lock();
            found->second = true;
            m_Changed.notify_all();
        }
        m_Changed.wait(guard, [&] { return found->second; });
    } else if (!found->second) {
        m_WorkQueued.notify_one();
    }
    return found->second ? nox_code::DONE : nox_code::PENDING;
}

void NoxService::Work()
{
    std::unique_lock guard(m_Lock);
    for (;;) {
        m_WorkQueued.wait(guard, [this] { return m_bStopping || !m_Queue.empty(); });
        if (m_Queue.empty()) {
            return;
        }
        const Job_s job = m_Queue.front();
        m_Queue.pop_front();
        guard.unlock();
        Run(job);
        guard.lock();
        m_Done[job.Request] = true;
        m_Changed.notify_all();
    }
}

void NoxService::Run(const Job_s& job)
{
    NoxRequest_s& request = *job.Request;
    PortRequest_s port{};
    port.Spt.Length = sizeof port.Spt;
    port.Spt.PathId = job.Device.Entry.Path;
    port.Spt.TargetId = job.Device.Entry.Target;
    port.Spt.Lun = job.Device.Entry.Lun;
    port.Spt.CdbLength = request.CdbLength;
    port.Spt.SenseInfoLength = sizeof port.Sense;
    port.Spt.DataIn = DirectionOf(request.Flags);
    port.Spt.DataTransferLength = request.DataBuffer != nullptr ? request.DataLength : 0;
    port.Spt.DataBuffer = request.DataBuffer;
    const ULONG timeout = request.Timeout;
    port.Spt.TimeOutValue = std::clamp<ULONG>(timeout, 1, kMaxTimeout);
    port.Spt.SenseInfoOffset = offsetof(PortRequest_s, Sense);
    std::memcpy(port.Spt.Cdb, request.Cdb, sizeof port.Spt.Cdb);
    DWORD returned = 0;
    if (!DeviceIoControl(job.Device.Port, IOCTL_SCSI_PASS_THROUGH_DIRECT, &port, sizeof port, &port, sizeof port,
                         &returned, nullptr)) {
        request.ScsiStatus = 0;
        request.Completion = static_cast<BYTE>(GetLastError() == ERROR_SEM_TIMEOUT ? nox_code::SELECTION_TIMEOUT
                                                                                   : nox_code::INVALID_REQUEST);
        return;
    }
    request.ScsiStatus = port.Spt.ScsiStatus;
    request.Completion = CodeFor(port, port.Spt.DataTransferLength == 0 ? 0 : request.DataLength);
    if ((request.Completion & NoxRequest_s::SENSE_PRESENT) != 0) {
        request.Sense = port.Sense;
    }
}

DWORD NoxService::PoolBytes() const
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kParameters, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return kDefaultPoolBytes;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    const LSTATUS result = RegQueryValueExA(key, "BufferSize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? value : kDefaultPoolBytes;
}

DWORD NoxService::BufferGet(DWORD size, void** address)
{
    if (address == nullptr || size == 0) {
        return nox_code::INVALID_PARAM;
    }
    *address = nullptr;
    const DWORD pool = PoolBytes();
    std::lock_guard guard(m_Lock);
    if (!m_bReady) {
        return nox_code::NOT_INITIALIZED;
    }
    if (size > pool - std::min(pool, m_BufferBytes)) {
        return nox_code::NO_MEMORY;
    }
    const std::size_t rounded = (size + kBufferAlignment - 1) / kBufferAlignment * kBufferAlignment;
    void* block = std::aligned_alloc(kBufferAlignment, rounded);
    if (block == nullptr) {
        return nox_code::NO_MEMORY;
    }
    m_Buffers.emplace(block, size);
    m_BufferBytes += size;
    *address = block;
    return nox_code::DONE;
}

DWORD NoxService::BufferRelease(void* address)
{
    std::lock_guard guard(m_Lock);
    const auto found = m_Buffers.find(address);
    if (found == m_Buffers.end()) {
        return nox_code::INVALID_PARAM;
    }
    m_BufferBytes -= found->second;
    std::free(found->first);
    m_Buffers.erase(found);
    return nox_code::DONE;
}

DWORD NoxService::BufferReleaseAll()
{
    std::lock_guard guard(m_Lock);
    for (const auto& [address, size] : m_Buffers) {
        std::free(address);
    }
    m_Buffers.clear();
    m_BufferBytes = 0;
    return nox_code::DONE;
}

LONG NoxService::BufferGetStats(NoxBufferStats_s* stats)
{
    if (stats == nullptr) {
        return static_cast<LONG>(nox_code::INVALID_PARAM);
    }
    const DWORD pool = PoolBytes();
    std::lock_guard guard(m_Lock);
    if (!m_bReady) {
        return static_cast<LONG>(nox_code::NOT_INITIALIZED);
    }
    stats->TotalAllocated = m_BufferBytes;
    stats->Available = pool - std::min(pool, m_BufferBytes);
    stats->LargestContig = stats->Available;
    return static_cast<LONG>(nox_code::DONE);
}
