#include "core/devices/CTape.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CdbBits.h"
#include "core/log/GTrace.h"
#include "core/transport/CScsiIoCtl.h"

#include <algorithm>

namespace {

constexpr unsigned long kBlockLimitsBytes = 6;
// Counts travel as 24-bit two's complement.
constexpr long kMaxCount = 0x7FFFFF;
constexpr long kMinCount = -0x800000;
constexpr long kMaxFilemarks = 0xFFFFFF;

// Every tape command is built alike: flags 0x08, no LBA or block count.
ScsiCommand TapeCommand(unsigned char cdbLength, unsigned char opcode)
{
    ScsiCommand command(cdbLength, CScsiIoCtl::GetTimeout());
    command.Cdb[0] = opcode;
    command.Flags = ScsiCommand::kDataIn;
    return command;
}

}  // namespace

CTape::CTape(SCSIDevice* probe)
    : SCSIDevice(probe->GetHostAdapter(), probe->GetHANum(), probe->GetTargetNum(), probe->GetLUNNum())
{
    AllocateResource();
    AdoptIdentity(*probe);
}

Error_t CTape::Init()
{
    return SCSIDevice::Init();
}

Error_t CTape::AllowMediumRemoval(unsigned long index, bool prevent)
{
    GTrace trace(kTraceLevel, "CTape AllowMediumRemoval");
    ScsiCommand command = TapeCommand(6, 0x1E);
    command.Cdb[4] = CdbBit(prevent, 0);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::Erase(unsigned long index, bool immediate, bool longErase)
{
    GTrace trace(kTraceLevel, "CTape Erase");
    ScsiCommand command = TapeCommand(6, 0x19);
    command.Cdb[1] = CdbBit(immediate, 1) | CdbBit(longErase, 0);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::LoadUnload(unsigned long index, bool immediate, bool load, bool retension, bool endOfTape)
{
    GTrace trace(kTraceLevel, "CTape LoadUnload");
    ScsiCommand command = TapeCommand(6, 0x1B);
    command.Cdb[1] = CdbBit(immediate, 0);
    command.Cdb[4] = CdbBit(load, 0) | CdbBit(retension, 1) | CdbBit(endOfTape, 2);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::ReadBlockLimits(unsigned long index, AlignedBuffer* buffer)
{
    GTrace trace(kTraceLevel, "CTape ReadBlockLimits");
    if (buffer == nullptr || buffer->Ptr() == nullptr || buffer->Size() < kBlockLimitsBytes) {
        return ERR_INVALID_PARAM;
    }
    auto* limits = static_cast<unsigned char*>(buffer->Ptr());
    std::fill(limits, limits + kBlockLimitsBytes, 0);
    ScsiCommand command = TapeCommand(6, 0x05);
    command.Transfer(buffer, kBlockLimitsBytes, ScsiCommand::kDataIn);
    if (Error_t refused = RunCommand(GetCtlBlock(index), command); refused != ERR_NONE) {
        return refused;
    }
    m_MaxBlockLength = (std::uint32_t{limits[1]} << 16) | (std::uint32_t{limits[2]} << 8) | limits[3];
    m_MinBlockLength = (std::uint32_t{limits[4]} << 8) | limits[5];
    return ERR_NONE;
}

Error_t CTape::Rewind(unsigned long index, bool immediate)
{
    GTrace trace(kTraceLevel, "CTape Rewind");
    ScsiCommand command = TapeCommand(6, 0x01);
    command.Cdb[1] = CdbBit(immediate, 0);
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::Space(unsigned long index, long& count, unsigned char code)
{
    GTrace trace(kTraceLevel, "CTape Space");
    // A count the field cannot hold would move the tape the wrong way.
    if (count < kMinCount || count > kMaxCount) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command = TapeCommand(6, 0x11);
    command.Cdb[1] = static_cast<unsigned char>(code & 0x7);
    command.Put24(2, static_cast<unsigned long>(count));
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::WriteFilemarks(unsigned long index, long count, bool immediate, bool setmarks)
{
    GTrace trace(kTraceLevel, "CTape WriteFilemarks");
    if (count < 0 || count > kMaxFilemarks) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command = TapeCommand(6, 0x10);
    command.Cdb[1] = CdbBit(immediate, 0) | CdbBit(setmarks, 1);
    command.Put24(2, static_cast<unsigned long>(count));
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::Locate(unsigned long index, long block, bool immediate, bool changePartition, bool blockType,
                      unsigned char partition)
{
    GTrace trace(kTraceLevel, "CTape Locate");
    if (block < 0 || block > 0xFFFFFFFFL) {
        return ERR_INVALID_PARAM;
    }
    ScsiCommand command = TapeCommand(10, 0x2B);
    command.Cdb[1] = CdbBit(immediate, 0) | CdbBit(changePartition, 1) | CdbBit(blockType, 2);
    command.Put32(3, static_cast<unsigned long>(block));
    command.Cdb[8] = partition;
    return RunCommand(GetCtlBlock(index), command);
}

Error_t CTape::Read(unsigned long, long, long, unsigned char*)
{
    return ERR_NONE;
}

Error_t CTape::Write(unsigned long, long, long, unsigned char*)
{
    return ERR_NONE;
}

Error_t CTape::Verify(unsigned long, long, long)
{
    return ERR_NONE;
}

void CTape::SetBlockLength(unsigned long, unsigned long length)
{
    OrbDevice::SetBlockLength(length);
}
