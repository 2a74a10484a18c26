#include "core/transport/SCSI_NOXIoCtl.h"

#include "core/log/GTrace.h"
#include "core/transport/SCSI_NOXWrapper.h"
#include "core/transport/SRB_ExecSCSICmd.h"
#include "platform/Kernel.h"

#include <cstring>

namespace {

constexpr DWORD kBusResetDelayMs = 500;
constexpr BYTE kCodeDone = 1;
constexpr BYTE kCodeDataOverrun = 18;

// Byte 1 as an adapter status for the front ends: the library's codes, but
// a check condition and a busy target are no adapter fault.
constexpr ERR_XTBL kAdapterStatusTable[] = {
    {0, ERR_CMD_PENDING},         {1, ERR_NONE},
    {2, ERR_CMD_ABORTED},         {3, ERR_ABORT_FAILED},
    {4, ERR_DRIVER_IO},           {5, ERR_CMD_NOT_STARTED},
    {6, ERR_INVALID_REQUEST},     {7, ERR_INVALID_PATH_ID},
    {8, ERR_NO_DEVICE},           {9, ERR_TIMEOUT},
    {10, ERR_SELECTION_TIMEOUT},  {11, ERR_COMMAND_TIMEOUT},
    {13, ERR_MESSAGE_REJECTED},   {14, ERR_BUS_RESET},
    {15, ERR_PARITY},             {16, ERR_REQSENSE_FAILED},
    {17, ERR_NO_HOST_ADAPTER},    {18, ERR_DATA_OVERRUN},
    {19, ERR_UNEXPECTED_BUS_FREE}, {20, ERR_PHASE_SEQUENCE},
    {21, ERR_BAD_SRB_LENGTH},     {22, ERR_REQUEST_FLUSHED},
    {32, ERR_INVALID_LUN},        {33, ERR_INVALID_TARGET},
    {34, ERR_BAD_FUNCTION},       {35, ERR_ERROR_RECOVERY},
};
constexpr int kAdapterStatusRows = sizeof(kAdapterStatusTable) / sizeof(kAdapterStatusTable[0]);
static_assert(kAdapterStatusRows == 26);

struct SrbStatii_s {
    BYTE Srb;
    BYTE HostAdapter;
};

// Byte 1 in ASPI terms.
SrbStatii_s SrbStatiiFor(BYTE code)
{
    switch (code) {
    case 0:
    case 1:
    case 2:
    case 3:
        return {code, 0};
    case 5:
        return {0xE5, 0};
    case 6:
        return {0xE0, 0};
    case 7:
    case 17:
        return {0x81, 0};
    case 8:
    case 32:
    case 33:
        return {0x82, 0};
    case 9:
        return {4, 0x09};
    case 10:
        return {4, 0x11};
    case 11:
        return {4, 0x0B};
    case 13:
        return {4, 0x0D};
    case 14:
        return {4, 0x0E};
    case 15:
        return {4, 0x0F};
    case 16:
        return {4, 0x10};
    case 18:
        return {4, 0x12};
    case 19:
    case 20:
        return {4, 0x14};
    default:
        return {4, 0};
    }
}

BYTE SrbCommandFor(BYTE function)
{
    switch (function) {
    case 16:
        return 3;
    case 19:
        return 4;
    default:
        return SRB_ExecSCSICmd::SC_EXEC_SCSI_CMD;
    }
}

BYTE CodeOf(const NoxRequest_s& request)
{
    return request.Completion & NoxRequest_s::CODE_MASK;
}

}  // namespace

SCSI_NOXIoCtl::SCSI_NOXIoCtl(const CDevAddress& address, unsigned char blockIndex)
    : CScsiIoCtl(address, blockIndex)
{
    MakeRequestMemory(sizeof(NoxRequest_s));
    AttachDriver(SCSI_NOXWrapper::Acquire());
}

SCSI_NOXIoCtl::SCSI_NOXIoCtl(const SCSI_NOXIoCtl& other) : CScsiIoCtl(other)
{
    SCSI_NOXWrapper::Acquire();  // released again by this copy's destructor
}

