#include "core/devices/SCSIDevice.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/log/GTrace.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/ScsiOpcode.h"
#include "core/types/ByteOrder.h"
#include "core/types/CEventBase.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned long kIn = ScsiCommand::kDataIn;
constexpr unsigned long kOut = ScsiCommand::kDataOut;

unsigned char Bit(int on, int position)
{
    return static_cast<unsigned char>((on != 0 ? 1 : 0) << position);
}

// Page code in bits 0-5, page control in bits 6-7.
unsigned char PageByte(int page, int pc)
{
    return static_cast<unsigned char>((page & 0x3F) | ((pc & 0x3) << 6));
}

unsigned long SizeOf(const AlignedBuffer* buf)
{
    return buf != nullptr ? buf->Size() : 0;
}

unsigned long Length(long len)
{
    return len > 0 ? static_cast<unsigned long>(len) : 0;
}

constexpr long kMaxField8 = 0xFF;
constexpr long kMaxField16 = 0xFFFF;

// A length its CDB field cannot carry would ask the device for less than
// the caller expects and still report success.
bool Fits(long length, long fieldMax)
{
    return length >= 0 && length <= fieldMax;
}

bool Fits16(const AlignedBuffer* buf)
{
    return SizeOf(buf) <= static_cast<unsigned long>(kMaxField16);
}

constexpr int kIdentificationPage = 0x83;
constexpr long kIdentificationBytes = 128;
constexpr int kCodeSetBinary = 1;
constexpr int kDesignatorNaa = 3;
constexpr int kIdentifierBytes = 8;

}  // namespace

