#include "wnaspi32/AspiLayer.h"

#include "core/transport/NTPortBusList.h"
#include "platform/Files.h"
#include "platform/Kernel.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr int kMaxPorts = 256;
constexpr DWORD kBusListBytes = 20480;
constexpr int kWorkers = 4;
constexpr std::chrono::microseconds kLinger{200};
constexpr int kNarrowTargets = 16;
constexpr int kWideTargets = 32;
constexpr DWORD kMaxTimeoutSeconds = 108000;
constexpr BYTE kStatusCheckCondition = 0x02;
constexpr char kManagerId[] = "ASPI for WIN32";
constexpr std::size_t kBufferAlignment = 4096;

struct PassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT Spt;
    BYTE Sense[sizeof(SCSI_SenseData_s)];
};

HANDLE OpenPort(int number)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\SCSI%d:", number);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

std::string PortDriverName(int number)
{
    char path[64];
    std::snprintf(path, sizeof path, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port %d", number);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return {};
    }
    char value[256] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    const LSTATUS result = RegQueryValueExA(key, "Driver", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::string(value, strnlen(value, size)) : std::string();
}

// The status byte is what callers poll, so it is written last and read
// without a lock.
void PublishStatus(BYTE* field, BYTE value)
{
    std::atomic_ref<BYTE>(*field).store(value, std::memory_order_release);
}

UCHAR DirectionFor(BYTE flags, DWORD length)
{
    if (length == 0) {
        return SCSI_IOCTL_DATA_UNSPECIFIED;
    }
    if ((flags & aspi::SRB_DIR_IN) != 0) {
        return SCSI_IOCTL_DATA_IN;
    }
    if ((flags & aspi::SRB_DIR_OUT) != 0) {
        return SCSI_IOCTL_DATA_OUT;
    }
    return SCSI_IOCTL_DATA_UNSPECIFIED;
}

void CopyText(BYTE (&field)[16], const std::string& text)
{
    std::memset(field, 0, sizeof field);
    std::memcpy(field, text.data(), std::min(text.size(), sizeof field));
}

}  // namespace

AspiLayer::AspiLayer(DWORD bufferLimit) : m_BufferLimit(bufferLimit)
{
    FindPorts();
    m_Running = std::make_unique<std::atomic<int>[]>(m_Ports.size());
}

AspiLayer::~AspiLayer()
{
    {
        std::lock_guard guard(m_QueueLock);
        m_Stopping = true;
        // Nobody may be left polling a block that will never finish.
        for (const Job& job : m_Queue) {
            Finish(job.Srb, aspi::HASTAT_OK, aspi::SS_ABORTED);
        }
        m_Queue.clear();
        m_Queued = 0;
    }
    m_QueueReady.notify_all();
    for (std::thread& worker : m_Workers) {
        worker.join();
    }
    for (Port& port : m_Ports) {
        CloseHandle(port.Handle);
    }
    for (BYTE* buffer : m_Buffers) {
        ::operator delete[](buffer, std::align_val_t(kBufferAlignment));
    }
}

void AspiLayer::FindPorts()
{
    for (int number = 0; number < kMaxPorts; ++number) {
        HANDLE handle = OpenPort(number);
        if (handle == nullptr) {
            return;
        }
        Port port;
        if (!ReadPort(number, handle, &port)) {
            CloseHandle(handle);
            return;
        }
        m_Ports.push_back(std::move(port));
    }
}

bool AspiLayer::ReadPort(int number, HANDLE handle, Port* port)
{
    std::vector<BYTE> bytes(kBusListBytes, 0);
    DWORD returned = 0;
    if (!DeviceIoControl(handle, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, bytes.data(), kBusListBytes, &returned,
                         nullptr)) {
        return false;
    }
    const NTPortBusList_s list = ParseBusList(bytes.data(), std::min(returned, kBusListBytes));
    port->Handle = handle;
    port->Buses = static_cast<int>(list.Buses.size());
    port->InitiatorId = list.Buses.empty() ? 0xFF : list.Buses[0].InitiatorBusId;
    port->TargetsPerBus = port->InitiatorId < kNarrowTargets ? kNarrowTargets : kWideTargets;
    port->Identifier = PortDriverName(number);
    port->Units.clear();
    for (const NTPortUnit_s& unit : list.Units) {
        port->Units[{unit.PathId, unit.TargetId, unit.Lun}] = unit.Inquiry[0] & 0x1F;
    }
    IO_SCSI_CAPABILITIES caps{};
    if (DeviceIoControl(handle, IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps, &returned, nullptr)) {
        port->MaxTransfer = caps.MaximumTransferLength;
    }
    return true;
}