SCSI_NOXIoCtl::~SCSI_NOXIoCtl()
{
    if (Driver() != nullptr) {
        Driver()->Release();
    }
}

NoxRequest_s* SCSI_NOXIoCtl::Request() const
{
    return reinterpret_cast<NoxRequest_s*>(RequestBytes());
}

Error_t SCSI_NOXIoCtl::GetDriverStatus()
{
    const NoxRequest_s* request = Request();
    return request != nullptr ? SCSI_NOXWrapper::Translate(CodeOf(*request)) : ERR_NO_RESOURCE;
}

unsigned char* SCSI_NOXIoCtl::GetCdb(bool clear)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX GetCdb");
    NoxRequest_s* request = Request();
    if (request == nullptr || (clear && IsRetryCmd())) {
        return nullptr;
    }
    if (clear) {
        ClearRequestState();
    }
    return request->Cdb;
}

Error_t SCSI_NOXIoCtl::SetBuffer(void* data, long length)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl:NOX SetBuffer");
    NoxRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    request->DataBuffer = data;
    SetBufferLength(length);
    return ERR_NONE;
}

Error_t SCSI_NOXIoCtl::CompleteCmd(unsigned char cdbLength, unsigned long dataLength, unsigned long flags,
                                   long timeout, unsigned long lba, unsigned long blocks, unsigned char option)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX CompleteCmd");
    if (Error_t refused = CheckCompleteCmd(dataLength); refused != ERR_NONE) {
        return refused;
    }
    RecordCommand(timeout, lba, blocks, option);
    NoxRequest_s* request = Request();
    request->Function = NoxRequest_s::FUNCTION_EXECUTE;
    request->CdbLength = ClampCdbLength(cdbLength);
    request->DataLength = static_cast<DWORD>(dataLength);
    request->Timeout = static_cast<DWORD>(timeout);
    DWORD requestFlags = 0;
    switch (TakeCommandKind(dataLength, flags)) {
    case kKindDataIn:
        requestFlags = NoxRequest_s::FLAG_DATA_IN;
        break;
    case kKindDataOut:
        requestFlags = NoxRequest_s::FLAG_DATA_OUT;
        break;
    default:
        break;
    }
    if (GetBlockIndex() != 0) {
        requestFlags |= NoxRequest_s::FLAG_TAGGED;
        request->QueueTag = static_cast<BYTE>(GetQueueType());
    }
    request->Flags = requestFlags;
    std::memset(&request->Sense, 0, sizeof request->Sense);
    return ERR_NONE;
}

Error_t SCSI_NOXIoCtl::IsCommandComplete()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX IsCommandComplete");
    NoxRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if (GetStatus() != ERR_CMD_NOT_STARTED && GetStatus() != ERR_CMD_PENDING) {
        return GetStatus();
    }
    const Error_t completion = Driver()->GetCompletion(request, GetBlockIndex() == 0);
    if (completion == ERR_NONE) {
        StopTimer();
        SetStatus(CompletedStatus(request));
        UpdatePerformance();
    } else if (completion == ERR_CMD_PENDING) {
        SetStatus(ERR_CMD_PENDING);
    } else {
        StopTimer();
        SetStatus(ERR_DRIVER_FAILURE);
    }
    AbsorbUnitAttention();
    return GetStatus();
}

Error_t SCSI_NOXIoCtl::CompletedStatus(NoxRequest_s* request)
{
    if (CodeOf(*request) == kCodeDataOverrun) {
        // A short transfer is a good completion.
        request->Completion = static_cast<BYTE>((request->Completion & ~NoxRequest_s::CODE_MASK) | kCodeDone);
    }
    const BYTE code = CodeOf(*request);
    if (IgnoreUnitAttn()) {
        if (code == kCodeDone) {
            ResetRetryCount();
            return ERR_CMD_COMPLETE;
        }
        return ProcessError();
    }
    return code == kCodeDone && request->ScsiStatus == 0 ? ERR_CMD_COMPLETE : ProcessError();
}