Error_t SCSIDevice::Inquiry(unsigned long index, AlignedBuffer* buf, long len, int evpd, int page)
{
    GTrace trace(kTraceLevel, "SCSIDevice Inquiry");
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::Inquiry);
    command.Cdb[1] = LunBits() | Bit(evpd, 0);
    command.Cdb[2] = static_cast<unsigned char>(page);
    command.Cdb[4] = static_cast<unsigned char>(len);
    command.Transfer(buf, Length(len), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::TestUnitReady(unsigned long index)
{
    GTrace trace(kTraceLevel, "SCSIDevice TestUnitReady");
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::TestUnitReady);
    command.Cdb[1] = LunBits();
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::RequestSense(unsigned long index, AlignedBuffer* buf)
{
    GTrace trace(kTraceLevel, "SCSIDevice RequestSense");
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::RequestSense);
    command.Cdb[1] = LunBits();
    command.Cdb[4] = 0x80;
    command.Transfer(buf, SizeOf(buf), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::SendDiagnostic(unsigned long index, AlignedBuffer* buf, int selfTestCode, int unitOffL,
                                   int devOffL, int selfTest, int pf)
{
    GTrace trace(kTraceLevel, "SCSIDevice SendDiagnostic");
    if (!Fits16(buf)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::SendDiagnostic);
    command.Cdb[1] = static_cast<unsigned char>(((selfTestCode & 0x7) << 5) | Bit(pf, 4) | Bit(selfTest, 2) |
                                                Bit(devOffL, 1) | Bit(unitOffL, 0));
    command.Put16(3, SizeOf(buf));
    command.Transfer(buf, SizeOf(buf), kOut);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::RecvDiagnosticResults(unsigned long index, AlignedBuffer* buf)
{
    GTrace trace(kTraceLevel, "SCSIDevice RecvDiagnosticResults");
    if (!Fits16(buf)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ReceiveDiagnosticResults);
    command.Cdb[1] = LunBits();
    command.Put16(3, SizeOf(buf));
    command.Transfer(buf, SizeOf(buf), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::ModeSense6(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int page, int pc, int dbd)
{
    GTrace trace(kTraceLevel, "SCSIDevice ModeSense6");
    if (!Fits(len, kMaxField8)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ModeSense6);
    command.Cdb[1] = LunBits() | Bit(dbd, 3);
    command.Cdb[2] = PageByte(page, pc);
    command.Cdb[4] = static_cast<unsigned char>(len);
    command.Transfer(buf, Length(len), kIn);
    return RunCommand(ctl, command);
}

Error_t SCSIDevice::ModeSense10(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int page, int pc, int dbd)
{
    GTrace trace(kTraceLevel, "SCSIDevice ModeSense10");
    if (!Fits(len, kMaxField16)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ModeSense10);
    command.Cdb[1] = LunBits() | Bit(dbd, 3);
    command.Cdb[2] = PageByte(page, pc);
    command.Put16(7, Length(len));
    command.Transfer(buf, Length(len), kIn);
    return RunCommand(ctl, command);
}

Error_t SCSIDevice::ModeSelect6(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int pf, int sp)
{
    GTrace trace(kTraceLevel, "SCSIDevice ModeSelect6");
    if (!Fits(len, kMaxField8)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ModeSelect6);
    command.Cdb[1] = LunBits() | Bit(pf, 4) | Bit(sp, 0);
    command.Cdb[4] = static_cast<unsigned char>(len);
    command.Transfer(buf, Length(len), kOut);
    return RunCommand(ctl, command);
}

Error_t SCSIDevice::ModeSelect10(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int pf, int sp)
{
    GTrace trace(kTraceLevel, "SCSIDevice ModeSelect10");
    if (!Fits(len, kMaxField16)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ModeSelect10);
    command.Cdb[1] = LunBits() | Bit(pf, 4) | Bit(sp, 0);
    command.Put16(7, Length(len));
    command.Transfer(buf, Length(len), kOut);
    return RunCommand(ctl, command);
}

Error_t SCSIDevice::LogSense(unsigned long index, AlignedBuffer* buf, int len, int pc, int page, int ppc, int sp)
{
    GTrace trace(kTraceLevel, "SCSIDevice LogSense");
    if (!Fits(len, kMaxField16)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::LogSense);
    command.Cdb[1] = LunBits() | Bit(ppc, 1) | Bit(sp, 0);
    command.Cdb[2] = PageByte(page, pc);
    command.Put16(7, Length(len));
    command.Transfer(buf, Length(len), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::LogSelect(unsigned long index, AlignedBuffer* buf, int len, int pcr, int sp, int pc)
{
    GTrace trace(kTraceLevel, "SCSIDevice LogSelect");
    if (!Fits(len, kMaxField16)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::LogSelect);
    command.Cdb[1] = LunBits() | Bit(pcr, 1) | Bit(sp, 0);
    command.Cdb[2] = PageByte(0, pc);
    command.Put16(7, Length(len));
    command.Transfer(buf, Length(len), kOut);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::ReadBuffer(unsigned long index, long offset, long len, AlignedBuffer* buf, int mode,
                               int bufferId)
{
    GTrace trace(kTraceLevel, "SCSIDevice ReadBuffer");
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ReadBuffer);
    command.Cdb[1] = static_cast<unsigned char>(mode & 0x7);
    command.Cdb[2] = static_cast<unsigned char>(bufferId);
    command.Put24(3, static_cast<unsigned long>(offset));
    command.Put24(6, Length(len));
    command.Transfer(buf, SizeOf(buf), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::WriteBuffer(unsigned long index, long offset, long len, AlignedBuffer* buf, int mode,
                                int bufferId)
{
    GTrace trace(kTraceLevel, "SCSIDevice WriteBuffer");
    ScsiCommand command(10, CScsiIoCtl::NO_TIMEOUT);
    command.Cdb[0] = OpByte(ScsiOp::WriteBuffer);
    command.Cdb[1] = LunBits() | static_cast<unsigned char>(mode & 0x7);
    command.Cdb[2] = static_cast<unsigned char>(bufferId);
    command.Put24(3, static_cast<unsigned long>(offset));
    command.Put24(6, Length(len));
    command.Transfer(buf, Length(len), kOut);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::ReportLUNs(unsigned long index, AlignedBuffer* buf)
{
    GTrace trace(kTraceLevel, "SCSIDevice ReportLUNs");
    ScsiCommand command(12, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ReportLuns);
    command.Put32(6, SizeOf(buf));
    command.Transfer(buf, SizeOf(buf), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t SCSIDevice::PersistentReserveIn(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int serviceAction)
{
    GTrace trace(kTraceLevel, "SCSIDevice PersistentReserveIn");
    if (buf == nullptr || !Fits(len, kMaxField16) || buf->Size() < static_cast<unsigned long>(len)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::PersistentReserveIn);
    command.Cdb[1] = static_cast<unsigned char>(serviceAction & 0x1F);
    command.Put16(7, Length(len));
    command.Transfer(buf, Length(len), kIn);
    return RunCommand(ctl, command);
}

Error_t SCSIDevice::PersistentReserveOut(CScsiIoCtl* ctl, AlignedBuffer* buf, long len, int serviceAction,
                                         int scope, int type)
{
    GTrace trace(kTraceLevel, "SCSIDevice PersistentReserveOut");
    if (buf == nullptr || !Fits(len, kMaxField16) || buf->Size() < static_cast<unsigned long>(len)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::PersistentReserveOut);
    command.Cdb[1] = static_cast<unsigned char>(serviceAction & 0x1F);
    command.Cdb[2] = static_cast<unsigned char>(((scope & 0xF) << 4) | (type & 0xF));
    command.Put16(7, Length(len));
    command.Transfer(buf, Length(len), kOut);
    return RunCommand(ctl, command);
}

Error_t SCSIDevice::ModeSense(unsigned long index, AlignedBuffer* buf, long len, int page, int pc, int dbd,
                              eDataHeaderKind_t* kind)
{
    if (kind != nullptr) {
        *kind = MODE_HDR_6;
    }
    if (buf != nullptr && buf->Ptr() != nullptr) {
        std::memset(buf->Ptr(), 0, std::min<unsigned long>(Length(len), buf->Size()));
    }
    return ModeSense6(GetCtlBlock(index), buf, len, page, pc, dbd);
}

Error_t SCSIDevice::ModeSelect(unsigned long index, AlignedBuffer* buf, long len, int pf, int sp,
                               eDataHeaderKind_t kind)
{
    if (kind == MODE_HDR_10) {
        return ModeSelect10(GetCtlBlock(index), buf, len, pf, sp);
    }
    return ModeSelect6(GetCtlBlock(index), buf, len, pf, sp);
}

Error_t SCSIDevice::GetGlobalID(LARGE_INTEGER* id)
{
    GTrace trace(kTraceLevel, "SCSIDevice GetGlobalID");
    if (id == nullptr) {
        return ERR_INVALID_PARAM;
    }
    AlignedBuffer page(kIdentificationBytes);
    std::memset(page.Ptr(), 0, page.Size());
    if (Error_t refused = Inquiry(0, &page, kIdentificationBytes, 1, kIdentificationPage); refused != ERR_NONE) {
        return refused;
    }
    const auto* bytes = static_cast<const unsigned char*>(page.Ptr());
    // Anything but a binary NAA identifier of at least eight bytes is not this page's answer.
    if (bytes[1] != kIdentificationPage || (bytes[4] & 0x0F) != kCodeSetBinary ||
        (bytes[5] & 0x0F) != kDesignatorNaa || bytes[7] < kIdentifierBytes) {
        throw static_cast<CEventBase*>(nullptr);
    }
    DWORD high = 0;
    DWORD low = 0;
    grab_bytes(bytes + 8, 4, &high, sizeof high);
    grab_bytes(bytes + 12, 4, &low, sizeof low);
    id->u.HighPart = static_cast<LONG>(high);
    id->u.LowPart = low;
    return ERR_NONE;
}
