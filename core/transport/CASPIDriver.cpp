#include "core/transport/CASPIDriver.h"

#include "core/system/OsType.h"
#include "platform/Kernel.h"
#include "platform/Library.h"
#include "platform/System.h"

#include <algorithm>
#include <atomic>
#include <cstring>

template class CSharedScsiDriver<CASPIDriver>;

namespace {

// On Windows 9x the layer is a system component, there only once installed;
// elsewhere it ships beside the programs.
std::string LibraryPath()
{
    if (!IsWin9xFamily(DetermineOsType())) {
        return CASPIDriver::kLibraryName;
    }
    char system[4096];
    const UINT length = GetSystemDirectoryA(system, sizeof system);
    if (length == 0 || length >= sizeof system) {
        return {};  // no system folder: nothing is installed
    }
    return std::string(system) + "\\" + CASPIDriver::kLibraryName;
}

constexpr DWORD kRescanSettleMs = 2000;
constexpr std::size_t kManagerChars = 16;
constexpr std::size_t kIdentifierChars = 15;
// What a command of no stated time-out waits, and the unlimited wait.
constexpr DWORD kDefaultSeconds = 30;
constexpr DWORD kUnlimitedSeconds = 0xFFFFFFFF;
constexpr DWORD kUnlimitedHalfSeconds = 108000;
// Marks a block sent while no layer is loaded, so nobody waits on it.
constexpr BYTE kStatusNoAspi = 0xE3;

struct Translation {
    BYTE key;
    Error_t result;
};

constexpr Translation kHaCompletion[] = {
    {0x09, ERR_TIMEOUT},          {0x0B, ERR_COMMAND_TIMEOUT},     {0x0D, ERR_MESSAGE_REJECTED},
    {0x0E, ERR_BUS_RESET},        {0x0F, ERR_PARITY},              {0x10, ERR_HA_REQSENSE_FAILED},
    {0x11, ERR_SELECTION_TIMEOUT}, {0x12, ERR_DATA_OVERRUN},        {0x13, ERR_UNEXPECTED_BUS_FREE},
    {0x14, ERR_PHASE_SEQUENCE},
};

constexpr Translation kSrbCompletion[] = {
    {0x02, ERR_SK_ABORTED_COMMAND}, {0x03, ERR_ABORT_FAILED},    {0x04, ERR_DRIVER_IO},
    {0x80, ERR_DRIVER_FAILURE},     {0xE0, ERR_DRIVER_FAILURE},  {0xE1, ERR_DRIVER_FAILURE},
    {0xE2, ERR_DRIVER_FAILURE},     {0xE3, ERR_DRIVER_FAILURE},  {0xE5, ERR_DRIVER_FAILURE},
    {0xE7, ERR_DRIVER_FAILURE},     {0x81, ERR_NO_HOST_ADAPTER}, {0xE8, ERR_NO_HOST_ADAPTER},
    {0x82, ERR_NO_DEVICE},          {0xE4, ERR_NOT_INITIALIZED}, {0xE6, ERR_NO_MEMORY},
    {0xE9, ERR_NO_RESOURCE},
};

template <std::size_t N>
const Error_t* Find(const Translation (&table)[N], BYTE key)
{
    for (const Translation& row : table) {
        if (row.key == key) {
            return &row.result;
        }
    }
    return nullptr;
}

BYTE ReadStatus(const SRB_ExecSCSICmd& srb)
{
    // The layer finishes the block on a thread of its own.
    return std::atomic_ref<const BYTE>(srb.SRB_Status).load(std::memory_order_acquire);
}

std::string FixedText(const BYTE* field, std::size_t size, std::size_t keep)
{
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, std::min(size, keep)));
}

}  // namespace

CASPIDriver::CASPIDriver()
{
    Init();  // a failure leaves the object unloaded, which IsLoaded tells
}

CASPIDriver::~CASPIDriver()
{
    Free();
}