void SCSI_NOXIoCtl::AbsorbUnitAttention()
{
    if (!IgnoreUnitAttn() || static_cast<long>(GetRetryCount()) >= GetNumUnitAttnRetries()) {
        return;
    }
    if (GetStatus() == ERR_CHECK_CONDITION && IsUnitAttnError()) {
        SetStatus(ERR_SK_UNIT_ATTENTION);
    } else if (GetStatus() == ERR_BUS_RESET) {
        Sleep(kBusResetDelayMs);
    }
}

SCSI_SenseData_s* SCSI_NOXIoCtl::GetSenseData()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX GetSenseData");
    NoxRequest_s* request = Request();
    return request != nullptr ? &request->Sense : nullptr;
}

unsigned char SCSI_NOXIoCtl::GetCdbLen()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX GetCdbLen");
    const NoxRequest_s* request = Request();
    return request != nullptr ? request->CdbLength : 255;
}

void SCSI_NOXIoCtl::FillSRB(void* srb)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX FillSRB");
    const NoxRequest_s* request = Request();
    if (request == nullptr || srb == nullptr) {
        return;
    }
    CDevAddress address;
    GetDevAddress(address);
    auto* block = static_cast<SRB_ExecSCSICmd*>(srb);
    const SrbStatii_s statii = SrbStatiiFor(CodeOf(*request));
    block->SRB_Cmd = SrbCommandFor(request->Function);
    block->SRB_Status = statii.Srb;
    block->SRB_HaStat = statii.HostAdapter;
    block->SRB_HaId = static_cast<BYTE>(address.m_HostAdapter);
    block->SRB_Target = static_cast<BYTE>(address.m_Target);
    block->SRB_Lun = static_cast<BYTE>(address.m_Lun);
    block->SRB_TargStat = request->ScsiStatus;
    block->SRB_CDBLen = request->CdbLength;
    block->SRB_Flags = 0;
    if ((request->Flags & NoxRequest_s::FLAG_DATA_IN) != 0) {
        block->SRB_Flags |= SRB_ExecSCSICmd::SRB_DIR_IN;
    }
    if ((request->Flags & NoxRequest_s::FLAG_DATA_OUT) != 0) {
        block->SRB_Flags |= SRB_ExecSCSICmd::SRB_DIR_OUT;
    }
    block->SRB_BufLen = static_cast<DWORD>(BufferLength());
    block->SRB_BufPointer = static_cast<BYTE*>(request->DataBuffer);
    std::memcpy(block->CDBByte, request->Cdb, sizeof block->CDBByte);
    block->SenseArea = request->Sense;
}

bool SCSI_NOXIoCtl::GetIOStatii(Error_t* srbStatus, Error_t* haStatus, Error_t* targetStatus)
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX GetIOStatii");
    const NoxRequest_s* request = Request();
    Error_t adapter = ERR_DRIVER_IO;
    Error_t target = ERR_NO_TRANSLATION;
    if (request != nullptr) {
        if (!search_table(kAdapterStatusTable, kAdapterStatusRows, CodeOf(*request), &adapter)) {
            adapter = ERR_DRIVER_IO;
        }
        if (!search_table(kTargetStatusTable, kTargetStatusRows, request->ScsiStatus, &target)) {
            target = ERR_NO_TRANSLATION;
        }
    }
    if (srbStatus != nullptr) {
        *srbStatus = ERR_NONE;
    }
    if (haStatus != nullptr) {
        *haStatus = adapter;
    }
    if (targetStatus != nullptr) {
        *targetStatus = target;
    }
    return true;
}

Error_t SCSI_NOXIoCtl::SetQueueType(QTYPE_ENUM type)
{
    SetQueueTypeValue(type);
    return ERR_NONE;
}

Error_t SCSI_NOXIoCtl::ProcessError()
{
    GTrace trace(kTraceLevel, "CScsiIoCtl: NOX ProcessError");
    const NoxRequest_s* request = Request();
    if (request == nullptr) {
        return ERR_NO_RESOURCE;
    }
    if ((request->Completion & NoxRequest_s::SENSE_PRESENT) != 0) {
        SetSenseValid(true);
    }
    return request->ScsiStatus != 0 ? ERR_CHECK_CONDITION : GetDriverStatus();
}
