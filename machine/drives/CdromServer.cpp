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
    case 0x1B:  // START STOP UNIT: LOEJ loads or ejects the disc
        if (cdb[4] & 0x02) {
            m_loaded = cdb[4] & 0x01;
        }
        return Good();
    case 0x1E: return Good();
    case 0x1A: return ModeSense(request, false);
    case 0x5A: return ModeSense(request, true);
    default: break;
    }
    if (!m_loaded) {
        return CheckCondition(sense::kNoMedium);
    }
    switch (cdb[0]) {
    case 0x00:
    case 0x2B: return Good();
    case 0x25: {
        std::vector<std::uint8_t> data(8);
        PutBE(data, 0, 4, Config().blocks - 1);
        PutBE(data, 4, 4, Config().blockSize);
        return DataIn(request, data, 8);
    }
    case 0x28: return Read(request, GetBE(cdb, 2, 4), GetBE(cdb, 7, 2));
    case 0xA8: return Read(request, GetBE(cdb, 2, 4), GetBE(cdb, 6, 4));
    case 0x43: return ReadToc(request);
    case 0x0A:
    case 0x2A:
    case 0xAA: return CheckCondition(sense::kWriteProtected);
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