AspiLayer::Port* AspiLayer::PortFor(BYTE haId)
{
    return haId < m_Ports.size() ? &m_Ports[haId] : nullptr;
}

DWORD AspiLayer::SupportInfo()
{
    std::lock_guard guard(m_PortLock);
    if (m_Ports.empty()) {
        return static_cast<DWORD>(aspi::SS_NO_ADAPTERS) << 8;
    }
    const DWORD count = static_cast<DWORD>(std::min<std::size_t>(m_Ports.size(), 255));
    return (static_cast<DWORD>(aspi::SS_COMP) << 8) | count;
}

DWORD AspiLayer::Send(void* srb)
{
    if (srb == nullptr) {
        return aspi::SS_INVALID_SRB;
    }
    auto* header = static_cast<SRB_Header*>(srb);
    DWORD status = aspi::SS_INVALID_CMD;
    switch (header->SRB_Cmd) {
    case aspi::SC_HA_INQUIRY:
        status = HostAdapterInquiry(static_cast<SRB_HAInquiry*>(srb));
        break;
    case aspi::SC_GET_DEV_TYPE:
        status = DeviceType(static_cast<SRB_GDEVBlock*>(srb));
        break;
    case aspi::SC_EXEC_SCSI_CMD:
        return Execute(static_cast<SRB_ExecSCSICmd*>(srb));  // publishes its own status
    case aspi::SC_ABORT_SRB:
        status = Abort(static_cast<SRB_Abort*>(srb));
        break;
    case aspi::SC_RESET_DEV:
        status = ResetDevice(static_cast<SRB_BusDeviceReset*>(srb));
        break;
    case aspi::SC_RESCAN_SCSI_BUS:
        status = Rescan(static_cast<SRB_RescanPort*>(srb));
        break;
    case aspi::SC_GETSET_TIMEOUTS:
        status = Timeouts(static_cast<SRB_GetSetTimeouts*>(srb));
        break;
    default:
        break;
    }
    PublishStatus(&header->SRB_Status, static_cast<BYTE>(status));
    return status;
}

DWORD AspiLayer::HostAdapterInquiry(SRB_HAInquiry* srb)
{
    std::lock_guard guard(m_PortLock);
    const Port* port = PortFor(srb->SRB_HaId);
    if (port == nullptr) {
        return aspi::SS_INVALID_HA;
    }
    srb->HA_Count = static_cast<BYTE>(std::min<std::size_t>(m_Ports.size(), 255));
    srb->HA_SCSI_ID = port->InitiatorId;
    CopyText(srb->HA_ManagerId, kManagerId);
    CopyText(srb->HA_Identifier, port->Identifier);
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);
    srb->HA_Unique[3] = static_cast<BYTE>(std::min(port->Buses * port->TargetsPerBus, 255));
    std::memcpy(&srb->HA_Unique[4], &port->MaxTransfer, sizeof port->MaxTransfer);
    return aspi::SS_COMP;
}

DWORD AspiLayer::DeviceType(SRB_GDEVBlock* srb)
{
    std::lock_guard guard(m_PortLock);
    const Port* port = PortFor(srb->SRB_HaId);
    if (port == nullptr) {
        return aspi::SS_INVALID_HA;
    }
    const int path = srb->SRB_Target / port->TargetsPerBus;
    const auto unit = port->Units.find({path, srb->SRB_Target % port->TargetsPerBus, srb->SRB_Lun});
    if (unit == port->Units.end()) {
        return aspi::SS_NO_DEVICE;
    }
    srb->SRB_DeviceType = unit->second;
    return aspi::SS_COMP;
}

DWORD AspiLayer::Execute(SRB_ExecSCSICmd* srb)
{
    BYTE refused = aspi::SS_PENDING;
    Job job{srb, nullptr, kNarrowTargets, kDefaultTimeout};
    {
        std::lock_guard guard(m_PortLock);
        const Port* port = PortFor(srb->SRB_HaId);
        if (port == nullptr) {
            refused = aspi::SS_INVALID_HA;
        } else if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > sizeof srb->CDBByte ||
                   (srb->SRB_BufLen != 0 && srb->SRB_BufPointer == nullptr)) {
            refused = aspi::SS_INVALID_SRB;
        } else if (port->MaxTransfer != 0 && srb->SRB_BufLen > port->MaxTransfer) {
            refused = aspi::SS_BUFFER_TO_BIG;
        } else {
            job.Handle = port->Handle;
            job.TargetsPerBus = port->TargetsPerBus;
            job.TimeoutHalfSeconds = TimeoutFor(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
        }
    }
    srb->SRB_HaStat = aspi::HASTAT_OK;
    srb->SRB_TargStat = 0;
    if (refused != aspi::SS_PENDING) {
        PublishStatus(&srb->SRB_Status, refused);
        return refused;
    }
    PublishStatus(&srb->SRB_Status, aspi::SS_PENDING);
    // An idle adapter runs the command at once on the caller's thread, as a
    // port driver would; a busy one takes it in the background, so the
    // caller's other blocks overlap with what is running.
    std::atomic<int>& running = m_Running[srb->SRB_HaId];
    if (running.fetch_add(1, std::memory_order_acq_rel) == 0) {
        RunCounted(job);
        return aspi::SS_PENDING;
    }
    running.fetch_sub(1, std::memory_order_acq_rel);
    bool wake = false;
    {
        std::lock_guard guard(m_QueueLock);
        if (m_Workers.empty()) {
            StartWorkers();
        }
        m_Queue.push_back(job);
        m_Queued.fetch_add(1, std::memory_order_release);
        wake = m_Sleeping > 0;
    }
    if (wake) {
        m_QueueReady.notify_one();
    }
    return aspi::SS_PENDING;
}

