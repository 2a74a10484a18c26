#include "machine/drives/CdromServer.h"

#include "machine/drives/Bytes.h"

#include <algorithm>

namespace harrow::machine::drives {

Condition CdromServer::CurrentCondition()
{
    return m_loaded ? Condition{} : Condition{sense::kNoMedium, {}};
}

ScsiResult CdromServer::Dispatch(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    switch (cdb[0]) {
    case opcode::kStartStopUnit:  // LOEJ loads or ejects the disc
        if (cdb[4] & 0x02) {
            m_loaded = cdb[4] & 0x01;
        }
        return Good();
    case opcode::kPreventAllowMediumRemoval: return Good();
    case opcode::kModeSense6: return ModeSense(request, false);
    case opcode::kModeSense10: return ModeSense(request, true);
    default: break;
    }
    if (!m_loaded) {
        return CheckCondition(sense::kNoMedium);
    }
    switch (cdb[0]) {
    case opcode::kTestUnitReady:
    case opcode::kSeek10: return Good();
    case opcode::kReadCapacity10: {
        std::vector<std::uint8_t> data(8);
        PutBE(data, 0, 4, Config().blocks - 1);
        PutBE(data, 4, 4, Config().blockSize);
        return DataIn(request, data, 8);
    }
    case opcode::kRead10: return Read(request, GetBE(cdb, 2, 4), GetBE(cdb, 7, 2));
    case opcode::kRead12: return Read(request, GetBE(cdb, 2, 4), GetBE(cdb, 6, 4));
    case opcode::kReadToc: return ReadToc(request);
    case opcode::kWrite6:
    case opcode::kWrite10:
    case opcode::kWrite12: return CheckCondition(sense::kWriteProtected);
    default: return CheckCondition(sense::kInvalidOpcode);
    }
}

ScsiResult CdromServer::Read(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count)
{
    if (lba >= Config().blocks || count > Config().blocks - lba) {
        return CheckCondition(sense::kLbaOutOfRange);
    }
    const std::uint64_t bs = Config().blockSize;
    const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(count * bs, request.data.size()));
    for (std::size_t i = 0; i < bytes; ++i) {
        request.data[i] = PatternByte(lba + i / bs, i % bs);
    }
    return Good(static_cast<std::uint32_t>(bytes));
}

ScsiResult CdromServer::ReadToc(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    if ((cdb[2] & 0x0F) != 0) {
        return CheckCondition(sense::kInvalidCdbField);  // formatted TOC only
    }
    // One data track and the lead-out.
    std::vector<std::uint8_t> data{0, 18, 1, 1, 0, 0x14, 1, 0, 0, 0, 0, 0, 0, 0x14, 0xAA, 0, 0, 0, 0, 0};
    PutBE(data, 16, 4, Config().blocks);
    return DataIn(request, data, static_cast<std::uint32_t>(GetBE(cdb, 7, 2)));
}

ScsiResult CdromServer::ModeSense(const ScsiRequest& request, bool ten)
{
    const auto cdb = request.cdb;
    if ((cdb[2] & 0x3F) != 0x3F) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    const std::size_t header = ten ? 8 : 4;
    std::vector<std::uint8_t> data(header + 8, 0);
    if (ten) {
        PutBE(data, 0, 2, data.size() - 2);
        data[7] = 8;
    } else {
        data[0] = static_cast<std::uint8_t>(data.size() - 1);
        data[3] = 8;
    }
    PutBE(data, header + 5, 3, Config().blockSize);
    return DataIn(request, data, static_cast<std::uint32_t>(ten ? GetBE(cdb, 7, 2) : cdb[4]));
}

}  // namespace harrow::machine::drives
