#include "core/transport/SCSI_NTPortIoCtl.h"

#include "core/log/GTrace.h"
#include "core/transport/CNTPortDriver.h"
#include "core/transport/SRB_ExecSCSICmd.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr BYTE kStatusCheckCondition = 0x02;
// In fixed and descriptor sense alike the additional length is byte 7 and
// counts from byte 8 (SPC-4 4.5.2.1, 4.5.3).
constexpr int kSenseHeaderBytes = 8;

UCHAR DataInFor(unsigned char kind)
{
    switch (kind) {
    case CScsiIoCtl::kKindDataIn:
        return SCSI_IOCTL_DATA_IN;
    case CScsiIoCtl::kKindDataOut:
        return SCSI_IOCTL_DATA_OUT;
    default:
        return SCSI_IOCTL_DATA_UNSPECIFIED;
    }
}

BYTE SrbFlagsFor(UCHAR dataIn)
{
    switch (dataIn) {
    case SCSI_IOCTL_DATA_IN:
        return SRB_ExecSCSICmd::SRB_DIR_IN;
    case SCSI_IOCTL_DATA_OUT:
        return SRB_ExecSCSICmd::SRB_DIR_OUT;
    default:
        return 0;
    }
}

}  // namespace

SCSI_NTPortIoCtl::SCSI_NTPortIoCtl(const CDevAddress& address, unsigned char blockIndex)
    : CScsiIoCtl(address, blockIndex)
{
    MakeRequestMemory(sizeof(NTPortRequest_s));
    CNTPortDriver* driver = CNTPortDriver::Acquire();
    AttachDriver(driver);
    m_PathStatus = driver->MapAddress(address, &m_Path);
}

SCSI_NTPortIoCtl::SCSI_NTPortIoCtl(const SCSI_NTPortIoCtl& other)
    : CScsiIoCtl(other), m_PathStatus(other.m_PathStatus), m_Path(other.m_Path)
{
    CNTPortDriver::Acquire();  // released again by this copy's destructor
}

SCSI_NTPortIoCtl::~SCSI_NTPortIoCtl()
{
    if (Driver() != nullptr) {
        Driver()->Release();
    }
}

NTPortRequest_s* SCSI_NTPortIoCtl::Request() const
{
    return reinterpret_cast<NTPortRequest_s*>(RequestBytes());
}

Error_t SCSI_NTPortIoCtl::DoIO()
{
    // Sent before: a retry, or a re-issue after a unit attention.
    if (const NTPortRequest_s* request = Request(); request != nullptr && request->DeliveryState != 0) {
        RestoreBuiltRequest();
    }
    return CScsiIoCtl::DoIO();
}

void SCSI_NTPortIoCtl::RestoreBuiltRequest()
{
    // Nothing of the last attempt may answer for this one: its status,
    // sense and delivery are cleared with the port's rewrites.
    NTPortRequest_s* request = Request();
    SCSI_PASS_THROUGH_DIRECT built = *m_pBuilt;
    std::memcpy(built.Cdb, request->Spt.Cdb, sizeof built.Cdb);  // the port leaves the CDB alone
    request->Spt = built;
    std::memset(&request->Sense, 0, sizeof request->Sense);
    request->DeliveryState = 0;
    request->DeliveryDetail = 0;
    SetSenseValid(false);
}

Error_t SCSI_NTPortIoCtl::GetDriverStatus()
{
    const NTPortRequest_s* request = Request();
    return request != nullptr ? CNTPortDriver::CompletionStatus(*request) : ERR_NO_RESOURCE;
}

unsigned char* SCSI_NTPortIoCtl::GetCdb(bool clear)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port GetCdb");
    NTPortRequest_s* request = Request();
    if (request == nullptr || IsRetryCmd()) {
        return nullptr;
    }
    if (clear) {
        ClearRequestState();
    }
    return request->Spt.Cdb;
}

Error_t SCSI_NTPortIoCtl::SetBuffer(void* data, long length)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl:NT Port SetBuffer");
    NTPortRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    request->Spt.DataBuffer = data;
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t SCSI_NTPortIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                      long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port  CompleteCmd");
    if (Error_t refused = CheckCompleteCmd(dataLength); refused != ERR_NONE) {
        return refused;
    }
    if (m_PathStatus != ERR_NONE) {
        return m_PathStatus;
    }
    const CDevAddress& address = Address();
    RecordCommand(timeout, lba, blocks, option);
    SCSI_PASS_THROUGH_DIRECT& spt = Request()->Spt;
    spt.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
    spt.PathId = m_Path.PathId;
    spt.TargetId = m_Path.TargetId;
    spt.Lun = static_cast<UCHAR>(address.m_Lun);
    spt.CdbLength = ClampCdbLength(cdbLength);
    spt.DataTransferLength = static_cast<ULONG>(dataLength);
    spt.TimeOutValue = static_cast<ULONG>(timeout);
    spt.SenseInfoOffset = offsetof(NTPortRequest_s, Sense);
    spt.SenseInfoLength = kSenseBytes;
    spt.DataIn = DataInFor(TakeCommandKind(dataLength, flags));
    std::memset(&Request()->Sense, 0, sizeof Request()->Sense);
    *m_pBuilt = spt;
    m_pBuilt->ScsiStatus = 0;
    return ERR_NONE;
}