Error_t CASPIDriver::Init()
{
    if (m_Library != nullptr) {
        return ERR_ALREADY_INITIALIZED;
    }
    m_Library = LoadLibraryA(LibraryPath().c_str());
    if (m_Library == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    m_Send = reinterpret_cast<SendASPI32Command_t>(GetProcAddress(m_Library, "SendASPI32Command"));
    m_SupportInfo = reinterpret_cast<GetASPI32SupportInfo_t>(GetProcAddress(m_Library, "GetASPI32SupportInfo"));
    m_GetBuffer = reinterpret_cast<GetASPI32Buffer_t>(GetProcAddress(m_Library, "GetASPI32Buffer"));
    m_FreeBuffer = reinterpret_cast<FreeASPI32Buffer_t>(GetProcAddress(m_Library, "FreeASPI32Buffer"));
    if (m_Send == nullptr || m_SupportInfo == nullptr) {
        Free();
        return ERR_DRIVER_FAILURE;
    }
    if (m_GetBuffer != nullptr) {
        std::lock_guard guard(m_BufferLock);
        m_MaxBuffer = m_LastAsked = m_LastGranted = kInitialBufferLimit;
    }
    return ERR_NONE;
}

Error_t CASPIDriver::Free()
{
    BufferReleaseAll();
    if (m_Library != nullptr) {
        FreeLibrary(m_Library);
    }
    m_Library = nullptr;
    m_Send = nullptr;
    m_SupportInfo = nullptr;
    m_GetBuffer = nullptr;
    m_FreeBuffer = nullptr;
    return ERR_NONE;
}

bool CASPIDriver::IsLoaded() const
{
    return m_Send != nullptr;
}

Error_t CASPIDriver::RescanBus(int adapter)
{
    if (!IsLoaded()) {
        return ERR_DRIVER_FAILURE;
    }
    SRB_RescanPort srb{};
    srb.SRB_Cmd = aspi::SC_RESCAN_SCSI_BUS;
    srb.SRB_HaId = static_cast<BYTE>(adapter);
    m_Send(&srb);
    Sleep(kRescanSettleMs);
    return ERR_NONE;
}

DWORD CASPIDriver::TimeoutHalfSeconds(DWORD seconds)
{
    if (seconds == 0) {
        seconds = kDefaultSeconds;
    }
    return seconds == kUnlimitedSeconds ? kUnlimitedHalfSeconds : seconds * 2;
}

Error_t CASPIDriver::Send(HANDLE, void* request)
{
    auto* srb = static_cast<SRB_ExecSCSICmd*>(request);
    if (!IsLoaded()) {
        std::atomic_ref<BYTE>(srb->SRB_Status).store(kStatusNoAspi, std::memory_order_release);
        return ERR_DRIVER_FAILURE;
    }
    const DeviceKey device{srb->SRB_HaId, srb->SRB_Target, srb->SRB_Lun};
    EnterSend(device, TimeoutHalfSeconds(srb->SRB_Hdr_Rsvd));
    m_Send(srb);
    LeaveSend(device);
    return ERR_NONE;
}

void CASPIDriver::EnterSend(const DeviceKey& device, DWORD wanted)
{
    std::unique_lock lock(m_SendLock);
    TimeoutGate& gate = m_Gates[device];
    m_SendDone.wait(lock, [&] { return gate.sending == 0 || gate.halfSeconds == wanted; });
    if (gate.sending == 0) {
        m_TimeoutSrb = SRB_GetSetTimeouts{};
        m_TimeoutSrb.SRB_Cmd = aspi::SC_GETSET_TIMEOUTS;
        m_TimeoutSrb.SRB_HaId = std::get<0>(device);
        m_TimeoutSrb.SRB_Flags = aspi::TIMEOUT_SET;
        m_TimeoutSrb.SRB_Target = std::get<1>(device);
        m_TimeoutSrb.SRB_Lun = std::get<2>(device);
        m_TimeoutSrb.SRB_Timeout = wanted;
        m_Send(&m_TimeoutSrb);
        gate.halfSeconds = wanted;
    }
    ++gate.sending;
}

void CASPIDriver::LeaveSend(const DeviceKey& device)
{
    {
        std::lock_guard guard(m_SendLock);
        --m_Gates[device].sending;
    }
    m_SendDone.notify_all();
}

SRB_GetSetTimeouts CASPIDriver::LastTimeoutBlock()
{
    std::lock_guard guard(m_SendLock);
    return m_TimeoutSrb;
}

bool CASPIDriver::WaitDone(void*)
{
    return true;
}

Error_t CASPIDriver::GetCompletion(void* request, bool wait)
{
    const auto* srb = static_cast<const SRB_ExecSCSICmd*>(request);
    while (wait && ReadStatus(*srb) == aspi::SS_PENDING) {
        Sleep(0);
    }
    return CompletionStatus(*srb);
}

Error_t CASPIDriver::CompletionStatus(const SRB_ExecSCSICmd& srb)
{
    const BYTE status = ReadStatus(srb);
    if (status == aspi::SS_PENDING) {
        return ERR_CMD_PENDING;
    }
    if (status == aspi::SS_COMP && srb.SRB_HaStat == aspi::HASTAT_OK) {
        return ERR_NONE;
    }
    if (srb.SRB_TargStat == 0x02) {
        return ERR_CHECK_CONDITION;
    }
    if (const Error_t* result = Find(kHaCompletion, srb.SRB_HaStat)) {
        return *result;
    }
    if (const Error_t* result = Find(kSrbCompletion, status)) {
        return *result;
    }
    return ERR_NONE;
}

bool CASPIDriver::InquireAdapter(int adapter, SRB_HAInquiry* srb)
{
    *srb = SRB_HAInquiry{};
    srb->SRB_Cmd = aspi::SC_HA_INQUIRY;
    srb->SRB_HaId = static_cast<BYTE>(adapter);
    return IsLoaded() && m_Send(srb) == aspi::SS_COMP;
}

long CASPIDriver::AdapterCount()
{
    SRB_HAInquiry srb;
    return InquireAdapter(0, &srb) ? srb.HA_Count : 0;
}

long CASPIDriver::DevicesSupported(signed char maxTargets)
{
    if (maxTargets >= 1 && maxTargets <= 8) {
        return 8;
    }
    if (maxTargets >= 9 && maxTargets <= 16) {
        return 16;
    }
    return 128;
}

Error_t CASPIDriver::AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString,
                                    std::string* adapterString, long* devsSupported)
{
    SRB_HAInquiry srb;
    if (!InquireAdapter(adapter, &srb)) {
        return ERR_DRIVER_FAILURE;
    }
    if (adapterTargetId != nullptr) {
        *adapterTargetId = srb.HA_SCSI_ID;
    }
    if (managerString != nullptr) {
        *managerString = FixedText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, kManagerChars);
    }
    if (adapterString != nullptr) {
        *adapterString = FixedText(srb.HA_Identifier, sizeof srb.HA_Identifier, kIdentifierChars);
    }
    if (devsSupported != nullptr) {
        *devsSupported = DevicesSupported(static_cast<signed char>(srb.HA_Unique[3]));
    }
    return ERR_NONE;
}

