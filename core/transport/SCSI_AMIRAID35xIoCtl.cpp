#include "core/transport/SCSI_AMIRAID35xIoCtl.h"

#include "core/log/GTrace.h"
#include "core/transport/AspiStatusTables.h"
#include "core/transport/SRB_ExecSCSICmd.h"

#include <cstring>

namespace {

// The key of the last row whose code is result; 0 when none is.
BYTE LastKeyOf(const ERR_XTBL* table, int rows, Error_t result)
{
    BYTE key = 0;
    for (int row = 0; row < rows; ++row) {
        if (table[row].result == result) {
            key = static_cast<BYTE>(table[row].key);
        }
    }
    return key;
}

}  // namespace

SCSI_AMIRAID35xIoCtl::SCSI_AMIRAID35xIoCtl(const CDevAddress& address, unsigned char blockIndex, int port,
                                           int channel)
    : CScsiIoCtl(address, blockIndex), m_Port(port), m_Channel(channel)
{
    MakeRequestMemory(sizeof(AmiRaidRequest_s));
    AttachDriver(CAMIRAIDDriver::Acquire());
    // The plug-in addresses the controller by port number, not through a device handle.
    SetStatus(ERR_NONE);
    if (AmiRaidRequest_s* request = Request(); request != nullptr) {
        WriteAddress(request);
    }
}

SCSI_AMIRAID35xIoCtl::~SCSI_AMIRAID35xIoCtl()
{
    if (Driver() != nullptr) {
        Driver()->Release();
    }
}

AmiRaidRequest_s* SCSI_AMIRAID35xIoCtl::Request() const
{
    return reinterpret_cast<AmiRaidRequest_s*>(RequestBytes());
}

void SCSI_AMIRAID35xIoCtl::WriteAddress(AmiRaidRequest_s* request) const
{
    request->Request.Adapter = static_cast<std::uint8_t>(m_Port);
    request->Request.Channel = static_cast<std::uint8_t>(m_Channel);
    request->Request.Target = static_cast<std::uint8_t>(Address().m_Target);
    request->Request.Lun = static_cast<std::uint8_t>(Address().m_Lun);
}

Error_t SCSI_AMIRAID35xIoCtl::GetDriverStatus()
{
    return ERR_NONE;
}

unsigned char* SCSI_AMIRAID35xIoCtl::GetCdb(bool clear)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdb");
    AmiRaidRequest_s* request = Request();
    if (request == nullptr || (clear && IsRetryCmd())) {
        return nullptr;
    }
    if (clear) {
        ClearRequestState();
    }
    return request->Request.Cdb;
}

Error_t SCSI_AMIRAID35xIoCtl::SetBuffer(void* data, long length)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: SetBuffer");
    AmiRaidRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    request->Request.Data = data;
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t SCSI_AMIRAID35xIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                          long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: AMIRAID35x CompleteCmd");
    if (Error_t refused = CheckCompleteCmd(dataLength); refused != ERR_NONE) {
        return refused;
    }
    RecordCommand(timeout, lba, blocks, option);
    AmiRaidRequest_s* request = Request();
    WriteAddress(request);
    RaidRequest& raid = request->Request;
    raid.CdbLength = ClampCdbLength(cdbLength);
    raid.DataLength = static_cast<std::uint32_t>(dataLength);
    raid.Direction = TakeCommandKind(dataLength, flags) == kKindDataOut ? RaidRequest::kDirectionOut
                                                                         : RaidRequest::kDirectionIn;
    raid.Timeout = static_cast<std::uint32_t>(timeout);
    raid.SenseLength = kSenseBytes;
    std::memset(m_Sense, 0, sizeof m_Sense);
    raid.Sense = m_Sense;
    return ERR_NONE;
}

Error_t SCSI_AMIRAID35xIoCtl::IsCommandComplete()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: AMIRAID35x IsCommandComplete");
    if (Request() == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if (GetStatus() == ERR_CMD_NOT_STARTED || GetStatus() == ERR_CMD_PENDING) {
        // The plug-in answered inside Send: the command is done.
        StopTimer();
        SetStatus(ERR_CMD_COMPLETE);
        UpdatePerformance();
    }
    return GetStatus();
}

SCSI_SenseData_s* SCSI_AMIRAID35xIoCtl::GetSenseData()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: AMIRAID35x GetSenseData");
    AmiRaidRequest_s* request = Request();
    return request != nullptr ? static_cast<SCSI_SenseData_s*>(request->Request.Sense) : nullptr;
}

unsigned char SCSI_AMIRAID35xIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdbLen");
    const AmiRaidRequest_s* request = Request();
    return request != nullptr ? request->Request.CdbLength : 255;
}

void SCSI_AMIRAID35xIoCtl::FillSRB(void* srb)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: AMIRAID35x FillSRB");
    const AmiRaidRequest_s* request = Request();
    if (request == nullptr || srb == nullptr) {
        return;
    }
    const RaidRequest& raid = request->Request;
    const auto result = static_cast<Error_t>(request->Result);
    auto* block = static_cast<SRB_ExecSCSICmd*>(srb);
    block->SRB_Cmd = SRB_ExecSCSICmd::SC_EXEC_SCSI_CMD;
    block->SRB_Status = LastKeyOf(kAspiSrbStatusTable, kAspiSrbStatusRows, result);
    block->SRB_HaStat = LastKeyOf(kAspiHaStatusTable, kAspiHaStatusRows, result);
    block->SRB_TargStat = LastKeyOf(kTargetStatusTable, kTargetStatusRows, result);
    block->SRB_Target = raid.Target;
    block->SRB_Lun = raid.Lun;
    block->SRB_BufLen = raid.DataLength;
    block->SRB_BufPointer = static_cast<BYTE*>(raid.Data);
    block->SRB_SenseLen = raid.SenseLength;
    block->SRB_CDBLen = raid.CdbLength;
    std::memcpy(block->CDBByte, raid.Cdb, sizeof block->CDBByte);
    std::memcpy(&block->SenseArea, m_Sense, std::min<std::size_t>(sizeof block->SenseArea, raid.SenseLength));
}

bool SCSI_AMIRAID35xIoCtl::GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus)
{
    if (srbStatus != nullptr) {
        *srbStatus = ERR_DRIVER_IO;
    }
    if (haStatus != nullptr) {
        *haStatus = ERR_DRIVER_IO;
    }
    if (targetStatus != nullptr) {
        *targetStatus = static_cast<Error_t>(-1);
    }
    return true;
}

Error_t SCSI_AMIRAID35xIoCtl::ProcessError()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: AMIRAID35x ProcessError");
    return GetDriverStatus();
}