DWORD AspiLayer::Abort(SRB_Abort* srb)
{
    std::lock_guard guard(m_QueueLock);
    const auto queued = std::find_if(m_Queue.begin(), m_Queue.end(),
                                     [&](const Job& job) { return job.Srb == srb->SRB_ToAbort; });
    if (queued == m_Queue.end()) {
        return aspi::SS_ABORT_FAIL;  // finished, running, or never ours
    }
    Finish(queued->Srb, aspi::HASTAT_OK, aspi::SS_ABORTED);
    m_Queue.erase(queued);
    m_Queued.fetch_sub(1, std::memory_order_release);
    return aspi::SS_COMP;
}

DWORD AspiLayer::ResetDevice(SRB_BusDeviceReset* srb)
{
    std::lock_guard guard(m_PortLock);
    if (PortFor(srb->SRB_HaId) == nullptr) {
        return aspi::SS_INVALID_HA;
    }
    // The ports offer no reset of their own; the units keep no state a
    // reset would clear that a caller could tell apart.
    srb->SRB_HaStat = aspi::HASTAT_OK;
    srb->SRB_TargStat = 0;
    return aspi::SS_COMP;
}

DWORD AspiLayer::Rescan(SRB_RescanPort* srb)
{
    std::lock_guard guard(m_PortLock);
    Port* port = PortFor(srb->SRB_HaId);
    if (port == nullptr) {
        return aspi::SS_INVALID_HA;
    }
    DWORD returned = 0;
    DeviceIoControl(port->Handle, IOCTL_SCSI_RESCAN_BUS, nullptr, 0, nullptr, 0, &returned, nullptr);
    return ReadPort(srb->SRB_HaId, port->Handle, port) ? aspi::SS_COMP : aspi::SS_ERR;
}

DWORD AspiLayer::Timeouts(SRB_GetSetTimeouts* srb)
{
    std::lock_guard guard(m_PortLock);
    if (srb->SRB_HaId != aspi::kWildcard && PortFor(srb->SRB_HaId) == nullptr) {
        return aspi::SS_INVALID_HA;
    }
    if ((srb->SRB_Flags & aspi::kTimeoutSet) != 0) {
        m_Timeouts[{srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun}] = srb->SRB_Timeout;
        return aspi::SS_COMP;
    }
    if ((srb->SRB_Flags & aspi::kTimeoutGet) != 0) {
        srb->SRB_Timeout = TimeoutFor(srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun);
        return aspi::SS_COMP;
    }
    return aspi::SS_INVALID_SRB;
}

DWORD AspiLayer::TimeoutFor(BYTE haId, BYTE target, BYTE lun) const
{
    // The most precise setting wins; 0xFF stands for any.
    const DeviceKey keys[] = {{haId, target, lun},
                              {haId, target, aspi::kWildcard},
                              {haId, aspi::kWildcard, aspi::kWildcard},
                              {aspi::kWildcard, aspi::kWildcard, aspi::kWildcard}};
    for (const DeviceKey& key : keys) {
        if (const auto found = m_Timeouts.find(key); found != m_Timeouts.end()) {
            return found->second;
        }
    }
    return kDefaultTimeout;
}

void AspiLayer::StartWorkers()
{
    for (int i = 0; i < kWorkers; ++i) {
        m_Workers.emplace_back([this] { Work(); });
    }
}

void AspiLayer::Work()
{
    Job job{};
    while (TakeJob(&job)) {
        RunCounted(job);
    }
}

void AspiLayer::RunCounted(const Job& job)
{
    const BYTE haId = job.Srb->SRB_HaId;  // read before the block is finished and may be reused
    Run(job);
    m_Running[haId].fetch_sub(1, std::memory_order_acq_rel);
}