unsigned long CASPIDriver::MaxTransferBytes(int adapter)
{
    SRB_HAInquiry srb;
    if (!InquireAdapter(adapter, &srb)) {
        return 0;
    }
    DWORD bytes = 0;
    std::memcpy(&bytes, &srb.HA_Unique[4], sizeof bytes);  // little-endian, as ASPI for Win32 lays it out
    return bytes;
}

HANDLE CASPIDriver::GetDeviceHandle(const CDevAddress&)
{
    return nullptr;
}

Error_t CASPIDriver::BufferGet(unsigned long size, void** address)
{
    if (address == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *address = nullptr;
    std::lock_guard guard(m_BufferLock);
    if (m_GetBuffer == nullptr) {
        return ERR_DRIVER_FAILURE;
    }
    if (size > m_MaxBuffer) {
        return ERR_NO_MEMORY;
    }
    m_LastAsked = size;
    ASPI32BUFF buffer{};
    for (;;) {
        buffer = ASPI32BUFF{};
        buffer.AB_BufLen = static_cast<DWORD>(size);
        if (m_GetBuffer(&buffer)) {
            break;
        }
        size = size > kBufferStep ? size - kBufferStep : 0;
        if (size < kSmallestBuffer) {
            return ERR_NO_MEMORY;
        }
    }
    m_MaxBuffer = m_LastAsked = m_LastGranted = size;
    m_Buffers.push_back(buffer);
    *address = buffer.AB_BufPointer;
    return ERR_NONE;
}

Error_t CASPIDriver::BufferRelease(void* address)
{
    std::lock_guard guard(m_BufferLock);
    const auto node = std::find_if(m_Buffers.begin(), m_Buffers.end(),
                                   [&](const ASPI32BUFF& buffer) { return buffer.AB_BufPointer == address; });
    if (node == m_Buffers.end()) {
        return ERR_NONE;
    }
    if (m_FreeBuffer != nullptr) {
        m_FreeBuffer(&*node);
    }
    m_Buffers.erase(node);
    return ERR_NONE;
}

Error_t CASPIDriver::BufferReleaseAll()
{
    std::lock_guard guard(m_BufferLock);
    for (ASPI32BUFF& buffer : m_Buffers) {
        if (m_FreeBuffer != nullptr) {
            m_FreeBuffer(&buffer);
        }
    }
    m_Buffers.clear();
    return ERR_NONE;
}

unsigned long CASPIDriver::BufferLimit() const
{
    std::lock_guard guard(m_BufferLock);
    return m_MaxBuffer;
}

unsigned long CASPIDriver::BufferTotal() const
{
    std::lock_guard guard(m_BufferLock);
    unsigned long total = 0;
    for (const ASPI32BUFF& buffer : m_Buffers) {
        total += buffer.AB_BufLen;
    }
    return total;
}
