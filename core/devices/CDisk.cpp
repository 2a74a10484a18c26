#include "core/devices/CDisk.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CdbBits.h"
#include "core/log/GTrace.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/ScsiOpcode.h"
#include "core/types/CEventError.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

constexpr unsigned long kIn = ScsiCommand::DATA_IN;
constexpr unsigned long kOut = ScsiCommand::DATA_OUT;
constexpr long kMaxBlocks6 = 256;  // a count byte of 0 means 256
constexpr unsigned long kMaxLba6 = 0x1FFFFF;
constexpr long kMaxField16 = 0xFFFF;
constexpr long kMaxField32 = 0xFFFFFFFF;
constexpr unsigned char kOpRead16 = 0x88;
constexpr unsigned char kOpWrite16 = 0x8A;
constexpr unsigned char kOpWriteVerify16 = 0x8E;
constexpr unsigned char kOpVerify16 = 0x8F;
constexpr unsigned long kCapacityBytes = 8;
constexpr unsigned long kCapacity16Bytes = 32;
constexpr unsigned char kServiceReadCapacity16 = 0x10;
constexpr unsigned long kLastBlock10 = 0xFFFFFFFF;
constexpr unsigned long kDefectHeaderBytes = 8;
constexpr int kCdbUsed12 = 3;
constexpr int kCdbUsed10 = 2;
constexpr int kSenseIllegalRequest = 5;
constexpr int kAscInvalidCdbField = 0x24;
constexpr std::size_t kParamHeaderBytes = 4;
constexpr std::size_t kPatternOffset = 8;
// SBC-3 6.5.3: the Block Limits VPD page and its MAXIMUM TRANSFER LENGTH field.
constexpr int kBlockLimitsPage = 0xB0;
constexpr long kBlockLimitsBytes = 64;
constexpr std::size_t kMaxTransferField = 8;

// Whether a count or length fits a 16-bit CDB field.
bool Fits16(long value)
{
    return value >= 0 && value <= kMaxField16;
}

// An allocation or parameter list length as a 16-bit field can carry it.
unsigned long Clamp16(unsigned long length)
{
    return std::min<unsigned long>(length, static_cast<unsigned long>(kMaxField16));
}

unsigned long SizeOf(const AlignedBuffer* buf)
{
    return buf != nullptr ? buf->Size() : 0;
}

unsigned char* BytesOf(AlignedBuffer* buf)
{
    return static_cast<unsigned char*>(buf->Ptr());
}