Error_t SCSI_NTPortIoCtl::IsCommandComplete()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port  IsCommandComplete");
    NTPortRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if (GetStatus() != ERR_CMD_NOT_STARTED && GetStatus() != ERR_CMD_PENDING) {
        return GetStatus();
    }
    const Error_t completion = Driver()->GetCompletion(request, true);
    if (completion == ERR_NONE) {
        StopTimer();
        SetStatus(request->DeliveryState == NTPortRequest_s::kDeliverySent ? ERR_CMD_COMPLETE : ProcessError());
        UpdatePerformance();
    } else if (completion == ERR_CMD_PENDING) {
        SetStatus(ERR_CMD_PENDING);
    } else {
        // The error event still reports the check condition and its sense
        // (its code comes from GetDriverStatus).
        StopTimer();
        SetStatus(ERR_DRIVER_FAILURE);
    }
    return GetStatus();
}

SCSI_SenseData_s* SCSI_NTPortIoCtl::GetSenseData()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port GetSenseData");
    NTPortRequest_s* request = Request();
    return request != nullptr ? &request->Sense : nullptr;
}

unsigned char SCSI_NTPortIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port GetCdbLen");
    const NTPortRequest_s* request = Request();
    return request != nullptr ? request->Spt.CdbLength : 255;
}

void SCSI_NTPortIoCtl::FillSRB(void* srb)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port FillSRB");
    const NTPortRequest_s* request = Request();
    if (request == nullptr || srb == nullptr) {
        return;
    }
    const CDevAddress& address = Address();
    auto* block = static_cast<SRB_ExecSCSICmd*>(srb);
    block->SRB_Cmd = SRB_ExecSCSICmd::SC_EXEC_SCSI_CMD;
    block->SRB_HaId = static_cast<BYTE>(address.m_HostAdapter);
    block->SRB_Target = static_cast<BYTE>(address.m_Target);
    block->SRB_Lun = static_cast<BYTE>(address.m_Lun);
    block->SRB_Flags = SrbFlagsFor(request->Spt.DataIn);
    // The port answers with the bytes the device moved: a short answer shows.
    block->SRB_BufLen = static_cast<DWORD>(request->Spt.DataTransferLength);
    block->SRB_BufPointer = static_cast<BYTE*>(request->Spt.DataBuffer);
    block->SRB_CDBLen = request->Spt.CdbLength;
    block->SRB_TargStat = request->Spt.ScsiStatus;
    std::memcpy(block->CDBByte, request->Spt.Cdb, sizeof block->CDBByte);
    block->SenseArea = request->Sense;
    if (IsKnownSenseFormat(request->Sense.ResponseCode)) {
        // A device's additional length is not trusted past the sense area.
        const int length = request->Sense.AdditionalSenseLength + kSenseHeaderBytes;
        block->SRB_SenseLen = static_cast<BYTE>(std::min(length, kSenseBytes));
    }
}

bool SCSI_NTPortIoCtl::GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port GetIOStatii");
    const NTPortRequest_s* request = Request();
    Error_t target = ERR_NO_TRANSLATION;
    if (request == nullptr ||
        !search_table(kTargetStatusTable, kTargetStatusRows, request->Spt.ScsiStatus, &target)) {
        target = ERR_NO_TRANSLATION;
    }
    if (srbStatus != nullptr) {
        *srbStatus = ERR_NONE;
    }
    if (haStatus != nullptr) {
        *haStatus = ERR_DRIVER_IO;  // the pass-through reports no adapter status
    }
    if (targetStatus != nullptr) {
        *targetStatus = target;
    }
    return true;
}

Error_t SCSI_NTPortIoCtl::ProcessError()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NT Port ProcessError");
    const NTPortRequest_s* request = Request();
    if (request != nullptr && request->Spt.ScsiStatus == kStatusCheckCondition) {
        SetSenseValid(true);
        return ERR_CHECK_CONDITION;
    }
    return GetDriverStatus();
}