bool AspiLayer::TakeJob(Job* job)
{
    // A caller usually sends its next command right after the last one
    // finished: looking out for it a little while spares the wake-up.
    const auto until = std::chrono::steady_clock::now() + kLinger;
    while (m_Queued.load(std::memory_order_acquire) == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::yield();
    }
    std::unique_lock lock(m_QueueLock);
    ++m_Sleeping;
    m_QueueReady.wait(lock, [this] { return m_Stopping || !m_Queue.empty(); });
    --m_Sleeping;
    if (m_Queue.empty()) {
        return false;
    }
    *job = m_Queue.front();
    m_Queue.pop_front();
    m_Queued.fetch_sub(1, std::memory_order_release);
    m_Running[job->Srb->SRB_HaId].fetch_add(1, std::memory_order_acq_rel);
    return true;
}

void AspiLayer::Run(const Job& job)
{
    SRB_ExecSCSICmd* srb = job.Srb;
    const int targetsPerBus = job.TargetsPerBus;
    PassThroughRequest request{};
    SCSI_PASS_THROUGH_DIRECT& spt = request.Spt;
    spt.Length = sizeof spt;
    spt.PathId = static_cast<UCHAR>(srb->SRB_Target / targetsPerBus);
    spt.TargetId = static_cast<UCHAR>(srb->SRB_Target % targetsPerBus);
    spt.Lun = srb->SRB_Lun;
    spt.CdbLength = srb->SRB_CDBLen;
    spt.SenseInfoLength = static_cast<UCHAR>(std::min<std::size_t>(srb->SRB_SenseLen, sizeof request.Sense));
    spt.SenseInfoOffset = offsetof(PassThroughRequest, Sense);
    spt.DataIn = DirectionFor(srb->SRB_Flags, srb->SRB_BufLen);
    spt.DataTransferLength = srb->SRB_BufLen;
    spt.DataBuffer = srb->SRB_BufPointer;
    spt.TimeOutValue = std::clamp<DWORD>((job.TimeoutHalfSeconds + 1) / 2, 1, kMaxTimeoutSeconds);
    std::memcpy(spt.Cdb, srb->CDBByte, spt.CdbLength);
    DWORD returned = 0;
    if (!DeviceIoControl(job.Handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, sizeof request,
                         &returned, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_SEM_TIMEOUT) {
            Finish(srb, aspi::HASTAT_SEL_TO, aspi::SS_ERR);
        } else if (error == ERROR_INVALID_PARAMETER) {
            Finish(srb, aspi::HASTAT_OK, aspi::SS_NO_DEVICE);  // no such path or target on the port
        } else {
            Finish(srb, aspi::HASTAT_OK, aspi::SS_ERR);
        }
        return;
    }
    srb->SRB_TargStat = spt.ScsiStatus;
    if (spt.ScsiStatus == kStatusCheckCondition) {
        const std::size_t room = std::min<std::size_t>(srb->SRB_SenseLen, sizeof srb->SenseArea);
        std::memcpy(&srb->SenseArea, request.Sense, std::min<std::size_t>(room, spt.SenseInfoLength));
    }
    Finish(srb, aspi::HASTAT_OK, spt.ScsiStatus == 0 ? aspi::SS_COMP : aspi::SS_ERR);
}

void AspiLayer::Finish(SRB_ExecSCSICmd* srb, BYTE haStatus, BYTE status)
{
    srb->SRB_HaStat = haStatus;
    PublishStatus(&srb->SRB_Status, status);
}

BOOL AspiLayer::GetBuffer(ASPI32BUFF* buffer)
{
    if (buffer == nullptr || buffer->AB_BufLen == 0 || buffer->AB_BufLen > m_BufferLimit) {
        return FALSE;
    }
    auto* memory = static_cast<BYTE*>(
        ::operator new[](buffer->AB_BufLen, std::align_val_t(kBufferAlignment), std::nothrow));
    if (memory == nullptr) {
        return FALSE;
    }
    if (buffer->AB_ZeroFill != 0) {
        std::memset(memory, 0, buffer->AB_BufLen);
    }
    std::lock_guard guard(m_BufferLock);
    m_Buffers.insert(memory);
    buffer->AB_BufPointer = memory;
    return TRUE;
}

BOOL AspiLayer::FreeBuffer(ASPI32BUFF* buffer)
{
    if (buffer == nullptr) {
        return FALSE;
    }
    std::lock_guard guard(m_BufferLock);
    if (m_Buffers.erase(buffer->AB_BufPointer) == 0) {
        return FALSE;
    }
    ::operator delete[](buffer->AB_BufPointer, std::align_val_t(kBufferAlignment));
    buffer->AB_BufPointer = nullptr;
    return TRUE;
}
