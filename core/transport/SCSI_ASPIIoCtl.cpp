#include "core/transport/SCSI_ASPIIoCtl.h"

#include "core/log/GTrace.h"
#include "core/transport/AspiStatusTables.h"
#include "core/transport/CASPIDriver.h"

#include <cstring>

SCSI_ASPIIoCtl::SCSI_ASPIIoCtl(const CDevAddress& address, unsigned char blockIndex)
    : CScsiIoCtl(address, blockIndex)
{
    MakeRequestMemory(sizeof(SRB_ExecSCSICmd));
    CASPIDriver* driver = CASPIDriver::Acquire();
    AttachDriver(driver);
    // ASPI addresses the device inside the request, not through a handle.
    SetStatus(driver->IsLoaded() ? ERR_NONE : ERR_DRIVER_FAILURE);
    if (Request() != nullptr) {
        WriteAddress();
    }
}

SCSI_ASPIIoCtl::SCSI_ASPIIoCtl(const SCSI_ASPIIoCtl& other) : CScsiIoCtl(other), m_bSent(other.m_bSent)
{
    CASPIDriver::Acquire();  // released again by this copy's destructor
}

SCSI_ASPIIoCtl::~SCSI_ASPIIoCtl()
{
    if (m_bSent && Request() != nullptr) {
        Driver()->GetCompletion(Request(), true);
    }
    Driver()->Release();
}

SRB_ExecSCSICmd* SCSI_ASPIIoCtl::Request() const
{
    return reinterpret_cast<SRB_ExecSCSICmd*>(RequestBytes());
}

void SCSI_ASPIIoCtl::WriteAddress()
{
    CDevAddress address;
    GetDevAddress(address);
    SRB_ExecSCSICmd* srb = Request();
    srb->SRB_HaId = static_cast<BYTE>(address.m_HostAdapter);
    srb->SRB_Target = static_cast<BYTE>(address.m_Target);
    srb->SRB_Lun = static_cast<BYTE>(address.m_Lun);
}

Error_t SCSI_ASPIIoCtl::DoIO()
{
    const Error_t accepted = CScsiIoCtl::DoIO();
    m_bSent = Request() != nullptr;
    return accepted;
}

Error_t SCSI_ASPIIoCtl::GetDriverStatus()
{
    const SRB_ExecSCSICmd* srb = Request();
    return srb != nullptr ? CASPIDriver::CompletionStatus(*srb) : ERR_NO_RESOURCE;
}

unsigned char* SCSI_ASPIIoCtl::GetCdb(bool clear)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdb");
    SRB_ExecSCSICmd* srb = Request();
    if (srb == nullptr || IsRetryCmd()) {
        return nullptr;
    }
    if (clear) {
        if (m_bSent) {
            Driver()->GetCompletion(srb, true);  // the layer may still write into it
            m_bSent = false;
        }
        ClearRequestState();
    }
    return srb->CDBByte;
}

Error_t SCSI_ASPIIoCtl::SetBuffer(void* data, long length)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: SetBuffer");
    SRB_ExecSCSICmd* srb = Request();
    if (srb == nullptr) {
        return ERR_NO_RESOURCE;
    }
    srb->SRB_BufPointer = static_cast<BYTE*>(data);
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t SCSI_ASPIIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                    long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ASPI CompleteCmd");
    if (Error_t refused = CheckCompleteCmd(dataLength); refused != ERR_NONE) {
        return refused;
    }
    RecordCommand(timeout, lba, blocks, option);
    TakeCommandKind(dataLength, flags);
    SRB_ExecSCSICmd* srb = Request();
    srb->SRB_Cmd = SRB_ExecSCSICmd::SC_EXEC_SCSI_CMD;
    WriteAddress();
    srb->SRB_Flags = static_cast<BYTE>(flags);
    srb->SRB_Hdr_Rsvd = static_cast<DWORD>(timeout);
    srb->SRB_BufLen = static_cast<DWORD>(dataLength);
    srb->SRB_SenseLen = kSenseBytes;
    srb->SRB_CDBLen = ClampCdbLength(cdbLength);
    std::memset(&srb->SenseArea, 0, sizeof srb->SenseArea);
    return ERR_NONE;
}

Error_t SCSI_ASPIIoCtl::IsCommandComplete()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ASPI IsCommandComplete");
    SRB_ExecSCSICmd* srb = Request();
    if (srb == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if (GetStatus() != ERR_CMD_NOT_STARTED && GetStatus() != ERR_CMD_PENDING) {
        return GetStatus();
    }
    const Error_t completion = Driver()->GetCompletion(srb, GetBlockIndex() == 0);
    if (completion == ERR_CMD_PENDING) {
        SetStatus(ERR_CMD_PENDING);
        return GetStatus();
    }
    m_bSent = false;
    StopTimer();
    if (completion == ERR_NONE) {
        SetStatus(ERR_CMD_COMPLETE);
        UpdatePerformance();
    } else {
        SetStatus(ProcessError());
    }
    return GetStatus();
}

SCSI_SenseData_s* SCSI_ASPIIoCtl::GetSenseData()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ASPI GetSenseData");
    SRB_ExecSCSICmd* srb = Request();
    return srb != nullptr ? &srb->SenseArea : nullptr;
}

unsigned char SCSI_ASPIIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdbLen");
    const SRB_ExecSCSICmd* srb = Request();
    return srb != nullptr ? srb->SRB_CDBLen : 255;
}

void SCSI_ASPIIoCtl::FillSRB(void* srb)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ASPI FillSRB");
    const SRB_ExecSCSICmd* request = Request();
    if (request != nullptr && srb != nullptr) {
        std::memcpy(srb, request, sizeof *request);
    }
}

bool SCSI_ASPIIoCtl::GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ASPI GetIOStatii");
    const SRB_ExecSCSICmd* srb = Request();
    Error_t srbResult = ERR_DRIVER_IO;
    Error_t haResult = ERR_DRIVER_IO;
    Error_t targetResult = ERR_NO_TRANSLATION;
    if (srb != nullptr) {
        if (!search_table(kAspiSrbStatusTable, kAspiSrbStatusRows, srb->SRB_Status, &srbResult)) {
            srbResult = ERR_DRIVER_IO;
        }
        if (!search_table(kAspiHaStatusTable, kAspiHaStatusRows, srb->SRB_HaStat, &haResult)) {
            haResult = ERR_DRIVER_IO;
        }
        if (!search_table(kTargetStatusTable, kTargetStatusRows, srb->SRB_TargStat, &targetResult)) {
            targetResult = ERR_NO_TRANSLATION;
        }
    }
    if (srbStatus != nullptr) {
        *srbStatus = srbResult;
    }
    if (haStatus != nullptr) {
        *haStatus = haResult;
    }
    if (targetStatus != nullptr) {
        *targetStatus = targetResult;
    }
    return true;
}

Error_t SCSI_ASPIIoCtl::ProcessError()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: ASPI ProcessError");
    const SRB_ExecSCSICmd* srb = Request();
    if (srb != nullptr && srb->SRB_TargStat != 0) {
        SetSenseValid(true);
    }
    return GetDriverStatus();
}