unsigned long BigEndian(const unsigned char* bytes, int count)
{
    unsigned long value = 0;
    for (int i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

// A silent system throws no event; the block still holds the sense data then.
bool IsIllegalRequest(const CEventBase* event, CScsiIoCtl* ctl)
{
    if (event == nullptr) {
        const SCSI_SenseData_s* sense = ctl != nullptr ? ctl->GetSenseData() : nullptr;
        return sense != nullptr && sense->SenseKey() == kSenseIllegalRequest;
    }
    const auto* error = dynamic_cast<const CEventError*>(event);
    return error != nullptr && error->GetErrorCode() == ERR_CHECK_CONDITION &&
           error->GetSenseKey() == kSenseIllegalRequest;
}

// READ LONG of the wrong length: the information field holds requested minus actual.
bool IsWrongLengthAnswer(const SCSI_SenseData_s& sense)
{
    return sense.IsValid() && sense.SenseKey() == kSenseIllegalRequest && sense.Asc() == kAscInvalidCdbField &&
           sense.IsIncorrectLength();
}

}  // namespace

CDisk::CDisk(SCSIDevice* probe)
    : SCSIDevice(probe->GetHostAdapter(), probe->GetHANum(), probe->GetTargetNum(), probe->GetLUNNum())
{
    AdoptIdentity(*probe);
    SetSerialNum_Str(probe->GetSerialNum_Str());
    SetCopyright(probe->GetCopyright());
    AllocateResource();
}

CDisk::CDisk(CHostAdapter* adapter, int adapterNumber, int targetNumber, unsigned long lun)
    : SCSIDevice(adapter, adapterNumber, targetNumber, lun)
{
}

Error_t CDisk::Init()
{
    GTrace trace(TRACE_LEVEL, "CDisk Init");
    const Error_t result = SCSIDevice::Init();
    // A drive that cannot tell its capacity yet is still a disk.
    try {
        ReadCapacity(0, 0, 0, nullptr, false);
    } catch (CEventBase* event) {
        delete event;
    }
    return result;
}

Error_t CDisk::BlockBytes(long blocks, long maxBlocks, unsigned long* bytes) const
{
    if (blocks < 0 || blocks > maxBlocks) {
        return ERR_INVALID_PARAM;
    }
    if (blocks > 0 && GetBlockLength() == 0) {
        return ERR_NOT_INITIALIZED;  // the capacity has not been read
    }
    *bytes = static_cast<unsigned long>(blocks) * GetBlockLength();
    return ERR_NONE;
}

bool CDisk::NeedsCdb16() const
{
    return GetHighBlock() > kLastBlock10;
}

Error_t CDisk::Read(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo, int fua,
                    int relAdr)
{
    if (NeedsCdb16()) {
        GTrace trace(TRACE_LEVEL, "CDisk Read16");
        return ReadWrite16(GetCtlBlock(index), kOpRead16, lba, blocks, buf, dpo, fua, relAdr, kIn);
    }
    return Read10(GetCtlBlock(index), lba, blocks, buf, dpo, fua, relAdr);
}

Error_t CDisk::Write(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int fua, int dpo,
                     int relAdr)
{
    if (NeedsCdb16()) {
        GTrace trace(TRACE_LEVEL, "CDisk Write16");
        return ReadWrite16(GetCtlBlock(index), kOpWrite16, lba, blocks, buf, dpo, fua, relAdr, kOut);
    }
    return Write10(GetCtlBlock(index), lba, blocks, buf, fua, dpo, relAdr);
}

Error_t CDisk::Seek(unsigned long index, unsigned long lba)
{
    // SEEK(10) cannot address a block past 32 bits and SBC-3 has no SEEK(16):
    // a VERIFY(16) of that one block moves the heads there instead.
    if (lba > kLastBlock10) {
        GTrace trace(TRACE_LEVEL, "CDisk Seek as Verify16");
        return Verify16(GetCtlBlock(index), kOpVerify16, lba, 1, nullptr, 0, 0, 0);
    }
    return Seek10(GetCtlBlock(index), lba);
}

unsigned long CDisk::MaxTransferBlocks(unsigned long index)
{
    GTrace trace(TRACE_LEVEL, "CDisk MaxTransferBlocks");
    // A drive without the page refuses it; that refusal is expected, so it is
    // kept out of the log and out of the drive's error counts.
    const unsigned long logState = SetSilent(true);
    try {
        const ExpectedFailures expected(*this);
        AlignedBuffer page(kBlockLimitsBytes);
        std::memset(page.Ptr(), 0, page.Size());
        const Error_t result = Inquiry(index, &page, kBlockLimitsBytes, 1, kBlockLimitsPage);
        SetLogState(logState);
        const unsigned char* bytes = BytesOf(&page);
        return result == ERR_NONE && bytes[1] == kBlockLimitsPage ? BigEndian(bytes + kMaxTransferField, 4) : 0;
    } catch (CEventBase* event) {
        delete event;
    } catch (Error_t) {
        // no buffer for the page: no limit learnt
    }
    SetLogState(logState);
    return 0;
}

Error_t CDisk::ReadWrite16(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks,
                           AlignedBuffer* buf, int dpo, int fua, int relAdr, unsigned long direction)
{
    const auto isFlag = [](int value) { return value == 0 || value == 1; };
    unsigned long bytes = 0;
    // SBC-3 dropped relative addressing; the 16-byte forms have no bit for it.
    if (!isFlag(dpo) || !isFlag(fua) || relAdr != 0) {
        return ERR_INVALID_PARAM;
    }
    if (Error_t refused = BlockBytes(blocks, kMaxField32, &bytes); refused != ERR_NONE) {
        return refused;
    }
    ScsiCommand command(16, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = opcode;
    command.Cdb[1] = CdbBit(dpo, 4) | CdbBit(fua, 3);
    command.Put64(2, lba);
    command.Put32(10, static_cast<unsigned long>(blocks));
    command.Transfer(buf, bytes, direction);
    command.Lba = lba;
    command.Blocks = static_cast<unsigned long>(blocks);
    return RunCommand(ctl, command);
}

// VERIFY(16) and WRITE AND VERIFY(16), SBC-3 5.29 and 5.35.
Error_t CDisk::Verify16(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks, AlignedBuffer* buf,
                        int dpo, int bytChk, unsigned long direction)
{
    unsigned long bytes = 0;
    if (direction != 0) {
        if (Error_t refused = BlockBytes(blocks, kMaxField32, &bytes); refused != ERR_NONE) {
            return refused;
        }
    } else if (blocks < 0 || blocks > kMaxField32) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(16, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = opcode;
    command.Cdb[1] = CdbBit(dpo, 4) | CdbBit(bytChk, 1);
    command.Put64(2, lba);
    command.Put32(10, static_cast<unsigned long>(blocks));
    if (direction != 0) {
        command.Transfer(buf, bytes, direction);
    }
    command.Lba = lba;
    command.Blocks = static_cast<unsigned long>(blocks);
    return RunCommand(ctl, command);
}

Error_t CDisk::Read6(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Read6 ***protected***");
    return ReadWrite6(ctl, OpByte(ScsiOp::Read6), lba, blocks, buf, kIn);
}

Error_t CDisk::Write6(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Write6 ***protected***");
    return ReadWrite6(ctl, OpByte(ScsiOp::Write6), lba, blocks, buf, kOut);
}

Error_t CDisk::ReadWrite6(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks,
                          AlignedBuffer* buf, unsigned long direction)
{
    // A count of 0 would ask the drive for 256 blocks; a wider LBA would reach another block.
    unsigned long bytes = 0;
    if (blocks == 0 || lba > kMaxLba6) {
        return ERR_INVALID_PARAM;
    }
    if (Error_t refused = BlockBytes(blocks, kMaxBlocks6, &bytes); refused != ERR_NONE) {
        return refused;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = opcode;
    command.Put24(1, lba);
    command.Cdb[4] = static_cast<unsigned char>(blocks);
    command.Transfer(buf, bytes, direction);
    return RunCommand(ctl, command);
}

Error_t CDisk::Read10(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo, int fua,
                      int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk Read10 ***protected***");
    return ReadWrite10(ctl, OpByte(ScsiOp::Read10), lba, blocks, buf, dpo, fua, relAdr, kIn);
}

Error_t CDisk::Write10(CScsiIoCtl* ctl, unsigned long lba, long blocks, AlignedBuffer* buf, int fua, int dpo,
                       int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk Write10 ***protected***");
    return ReadWrite10(ctl, OpByte(ScsiOp::Write10), lba, blocks, buf, dpo, fua, relAdr, kOut);
}

Error_t CDisk::ReadWrite10(CScsiIoCtl* ctl, unsigned char opcode, unsigned long lba, long blocks,
                           AlignedBuffer* buf, int dpo, int fua, int relAdr, unsigned long direction)
{
    const auto isFlag = [](int value) { return value == 0 || value == 1; };
    unsigned long bytes = 0;
    if (!isFlag(dpo) || !isFlag(fua) || !isFlag(relAdr)) {
        return ERR_INVALID_PARAM;
    }
    if (Error_t refused = BlockBytes(blocks, kMaxField16, &bytes); refused != ERR_NONE) {
        return refused;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = opcode;
    command.Cdb[1] = CdbBit(dpo, 4) | CdbBit(fua, 3) | CdbBit(relAdr, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(blocks));
    command.Transfer(buf, bytes, direction);
    command.Lba = lba;
    command.Blocks = static_cast<unsigned long>(blocks);
    return RunCommand(ctl, command);
}

Error_t CDisk::Seek6(CScsiIoCtl* ctl, unsigned long lba)
{
    GTrace trace(TRACE_LEVEL, "CDisk Seek6 ***protected***");
    if (lba > kMaxLba6) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::Seek6);
    command.Put24(1, lba);
    return RunCommand(ctl, command);
}

Error_t CDisk::Seek10(CScsiIoCtl* ctl, unsigned long lba)
{
    GTrace trace(TRACE_LEVEL, "CDisk Seek10 ***protected***");
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::Seek10);
    command.Cdb[1] = LunBits();
    command.Put32(2, lba);
    return RunCommand(ctl, command);
}

Error_t CDisk::Verify(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo, int bytChk,
                      int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk Verify");
    const bool compare = bytChk == 1;
    unsigned long bytes = 0;
    if (compare && buf == nullptr) {
        return ERR_INVALID_PARAM;
    }
    if (NeedsCdb16()) {
        return Verify16(GetCtlBlock(index), kOpVerify16, lba, blocks, buf, dpo, bytChk, compare ? kOut : 0);
    }
    if (!Fits16(blocks)) {
        return ERR_INVALID_PARAM;
    }
    // Only a byte-by-byte compare moves data.
    if (compare) {
        if (Error_t refused = BlockBytes(blocks, kMaxField16, &bytes); refused != ERR_NONE) {
            return refused;
        }
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::Verify10);
    command.Cdb[1] = LunBits() | CdbBit(dpo, 4) | CdbBit(bytChk, 1) | CdbBit(relAdr, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(blocks));
    if (compare) {
        command.Transfer(buf, bytes, kOut);
    }
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::WriteVerify(unsigned long index, unsigned long lba, long blocks, AlignedBuffer* buf, int dpo,
                           int bytChk, int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk WriteVerify");
    if (NeedsCdb16()) {
        return Verify16(GetCtlBlock(index), kOpWriteVerify16, lba, blocks, buf, dpo, bytChk, kOut);
    }
    unsigned long bytes = 0;
    if (Error_t refused = BlockBytes(blocks, kMaxField16, &bytes); refused != ERR_NONE) {
        return refused;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::WriteAndVerify10);
    command.Cdb[1] = LunBits() | CdbBit(dpo, 4) | CdbBit(bytChk, 1) | CdbBit(relAdr, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(blocks));
    command.Transfer(buf, bytes, kOut);
    command.Lba = lba;
    command.Blocks = static_cast<unsigned long>(blocks);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::ReadLong(unsigned long index, unsigned long lba, long length, AlignedBuffer* buf, int correct)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadLong");
    if (!Fits16(length)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ReadLong10);
    command.Cdb[1] = LunBits() | CdbBit(correct, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(length));
    command.Transfer(buf, static_cast<unsigned long>(length), kIn);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::WriteLong(unsigned long index, unsigned long lba, long length, AlignedBuffer* buf, int correct)
{
    GTrace trace(TRACE_LEVEL, "CDisk WriteLong");
    if (!Fits16(length)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::WriteLong10);
    command.Cdb[1] = LunBits() | CdbBit(correct, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(length));
    command.Transfer(buf, static_cast<unsigned long>(length), kOut);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::WriteSame(unsigned long index, AlignedBuffer* buf, unsigned long lba, long blocks, int pbData,
                         int lbData, int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk WriteSame");
    unsigned long oneBlock = 0;
    if (!Fits16(blocks)) {
        return ERR_INVALID_PARAM;
    }
    if (Error_t refused = BlockBytes(1, 1, &oneBlock); refused != ERR_NONE) {
        return refused;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::WriteSame10);
    command.Cdb[1] = CdbBit(pbData, 2) | CdbBit(lbData, 1) | CdbBit(relAdr, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(blocks));
    command.Transfer(buf, oneBlock, kOut);
    command.Lba = lba;
    command.Blocks = static_cast<unsigned long>(blocks);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::SyncCache(unsigned long index, unsigned long lba, long blocks, int immed, int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk SyncCache");
    if (!Fits16(blocks)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::SynchronizeCache10);
    command.Cdb[1] = LunBits() | CdbBit(immed, 1) | CdbBit(relAdr, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(blocks));
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::PreFetch(unsigned long index, unsigned long lba, long blocks, int immed, int relAdr)
{
    GTrace trace(TRACE_LEVEL, "CDisk PreFetch");
    if (!Fits16(blocks)) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::Prefetch10);
    command.Cdb[1] = CdbBit(immed, 1) | CdbBit(relAdr, 0);
    command.Put32(2, lba);
    command.Put16(7, static_cast<unsigned long>(blocks));
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::ReadCapacity(unsigned long index, int relAdr, int pmi, AlignedBuffer* buf, bool option)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadCapacity");
    if (buf != nullptr && (buf->Ptr() == nullptr || buf->Size() < kCapacityBytes)) {
        return ERR_INVALID_PARAM;
    }
    std::unique_ptr<AlignedBuffer> internal;
    if (buf == nullptr) {
        try {
            internal = std::make_unique<AlignedBuffer>(static_cast<long>(kCapacityBytes));
        } catch (Error_t) {
            return ERR_NO_MEMORY;
        }
        buf = internal.get();
    }
    // A short answer leaves zeros, never stale bytes.
    std::memset(buf->Ptr(), 0, buf->Size());
    ScsiCommand command(10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ReadCapacity10);
    command.Cdb[1] = CdbBit(relAdr, 0);
    command.Cdb[8] = CdbBit(pmi, 0);
    command.Transfer(buf, buf->Size(), kIn);
    if (Error_t refused = RunWithOption(GetCtlBlock(index), command, option ? 1 : 0); refused != ERR_NONE) {
        return refused;
    }
    TakeCapacity(BytesOf(buf));
    // The 10-byte answer's last block saturates on drives of 2 TiB and more.
    if (relAdr == 0 && pmi == 0 && GetHighBlock() == kLastBlock10) {
        return ReadCapacity16(GetCtlBlock(index), option ? 1 : 0);
    }
    return ERR_NONE;
}

Error_t CDisk::ReadCapacity16(CScsiIoCtl* ctl, unsigned char option)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadCapacity16");
    std::unique_ptr<AlignedBuffer> answer;
    try {
        answer = std::make_unique<AlignedBuffer>(static_cast<long>(kCapacity16Bytes));
    } catch (Error_t) {
        return ERR_NO_MEMORY;
    }
    std::memset(answer->Ptr(), 0, answer->Size());
    ScsiCommand command(16, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ServiceActionIn16);
    command.Cdb[1] = kServiceReadCapacity16;
    command.Put32(10, kCapacity16Bytes);
    command.Transfer(answer.get(), kCapacity16Bytes, kIn);
    if (Error_t refused = RunWithOption(ctl, command, option); refused != ERR_NONE) {
        return refused;
    }
    const unsigned char* data = BytesOf(answer.get());
    SetCapacity(BigEndian(data, 8), BigEndian(data + 8, 4));
    return ERR_NONE;
}

Error_t CDisk::RunWithOption(CScsiIoCtl* ctl, const ScsiCommand& command, unsigned char option)
{
    if (ctl == nullptr) {
        return ERR_NOT_INITIALIZED;
    }
    if (!ctl->IsRetryCmd()) {
        unsigned char* cdb = ctl->GetCdb(true);
        if (cdb == nullptr) {
            return ERR_NO_RESOURCE;
        }
        std::memcpy(cdb, command.Cdb, command.CdbLength);
        if (Error_t refused = ctl->SetBuffer(command.Data, static_cast<long>(command.Capacity)); refused != ERR_NONE) {
            return refused;
        }
        if (Error_t refused = ctl->CompleteCmd(command.CdbLength, command.DataLength, command.Flags, command.Timeout,
                                               command.Lba, command.Blocks, option);
            refused != ERR_NONE) {
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

void CDisk::TakeCapacity(const unsigned char* data)
{
    SetCapacity(BigEndian(data, 4), BigEndian(data + 4, 4));
}

void CDisk::SetCapacity(unsigned long lastBlock, unsigned long blockLength)
{
    SetHighBlock(lastBlock);
    SetBlockLength(blockLength);
    SetBlocksCapacity(static_cast<long>(lastBlock + 1));
    SetLowBlock(0);
}

Error_t CDisk::ReadDefectData10(CScsiIoCtl* ctl, int pList, int gList, unsigned char format, AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadDefectData10");
    return ReadDefectList(ctl, false, pList, gList, format, buf);
}

Error_t CDisk::ReadDefectData12(CScsiIoCtl* ctl, int pList, int gList, unsigned char format, AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadDefectData12");
    return ReadDefectList(ctl, true, pList, gList, format, buf);
}

Error_t CDisk::ReadDefectList(CScsiIoCtl* ctl, bool twelve, int pList, int gList, unsigned char format,
                              AlignedBuffer* buf)
{
    if (buf != nullptr && buf->Ptr() == nullptr) {
        return ERR_INVALID_PARAM;
    }
    // The allocation length field bounds what the drive may send.
    const unsigned long length = twelve ? SizeOf(buf) : Clamp16(SizeOf(buf));
    if (buf != nullptr) {
        std::memset(buf->Ptr(), 0, buf->Size());
    }
    const unsigned char flags = CdbBit(pList, 4) | CdbBit(gList, 3) | static_cast<unsigned char>(format & 0x7);
    ScsiCommand command(twelve ? 12 : 10, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = twelve ? 0xB7 : 0x37;
    if (twelve) {
        command.Cdb[1] = flags;
        command.Put32(6, length);
    } else {
        command.Cdb[2] = flags;
        command.Put16(7, length);
    }
    command.Transfer(buf, length, kIn);
    return RunCommand(ctl, command);
}

Error_t CDisk::ReadDefectData(unsigned long index, int pList, int gList, unsigned char format, AlignedBuffer* buf,
                              int* cdbUsed)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadDefectData");
    if (cdbUsed == nullptr) {
        return ERR_INVALID_PARAM;
    }
    return ReadDefectsFallingBack(index, pList, gList, format, buf, cdbUsed);
}

Error_t CDisk::ReadDefectsFallingBack(unsigned long index, int pList, int gList, unsigned char format,
                                      AlignedBuffer* buf, int* cdbUsed)
{
    *cdbUsed = 0;
    CScsiIoCtl* ctl = GetCtlBlock(index);
    // Older drives refuse the 12-byte command; that failure is expected, so
    // it is kept out of the log and out of the drive's error counts.
    const unsigned long logState = SetSilent(true);
    try {
        const ExpectedFailures expected(*this);
        const Error_t result = ReadDefectData12(ctl, pList, gList, format, buf);
        SetLogState(logState);
        *cdbUsed = result == ERR_NONE ? kCdbUsed12 : 0;
        return result;
    } catch (CEventBase* event) {
        SetLogState(logState);
        if (!IsIllegalRequest(event, ctl)) {
            if (event != nullptr) {
                CountError(event);  // not the refusal that was expected
            }
            throw;
        }
        delete event;
    }
    const Error_t result = ReadDefectData10(ctl, pList, gList, format, buf);
    *cdbUsed = result == ERR_NONE ? kCdbUsed10 : 0;
    return result;
}

Error_t CDisk::ReadDefectCount(unsigned long index, long* count, int pList, int gList, unsigned char format,
                               int* cdbUsed)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReadDefectCount");
    if (count == nullptr || cdbUsed == nullptr) {
        return ERR_INVALID_PARAM;
    }
    std::unique_ptr<AlignedBuffer> header;
    try {
        header = std::make_unique<AlignedBuffer>(static_cast<long>(kDefectHeaderBytes));
    } catch (Error_t) {
        return ERR_NO_RESOURCE;
    }
    if (Error_t refused = ReadDefectsFallingBack(index, pList, gList, format, header.get(), cdbUsed);
        refused != ERR_NONE) {
        return refused;
    }
    const unsigned char* bytes = BytesOf(header.get());
    const unsigned long listBytes = *cdbUsed == kCdbUsed12 ? BigEndian(bytes + 4, 4) : BigEndian(bytes + 2, 2);
    // Block-format descriptors are 4 bytes; index and physical-sector ones 8.
    *count = static_cast<long>(listBytes / ((format & 0x7) == 0 ? 4 : 8));
    return ERR_NONE;
}

Error_t CDisk::ReassignBlocks(unsigned long index, AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReassignBlocks");
    if (buf == nullptr) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::ReassignBlocks);
    command.Cdb[1] = LunBits();
    command.Transfer(buf, buf->Size(), kOut);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::StartStopUnit(unsigned long index, bool start, bool immed)
{
    GTrace trace(TRACE_LEVEL, "CDisk StartStopUnit");
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::StartStopUnit);
    command.Cdb[1] = CdbBit(immed, 0);
    command.Cdb[4] = CdbBit(start, 0);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::ReZero(unsigned long index)
{
    GTrace trace(TRACE_LEVEL, "CDisk ReZero");
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::RezeroUnit);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::Reserve6(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                        AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Reserve6");
    return Reservation(ctl, 0x16, thirdParty, thirdPartyId, extent, reservationId, buf);
}

Error_t CDisk::Release6(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                        AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Release6");
    return Reservation(ctl, 0x17, thirdParty, thirdPartyId, extent, reservationId, buf);
}

Error_t CDisk::Reserve10(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                         AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Reserve10");
    return Reservation(ctl, 0x56, thirdParty, thirdPartyId, extent, reservationId, buf);
}

Error_t CDisk::Release10(CScsiIoCtl* ctl, int thirdParty, int thirdPartyId, int extent, int reservationId,
                         AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Release10");
    return Reservation(ctl, 0x57, thirdParty, thirdPartyId, extent, reservationId, buf);
}

Error_t CDisk::Reservation(CScsiIoCtl* ctl, unsigned char opcode, int thirdParty, int thirdPartyId, int extent,
                           int reservationId, AlignedBuffer* buf)
{
    const bool ten = opcode == 0x56 || opcode == 0x57;
    const unsigned long length = Clamp16(SizeOf(buf));
    ScsiCommand command(ten ? 10 : 6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = opcode;
    command.Cdb[2] = static_cast<unsigned char>(reservationId);
    if (ten) {
        command.Cdb[1] = CdbBit(thirdParty, 4) | CdbBit(extent, 0);
        command.Cdb[3] = static_cast<unsigned char>(thirdPartyId);
        command.Put16(7, length);
    } else {
        command.Cdb[1] = CdbBit(thirdParty, 4) | static_cast<unsigned char>((thirdPartyId & 0x7) << 1) |
                         CdbBit(extent, 0);
        command.Put16(3, length);
    }
    command.Transfer(buf, length, kOut);
    return RunCommand(ctl, command);
}

Error_t CDisk::Format6(CScsiIoCtl* ctl, format_struct format, defectListHeader header, IPdescriptor pattern,
                       AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk Format6 ***protected***");
    const bool ip = (header & DEFECT_HEADER_IP) != 0;
    const unsigned long dataLength = format.PatternLength + (ip ? kPatternOffset : kParamHeaderBytes);
    // The header and descriptor are 4-byte values: never copy more than they hold.
    const std::size_t copy = std::min<std::size_t>(format.HeaderCopyLength, kParamHeaderBytes);
    const std::size_t written = format.PatternLength != 0 ? kParamHeaderBytes + copy : copy;
    if (buf == nullptr || buf->Ptr() == nullptr || buf->Size() < std::max<std::size_t>(dataLength, written)) {
        return ERR_INVALID_PARAM;
    }
    unsigned char* list = BytesOf(buf);
    std::memcpy(list, &header, copy);
    if (format.PatternLength != 0) {
        std::memcpy(list + kParamHeaderBytes, &pattern, copy);
    }
    ScsiCommand command(6, CScsiIoCtl::GetFmtTimeout());
    command.Cdb[0] = OpByte(ScsiOp::FormatUnit);
    command.Cdb[1] = static_cast<unsigned char>(format.Flags & 0x1F);
    command.Transfer(buf, dataLength, kOut);
    return RunCommand(ctl, command);
}

Error_t CDisk::FormatUnit(unsigned long index, format_struct format, defectListHeader header, IPdescriptor pattern,
                          AlignedBuffer* buf)
{
    return Format6(GetCtlBlock(index), format, header, pattern, buf);
}

Error_t CDisk::FormatUnit(unsigned long index, int fmtData, int cmpLst, int listFormat, int interleave,
                          AlignedBuffer* buf)
{
    GTrace trace(TRACE_LEVEL, "CDisk FormatUnit");
    const unsigned long length = Clamp16(SizeOf(buf));
    ScsiCommand command(6, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = OpByte(ScsiOp::FormatUnit);
    command.Cdb[1] = CdbBit(fmtData, 4) | CdbBit(cmpLst, 3) | static_cast<unsigned char>(listFormat & 0x7);
    command.Put16(3, static_cast<unsigned long>(interleave));
    command.Transfer(buf, length, kOut);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CDisk::CalcLongBlockLength(long& length)
{
    GTrace trace(TRACE_LEVEL, "CDisk CalcLongBlockLength");
    length = 0;
    const unsigned long logState = SetSilent(true);
    const ExpectedFailures expected(*this);  // the probe asks a wrong length on purpose
    const Error_t result = MeasureLongBlock(length);
    SetLogState(logState);
    return result;
}

Error_t CDisk::MeasureLongBlock(long& length)
{
    try {
        if (Error_t refused = ReadCapacity(0, 0, 0, nullptr, false); refused != ERR_NONE) {
            return refused;
        }
    } catch (CEventBase* event) {
        const Error_t code = event != nullptr ? event->GetErrorCode() : ERR_CHECK_CONDITION;
        delete event;
        return code;
    }
    if (GetBlockLength() == 0) {
        return ERR_CHECK_CONDITION;
    }
    // Twice the block length is surely wrong, so the drive says how far off it is.
    const long requested = std::min<long>(2 * static_cast<long>(GetBlockLength()), kMaxField16);
    std::unique_ptr<AlignedBuffer> buffer;
    try {
        buffer = std::make_unique<AlignedBuffer>(requested);
    } catch (Error_t) {
        return ERR_NO_MEMORY;
    }
    try {
        return ReadLong(0, 0, requested, buffer.get(), 0);
    } catch (CEventBase* event) {
        std::unique_ptr<CEventBase> owned(event);
        auto* error = dynamic_cast<CEventError*>(event);
        // Without an event (a silent system) the block still holds the sense data.
        const SCSI_SenseData_s* sense = error != nullptr ? error->GetSenseBytesPtr() : GetCtlBlock(0)->GetSenseData();
        if (sense == nullptr || !IsWrongLengthAnswer(*sense)) {
            return event != nullptr ? event->GetErrorCode() : ERR_CHECK_CONDITION;
        }
        const long actual = requested - static_cast<long>(sense->InformationValue());
        if (actual == 0 || !Fits16(actual)) {
            return ERR_CHECK_CONDITION;  // not a length a READ LONG could move
        }
        length = actual;
        return ERR_NONE;
    }
}
