#include "core/transport/MylexExtIoCtl.h"

#include "core/log/GTrace.h"
#include "core/system/CHostAdapter.h"
#include "core/types/CEventError.h"

#include <cstring>
#include <mutex>

namespace {

constexpr std::uint8_t kOpTunnel = 0x22;
constexpr std::uint8_t kSendDescriptor = 0xAD;
constexpr std::uint8_t kTransferData = 0xAE;
constexpr unsigned char kTunnelCdbLength = 10;

std::uint8_t DirectionCode(unsigned long dataLength, unsigned long flags)
{
    if (dataLength == 0) {
        return 0;
    }
    if ((flags & CScsiIoCtl::kFlagDataIn) != 0) {
        return 1;
    }
    return (flags & CScsiIoCtl::kFlagDataOut) != 0 ? 2 : 0;
}

}  // namespace

MylexExtIoCtl::MylexExtIoCtl(const CDevAddress& address, unsigned char blockIndex, CHostAdapter* controller)
    : CScsiIoCtl(address, blockIndex)
{
    if (controller != nullptr) {
        const CDevAddress controllerLun(address.m_HostAdapter, address.m_Target, address.m_Lun, -1, -1, -1);
        m_Inner.reset(controller->CreateIoCtl(controllerLun, blockIndex));
    }
}

MylexExtIoCtl::~MylexExtIoCtl() = default;

std::uint32_t MylexExtIoCtl::NextSequenceNumber()
{
    static std::mutex lock;
    static std::uint32_t next = 0;
    std::lock_guard guard(lock);
    return next++;
}

Error_t MylexExtIoCtl::RunStep(std::uint8_t action, std::uint32_t sequence, void* data, unsigned long length,
                               unsigned long flags)
{
    unsigned char* cdb = m_Inner->GetCdb(true);
    if (cdb == nullptr) {
        return ERR_NO_RESOURCE;
    }
    cdb[0] = kOpTunnel;
    cdb[2] = action;
    for (int byte = 0; byte < 4; ++byte) {
        cdb[3 + byte] = static_cast<unsigned char>(sequence >> (8 * byte));
    }
    cdb[7] = static_cast<unsigned char>(length >> 8);
    cdb[8] = static_cast<unsigned char>(length);
    m_Inner->SetBuffer(data, static_cast<long>(length));
    if (Error_t refused = m_Inner->CompleteCmd(kTunnelCdbLength, length, flags, m_CmdTimeout, 0, 0, 0);
        refused != ERR_NONE) {
        return refused;
    }
    // The inner block counts its retry and starts its timer itself.
    if (Error_t sent = m_Inner->DoIO(); sent != ERR_NONE) {
        return sent;
    }
    Error_t status = m_Inner->IsCommandComplete();
    while (status == ERR_CMD_NOT_STARTED || status == ERR_CMD_PENDING) {
        status = m_Inner->IsCommandComplete();
    }
    return status == ERR_CMD_COMPLETE ? ERR_NONE : status;
}

Error_t MylexExtIoCtl::DoIO()
{
    if (!m_Inner) {
        return ERR_NO_RESOURCE;
    }
    const std::uint32_t sequence = NextSequenceNumber();
    if (Error_t failed = RunStep(kSendDescriptor, sequence, m_Descriptor, kDescriptorBytes, kFlagDataOut);
        failed != ERR_NONE) {
        return failed;
    }
    return RunStep(kTransferData, sequence, m_Data, m_DataLength, m_Flags);
}

CEventBase* MylexExtIoCtl::GetErrorEvent()
{
    Error_t srbStatus = ERR_NONE;
    Error_t haStatus = ERR_NONE;
    Error_t targetStatus = ERR_NONE;
    if (!m_Inner) {
        return new CEventError(Address(), 0, nullptr, nullptr, targetStatus, haStatus, srbStatus, GetDriverStatus());
    }
    m_Inner->GetIOStatii(&srbStatus, &haStatus, &targetStatus);
    return new CEventError(Address(), m_Inner->GetCdbLen(), m_Inner->GetCdb(false), m_Inner->GetSenseData(),
                           targetStatus, haStatus, srbStatus, GetDriverStatus());
}

Error_t MylexExtIoCtl::GetDriverStatus()
{
    return ERR_CMD_COMPLETE;
}

unsigned char* MylexExtIoCtl::GetCdb(bool clear)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: MylexExtIoCtl GetCdb");
    if (!m_Inner) {
        return nullptr;
    }
    if (clear) {
        std::memset(m_Descriptor, 0, sizeof m_Descriptor);
        SetSenseValid(false);
        SetStatus(ERR_CMD_NOT_STARTED);
    }
    return m_Descriptor + kDescriptorCdbOffset;
}

Error_t MylexExtIoCtl::SetBuffer(void* data, long length)
{
    if (!m_Inner) {
        return ERR_NO_RESOURCE;
    }
    m_Data = data;
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t MylexExtIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                   long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    if (!m_Inner) {
        return ERR_NO_RESOURCE;
    }
    // The transfer is what the command moves, never more than the caller's buffer holds.
    if (dataLength > static_cast<unsigned long>(std::max(BufferLength(), 0L))) {
        return ERR_BUFFER_TOO_SMALL;
    }
    // The data step states its length in 16 bits: a larger transfer would go out short.
    if (dataLength > kMaxTunnelBytes) {
        return ERR_INVALID_PARAM;
    }
    RecordCommand(timeout, lba, blocks, option);
    TakeCommandKind(dataLength, flags);
    m_CmdTimeout = timeout;
    m_Flags = flags;
    m_DataLength = dataLength;
    m_Descriptor[0] = static_cast<std::uint8_t>(Address().m_RaidChannel);
    m_Descriptor[1] = static_cast<std::uint8_t>(Address().m_RaidTarget);
    m_Descriptor[2] = std::min<unsigned char>(cdbLength, kMaxCdbLength);
    m_Descriptor[3] = DirectionCode(dataLength, flags);
    m_Descriptor[4] = 1;
    return ERR_NONE;
}

Error_t MylexExtIoCtl::IsCommandComplete()
{
    return ERR_CMD_COMPLETE;
}

SCSI_SenseData_s* MylexExtIoCtl::GetSenseData()
{
    return m_Inner ? m_Inner->GetSenseData() : nullptr;
}

unsigned char MylexExtIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: MylexExtIoCtl GetCdbLen");
    return m_Inner ? m_Inner->GetCdbLen() : 255;
}

void MylexExtIoCtl::FillSRB(void* srb)
{
    if (m_Inner) {
        m_Inner->FillSRB(srb);
    }
}

bool MylexExtIoCtl::GetIOStatii(Error_t*, Error_t*, Error_t*)
{
    return true;
}

Error_t MylexExtIoCtl::ProcessError()
{
    return ERR_NONE;
}
