#include "core/devices/SCSIDevice.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/log/CLogFile.h"
#include "core/log/GTrace.h"
#include "core/system/CComputerSystem.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CCdbLogEvent.h"
#include "core/types/CEventError.h"
#include "core/types/CodeMaps.h"
#include "platform/Handle.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <cstring>

namespace {

// A bus reset needs the bus to settle before the command goes out again.
constexpr DWORD kBusResetDelayMs = 500;
// INQUIRY data reaches at most this far with INQUIRY(6).
constexpr long kInquiryBytes = static_cast<long>(kInquiryDataBytes);
constexpr int kSerialPage = 0x80;
constexpr std::size_t kSerialOffset = 4;
// The additional length counts the copyright text past this many bytes.
constexpr int kCopyrightLengthBase = 92;
// SCSI-2; from SPC on, byte 1 bits 5-7 are reserved or protection fields.
constexpr int kLastVersionWithCdbLun = 2;

// Text of a fixed-size field: up to the first zero byte or the field's end.
std::string FieldText(const void* field, std::size_t size)
{
    const char* text = static_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

}  // namespace

SCSIDevice::SCSIDevice(CHostAdapter* adapter, int adapterNumber, int targetNumber, unsigned long lun)
    : m_hPoolMutex(CreateMutexA(nullptr, FALSE, nullptr))
{
    SetAddress(adapter, adapterNumber, targetNumber, lun);
}

SCSIDevice::~SCSIDevice()
{
    DropAllBlocks();
    if (m_hPoolMutex != nullptr) {
        CloseHandle(m_hPoolMutex);
    }
}

void SCSIDevice::AdoptIdentity(SCSIDevice& probe)
{
    SetDevType(probe.GetDevType());
    if (probe.IsDevLocked()) {
        LockDev();
    }
    SetVendor(probe.GetVendor());
    SetModelName(probe.GetModelName());
    SetFirmwareVersion(probe.GetFirmwareVersion());
    SetAnsiVersion(probe.GetAnsiVersion());
}

CDevAddress SCSIDevice::GetDevAddress()
{
    return CDevAddress(GetHANum(), GetTargetNum(), static_cast<std::int32_t>(GetLUNNum()), -1, -1, -1);
}

unsigned char SCSIDevice::LunBits() const
{
    if (m_AnsiVersion > kLastVersionWithCdbLun) {
        return 0;
    }
    return static_cast<unsigned char>((GetLUNNum() & 0x7) << 5);
}

Device_t SCSIDevice::int2DevType(int type)
{
    return InquiryTypeToDevice(static_cast<unsigned char>(type));
}

Interface_t SCSIDevice::int2InterfaceType(int)
{
    // A device's own interface is always parallel SCSI; adapters know better.
    return IF_SCSI;
}

Error_t SCSIDevice::BuildCommand(CScsiIoCtl* ctl, const ScsiCommand& command)
{
    unsigned char* cdb = ctl->GetCdb(true);
    if (cdb == nullptr) {
        return ERR_NO_RESOURCE;
    }
    std::memcpy(cdb, command.Cdb, std::min<std::size_t>(command.CdbLength, sizeof command.Cdb));
    if (Error_t refused = ctl->SetBuffer(command.Data, static_cast<long>(command.Capacity)); refused != ERR_NONE) {
        return refused;
    }
    return ctl->CompleteCmd(command.CdbLength, command.DataLength, command.Flags, command.Timeout, command.Lba,
                            command.Blocks, 0);
}

Error_t SCSIDevice::RunCommand(CScsiIoCtl* ctl, const ScsiCommand& command)
{
    if (ctl == nullptr) {
        return ERR_NOT_INITIALIZED;
    }
    if (!ctl->IsRetryCmd()) {
        if (Error_t refused = BuildCommand(ctl, command); refused != ERR_NONE) {
            return refused;
        }
    }
    try {
        DoIo(ctl);
    } catch (CScsiIoCtl* failed) {
        throw ProcessError(failed);
    }
    return ERR_NONE;
}

Error_t SCSIDevice::DoIo(CScsiIoCtl* ctl)
{
    if (ctl == nullptr) {
        return ERR_NOT_INITIALIZED;
    }
    LogCDB(ctl);
    if (CScsiIoCtl::IgnoreUnitAttn()) {
        return IssueAbsorbingUnitAttn(ctl);
    }
    if (ctl->DoIO() != ERR_NONE) {
        ctl->SetStatus(ctl->ProcessError());
        throw ctl;
    }
    return Settle(ctl, ctl->IsCommandComplete());
}

Error_t SCSIDevice::IssueAbsorbingUnitAttn(CScsiIoCtl* ctl)
{
    const long retries = CScsiIoCtl::GetNumUnitAttnRetries();
    for (long round = 0;; ++round) {
        if (ctl->DoIO() != ERR_NONE) {
            throw ctl;
        }
        const Error_t status = ctl->IsCommandComplete();
        const bool again = status == ERR_SK_UNIT_ATTENTION || status == ERR_BUS_RESET ||
                           (status == ERR_CHECK_CONDITION && ctl->IsUnitAttnError());
        if (!again) {
            return Settle(ctl, status);
        }
        if (round >= retries) {
            // Retries used up: the condition stays in the block and the command counts as done.
            return status;
        }
        if (status == ERR_BUS_RESET) {
            Sleep(kBusResetDelayMs);
        }
        // Re-armed, the transport collects the new completion instead of answering the old one.
        ctl->SetStatus(ERR_CMD_NOT_STARTED);
    }
}

Error_t SCSIDevice::Settle(CScsiIoCtl* ctl, Error_t status)
{
    switch (status) {
    case ERR_CMD_PENDING:
    case ERR_CMD_COMPLETE:
    case ERR_CMD_NOT_STARTED:
    case ERR_DATA_OVERRUN:
        return status;
    default:
        throw ctl;
    }
}

CEventBase* SCSIDevice::ProcessError(CScsiIoCtl* ctl)
{
    LogError(ctl->GetErrorEvent());
    if (CComputerSystem::Instance()->IsSilent() != 0) {
        return nullptr;
    }
    CEventBase* event = ctl->GetErrorEvent();
    // A probe or fallback of this thread expects the failure: no error of the drive's.
    if (m_ExpectingThread.load() != std::this_thread::get_id()) {
        CountError(event);
    }
    return event;
}

SCSIDevice::ExpectedFailures::ExpectedFailures(SCSIDevice& device)
    : m_Device(device), m_Previous(device.m_ExpectingThread.exchange(std::this_thread::get_id()))
{
}

SCSIDevice::ExpectedFailures::~ExpectedFailures()
{
    m_Device.m_ExpectingThread.store(m_Previous);
}

void SCSIDevice::CountError(const CEventBase* event)
{
    const auto* error = dynamic_cast<const CEventError*>(event);
    if (error == nullptr || error->IsHardError()) {
        IncHardErrors();
    } else {
        IncSoftErrors();
    }
}

bool SCSIDevice::ShouldLog() const
{
    // A silent device keeps its expected failures out of the log.
    return CLogFile::Instance() != nullptr && CLogFile::IsLoggingOn() && IsSilent() == 0;
}

void SCSIDevice::LogCDB(CScsiIoCtl* ctl)
{
    if (ctl == nullptr || !CLogFile::IsCDBLoggingOn() || !ShouldLog()) {
        return;
    }
    const unsigned char* cdb = ctl->GetCdb(false);
    if (cdb != nullptr) {
        CLogFile::Instance()->LogEvent(new CCdbLogEvent(GetDevAddress(), ctl->GetCdbLen(), cdb));
    }
}

void SCSIDevice::LogError(CEventBase* event)
{
    if (event == nullptr) {
        return;
    }
    if (ShouldLog() && CLogFile::IsErrorLoggingOn()) {
        CLogFile::Instance()->LogEvent(event);
    } else {
        delete event;
    }
}

void SCSIDevice::LogDeviceInfo()
{
    CLogFile* log = CLogFile::Instance();
    if (log != nullptr && CLogFile::IsLoggingOn() && CLogFile::IsDevInfoLoggingOn()) {
        log->LogDeviceInfo(this);
    }
}

Error_t SCSIDevice::Init()
{
    GTrace trace(kTraceLevel, "SCSIDevice Init");
    DropAllBlocks();
    CScsiIoCtl* block = GetHostAdapter() != nullptr ? GetHostAdapter()->CreateIoCtl(GetDevAddress(), 0) : nullptr;
    if (block == nullptr) {
        return ERR_INIT_FAILED;
    }
    m_Blocks[0].reset(block);
    if (block->GetStatus() != ERR_NONE) {
        m_Blocks[0].reset();
        return ERR_INIT_FAILED;
    }
    m_NumBlocks = 1;
    try {
        AlignedBuffer inquiry(kInquiryBytes);
        std::memset(inquiry.Ptr(), 0, inquiry.Size());
        if (Inquiry(0, &inquiry, kInquiryBytes, 0, 0) != ERR_NONE) {
            return ERR_INIT_FAILED;
        }
        SetDevProperties(static_cast<const SCSI_InquiryData_s*>(inquiry.Ptr()));
        if (ReadSerialNumber() != ERR_NONE) {
            return ERR_INIT_FAILED;
        }
    } catch (CEventBase* event) {
        delete event;
        return ERR_INIT_FAILED;
    } catch (Error_t) {
        return ERR_INIT_FAILED;
    }
    if (GetDevType() == DEV_UNKNOWN) {
        return ERR_INIT_FAILED;
    }
    UnlockDev();
    LogDeviceInfo();
    return ERR_NONE;
}

Error_t SCSIDevice::ReadSerialNumber()
{
    AlignedBuffer page(kInquiryBytes);
    std::memset(page.Ptr(), 0, page.Size());
    if (Error_t refused = Inquiry(0, &page, kInquiryBytes, 1, kSerialPage); refused != ERR_NONE) {
        return refused;
    }
    const auto* bytes = static_cast<const unsigned char*>(page.Ptr());
    // The page length is the drive's claim; the buffer ends 251 bytes after the serial starts.
    const std::size_t length = std::min<std::size_t>(bytes[3], page.Size() - kSerialOffset);
    SetSerialNum_Str(FieldText(bytes + kSerialOffset, length));
    return ERR_NONE;
}

void SCSIDevice::SetDevProperties(const SCSI_InquiryData_s* data)
{
    if (data == nullptr) {
        return;
    }
    SetDevType(int2DevType(data->PeripheralType & 0x1F));
    SetInterfaceType(int2InterfaceType(data->Versions & 0x07));
    SetAnsiVersion(data->Versions & 0x07);
    SetVendor(FieldText(data->VendorId, sizeof data->VendorId));
    SetModelName(FieldText(data->ProductId, sizeof data->ProductId));
    SetFirmwareVersion(FieldText(data->ProductRevision, sizeof data->ProductRevision));
    if (data->AdditionalLength <= kCopyrightLengthBase) {
        return;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    std::size_t start = kInquiryCopyrightOffset;
    if (bytes[start] == 0 && bytes[start + 1] != 0) {
        ++start;
    }
    // Never past the data, whatever length the drive claims.
    const std::size_t length =
        std::min<std::size_t>(data->AdditionalLength - kCopyrightLengthBase, kInquiryDataBytes - start);
    SetCopyright(FieldText(bytes + start, length));
}

Error_t SCSIDevice::SCSI_CDB_DANGER(unsigned long index, SCSI_Cdb_UserDef16Byte_s* cdb, AlignedBuffer* buf)
{
    if (cdb == nullptr || (cdb->DataLength != 0 && buf == nullptr) || (buf != nullptr && buf->Ptr() == nullptr)) {
        return ERR_INVALID_PARAM;
    }
    return IssueRaw(index, *cdb, buf != nullptr ? buf->Ptr() : nullptr, buf != nullptr ? buf->Size() : 0);
}

Error_t SCSIDevice::SCSI_CDB_DANGER(unsigned long index, SCSI_Cdb_UserDef16Byte_s* cdb, unsigned char* data)
{
    if (cdb == nullptr || (cdb->DataLength != 0 && data == nullptr)) {
        return ERR_INVALID_PARAM;
    }
    return IssueRaw(index, *cdb, data, cdb->DataLength);
}

Error_t SCSIDevice::IssueRaw(unsigned long index, const SCSI_Cdb_UserDef16Byte_s& record, void* data,
                             unsigned long capacity)
{
    GTrace trace(kTraceLevel, "SCSIDevice SCSI_CDB_DANGER");
    CScsiIoCtl* ctl = GetCtlBlock(index);
    if (ctl == nullptr) {
        return ERR_NOT_INITIALIZED;
    }
    ScsiCommand command(record.CdbLength, static_cast<long>(record.Timeout));
    // The whole array in one move: only CdbLength bytes of it are built into the request.
    std::memcpy(command.Cdb, record.Cdb, sizeof command.Cdb);
    command.Transfer(data, capacity, record.DataLength, record.Flags);
    if (!ctl->IsRetryCmd()) {
        if (Error_t refused = BuildCommand(ctl, command); refused != ERR_NONE) {
            return refused;
        }
    }
    DoIo(ctl);
    return ERR_NONE;
}
