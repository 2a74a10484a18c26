#include "core/transport/SCSI_TestIoCtl.h"

#include "core/log/GTrace.h"
#include "core/transport/AspiStatusTables.h"
#include "core/transport/CTestDriver.h"
#include "core/transport/SRB_ExecSCSICmd.h"

#include <cstring>

SCSI_TestIoCtl::SCSI_TestIoCtl(const CDevAddress& address, unsigned char blockIndex)
    : CScsiIoCtl(address, blockIndex)
{
    MakeRequestMemory(sizeof(TestRequest_s));
    AttachDriver(CTestDriver::Acquire());
    SetStatus(ERR_NONE);  // the request names the device; there is no handle
    if (Request() != nullptr) {
        WriteAddress();
    }
}

SCSI_TestIoCtl::SCSI_TestIoCtl(const SCSI_TestIoCtl& other) : CScsiIoCtl(other)
{
    CTestDriver::Acquire();  // released again by this copy's destructor
}

SCSI_TestIoCtl::~SCSI_TestIoCtl()
{
    Driver()->Release();
}

TestRequest_s* SCSI_TestIoCtl::Request() const
{
    return reinterpret_cast<TestRequest_s*>(RequestBytes());
}

void SCSI_TestIoCtl::WriteAddress()
{
    CDevAddress address;
    GetDevAddress(address);
    TestRequest_s* request = Request();
    request->Adapter = static_cast<BYTE>(address.m_HostAdapter);
    request->Target = static_cast<BYTE>(address.m_Target);
    request->Lun = static_cast<BYTE>(address.m_Lun);
}

// The status bytes stay zero on this transport, which the ASPI translation
// would read as pending for ever; the adapter's own answer is the outcome.
Error_t SCSI_TestIoCtl::GetDriverStatus()
{
    TestRequest_s* request = Request();
    return request != nullptr ? Driver()->GetCompletion(request, false) : ERR_NO_RESOURCE;
}

unsigned char* SCSI_TestIoCtl::GetCdb(bool clear)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdb");
    TestRequest_s* request = Request();
    if (request == nullptr || IsRetryCmd()) {
        return nullptr;
    }
    if (clear) {
        ClearRequestState();
    }
    return request->Cdb;
}

Error_t SCSI_TestIoCtl::SetBuffer(void* data, long length)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: SetBuffer");
    TestRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    request->Data = static_cast<BYTE*>(data);
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t SCSI_TestIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                    long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Test CompleteCmd");
    if (Error_t refused = CheckCompleteCmd(dataLength); refused != ERR_NONE) {
        return refused;
    }
    RecordCommand(timeout, lba, blocks, option);
    TakeCommandKind(dataLength, flags);
    TestRequest_s* request = Request();
    WriteAddress();
    request->Flags = static_cast<BYTE>(flags);
    request->DataLength = static_cast<DWORD>(dataLength);
    request->SenseLength = kSenseBytes;
    request->CdbLength = ClampCdbLength(cdbLength);
    std::memset(&request->Sense, 0, sizeof request->Sense);
    return ERR_NONE;
}

Error_t SCSI_TestIoCtl::IsCommandComplete()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Test IsCommandComplete");
    TestRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if (GetStatus() != ERR_CMD_NOT_STARTED && GetStatus() != ERR_CMD_PENDING) {
        return GetStatus();
    }
    StopTimer();
    if (Driver()->GetCompletion(request, GetBlockIndex() == 0) == ERR_NONE) {
        SetStatus(ERR_CMD_COMPLETE);
        UpdatePerformance();
    } else {
        SetStatus(ProcessError());
    }
    return GetStatus();
}

SCSI_SenseData_s* SCSI_TestIoCtl::GetSenseData()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Test GetSenseData");
    TestRequest_s* request = Request();
    return request != nullptr ? &request->Sense : nullptr;
}

unsigned char SCSI_TestIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: GetCdbLen");
    const TestRequest_s* request = Request();
    return request != nullptr ? request->CdbLength : 255;
}

void SCSI_TestIoCtl::FillSRB(void* srb)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Test FillSRB");
    const TestRequest_s* request = Request();
    if (request == nullptr || srb == nullptr) {
        return;
    }
    // The front ends read the ASPI layout whatever the transport.
    auto* block = static_cast<SRB_ExecSCSICmd*>(srb);
    std::memset(block, 0, sizeof *block);
    block->SRB_Cmd = SRB_ExecSCSICmd::SC_EXEC_SCSI_CMD;
    block->SRB_HaId = request->Adapter;
    block->SRB_Flags = request->Flags;
    block->SRB_Target = request->Target;
    block->SRB_Lun = request->Lun;
    block->SRB_BufLen = request->DataLength;
    block->SRB_BufPointer = request->Data;
    block->SRB_SenseLen = request->SenseLength;
    block->SRB_CDBLen = request->CdbLength;
    std::memcpy(block->CDBByte, request->Cdb, sizeof block->CDBByte);
    block->SenseArea = request->Sense;
}

bool SCSI_TestIoCtl::GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Test GetIOStatii");
    // The request carries no status bytes: each table is read at zero.
    Error_t srb = ERR_DRIVER_IO;
    Error_t ha = ERR_DRIVER_IO;
    Error_t target = ERR_NO_TRANSLATION;
    search_table(kAspiSrbStatusTable, kAspiSrbStatusRows, 0, &srb);
    search_table(kAspiHaStatusTable, kAspiHaStatusRows, 0, &ha);
    search_table(kTargetStatusTable, kTargetStatusRows, 0, &target);
    if (srbStatus != nullptr) {
        *srbStatus = srb;
    }
    if (haStatus != nullptr) {
        *haStatus = ha;
    }
    if (targetStatus != nullptr) {
        *targetStatus = target;
    }
    return true;
}

Error_t SCSI_TestIoCtl::ProcessError()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: Test ProcessError");
    return GetDriverStatus();
}
