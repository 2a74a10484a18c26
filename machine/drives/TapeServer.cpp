#include "machine/drives/TapeServer.h"

#include "machine/drives/Bytes.h"

#include <algorithm>

namespace harrow::machine::drives {
namespace {

constexpr std::size_t kCapacity = 64u << 20;
constexpr std::uint32_t kMaxBlock = 0x10000;
constexpr std::size_t kMaxRecords = 1u << 16;
constexpr SenseCode kFilemarkDetected{0x0, 0x00, 0x01};
// LOAD UNLOAD byte 4, WRITE FILEMARKS and LOCATE byte 1.
constexpr std::uint8_t kLoad = 0x01;
constexpr std::uint8_t kEot = 0x04;
constexpr std::uint8_t kWriteSetmarks = 0x02;
constexpr std::uint8_t kChangePartition = 0x02;
constexpr SenseCode kBeginningOfMedium{0x0, 0x00, 0x04};
constexpr SenseCode kEndOfData{0x8, 0x00, 0x05};
constexpr SenseCode kEndOfPartition{0xD, 0x00, 0x02};

std::int32_t SignedCount(std::span<const std::uint8_t> cdb)
{
    const auto raw = static_cast<std::uint32_t>(GetBE(cdb, 2, 3));
    return (raw & 0x800000) ? static_cast<std::int32_t>(raw) - 0x1000000 : static_cast<std::int32_t>(raw);
}

}  // namespace

Condition TapeServer::CurrentCondition()
{
    return m_loaded ? Condition{} : Condition{sense::kNoMedium, {}};
}

ScsiResult TapeServer::Dispatch(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    switch (cdb[0]) {
    case opcode::kReadBlockLimits: {
        std::vector<std::uint8_t> limits(6, 0);
        PutBE(limits, 1, 3, kMaxBlock);
        PutBE(limits, 4, 2, 1);
        return DataIn(request, limits, 6);
    }
    case opcode::kModeSelect6: return ModeSelect(request);
    case opcode::kReserve6:
    case opcode::kRelease6:
    case opcode::kPreventAllowMediumRemoval: return Good();
    case opcode::kModeSense6: return ModeSense(request);
    case opcode::kLoadUnload:
        if ((cdb[4] & kLoad) && (cdb[4] & kEot)) {
            return CheckCondition(sense::kInvalidCdbField);  // the end of tape is reached by unloading only
        }
        m_loaded = cdb[4] & kLoad;
        m_position = 0;
        return Good();
    default: break;
    }
    if (!m_loaded) {
        return CheckCondition(sense::kNoMedium);
    }
    switch (cdb[0]) {
    case opcode::kTestUnitReady: return Good();
    case opcode::kRewind: m_position = 0; return Good();
    case opcode::kRead6: return Read(request);
    case opcode::kWrite6: return Write(request);
    case opcode::kWriteFilemarks: return WriteFilemarks(request);
    case opcode::kSpace: return Space(request);
    case opcode::kErase: EraseFromPosition(); return Good();
    case opcode::kLocate: return Locate(request);
    case opcode::kReadPosition: return ReadPosition(request);
    default: return CheckCondition(sense::kInvalidOpcode);
    }
}

ScsiResult TapeServer::Read(const ScsiRequest& request)
{
    const bool fixed = request.cdb[1] & 0x01;
    const bool sili = request.cdb[1] & 0x02;
    const auto length = static_cast<std::uint32_t>(GetBE(request.cdb, 2, 3));
    if (fixed) {
        if (m_fixedLength == 0 || sili) {
            return CheckCondition(sense::kInvalidCdbField);
        }
        return ReadFixed(request, length);
    }
    if (length == 0) {
        return Good();
    }
    if (m_position == m_records.size()) {
        return CheckCondition(kEndOfData, {.information = length});
    }
    const Record& record = m_records[m_position++];
    if (record.filemark) {
        return CheckCondition(kFilemarkDetected, {.information = length, .filemark = true});
    }
    const std::size_t count = std::min({record.data.size(), std::size_t{length}, request.data.size()});
    std::copy_n(record.data.begin(), count, request.data.begin());
    if (record.data.size() == length || (sili && record.data.size() < length)) {
        return Good(static_cast<std::uint32_t>(count));
    }
    // The information field is the requested minus the actual length.
    const auto difference = static_cast<std::uint32_t>(length - record.data.size());
    return CheckCondition(sense::kNone, {.information = difference, .ili = true}, static_cast<std::uint32_t>(count));
}

ScsiResult TapeServer::ReadFixed(const ScsiRequest& request, std::uint32_t count)
{
    std::size_t moved = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t left = count - i;
        if (m_position == m_records.size()) {
            return CheckCondition(kEndOfData, {.information = left}, static_cast<std::uint32_t>(moved));
        }
        const Record& record = m_records[m_position++];
        if (record.filemark) {
            return CheckCondition(kFilemarkDetected, {.information = left, .filemark = true},
                                  static_cast<std::uint32_t>(moved));
        }
        const std::size_t room = request.data.size() - std::min(moved, request.data.size());
        const std::size_t n = std::min(record.data.size(), room);
        std::copy_n(record.data.begin(), n, request.data.begin() + static_cast<std::ptrdiff_t>(moved));
        moved += n;
        if (record.data.size() != m_fixedLength) {
            return CheckCondition(sense::kNone, {.information = left, .ili = true}, static_cast<std::uint32_t>(moved));
        }
    }
    return Good(static_cast<std::uint32_t>(moved));
}

void TapeServer::EraseFromPosition()
{
    for (std::size_t i = m_position; i < m_records.size(); ++i) {
        m_bytes -= m_records[i].data.size();
    }
    m_records.resize(m_position);
}

bool TapeServer::Append(Record record)
{
    if (m_bytes + record.data.size() > kCapacity || m_records.size() >= kMaxRecords) {
        return false;
    }
    m_bytes += record.data.size();
    m_records.push_back(std::move(record));
    m_position = m_records.size();
    return true;
}

ScsiResult TapeServer::Write(const ScsiRequest& request)
{
    const bool fixed = request.cdb[1] & 0x01;
    const auto length = static_cast<std::uint32_t>(GetBE(request.cdb, 2, 3));
    if ((fixed && m_fixedLength == 0) || (!fixed && length > kMaxBlock)) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    const std::uint64_t blockLength = fixed ? m_fixedLength : length;
    const std::uint64_t blocks = fixed ? length : (length ? 1 : 0);
    if (blocks * blockLength > request.data.size()) {
        return CheckCondition(sense::kDataPhaseError);
    }
    EraseFromPosition();  // writing ends the recorded data here
    for (std::uint64_t i = 0; i < blocks; ++i) {
        const auto* from = request.data.data() + i * blockLength;
        if (!Append({false, std::vector<std::uint8_t>(from, from + blockLength)})) {
            return CheckCondition(kEndOfPartition, {.information = static_cast<std::uint32_t>(blocks - i),
                                                    .endOfMedium = true},
                                  static_cast<std::uint32_t>(i * blockLength));
        }
    }
    return Good(static_cast<std::uint32_t>(blocks * blockLength));
}

ScsiResult TapeServer::WriteFilemarks(const ScsiRequest& request)
{
    if (request.cdb[1] & kWriteSetmarks) {
        return CheckCondition(sense::kInvalidCdbField);  // this drive has no setmarks
    }
    const auto count = static_cast<std::uint32_t>(GetBE(request.cdb, 2, 3));
    EraseFromPosition();
    if (m_records.size() + count > kMaxRecords) {
        return CheckCondition(kEndOfPartition, {.information = count, .endOfMedium = true});
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        Append({true, {}});
    }
    return Good();
}

ScsiResult TapeServer::Space(const ScsiRequest& request)
{
    const std::int32_t count = SignedCount(request.cdb);
    switch (request.cdb[1] & 0x07) {
    case 0: return SpaceBlocks(count);
    case 1: return SpaceFilemarks(count);
    case 3: m_position = m_records.size(); return Good();
    default: return CheckCondition(sense::kInvalidCdbField);
    }
}

ScsiResult TapeServer::SpaceBlocks(std::int32_t count)
{
    for (std::int32_t done = 0; done < std::abs(count); ++done) {
        const auto left = static_cast<std::uint32_t>(std::abs(count) - done);
        if (count > 0) {
            if (m_position == m_records.size()) {
                return CheckCondition(kEndOfData, {.information = left});
            }
            if (m_records[m_position++].filemark) {
                return CheckCondition(kFilemarkDetected, {.information = left, .filemark = true});
            }
        } else {
            if (m_position == 0) {
                return CheckCondition(kBeginningOfMedium, {.information = left, .endOfMedium = true});
            }
            if (m_records[m_position - 1].filemark) {
                return CheckCondition(kFilemarkDetected, {.information = left, .filemark = true});
            }
            --m_position;
        }
    }
    return Good();
}

ScsiResult TapeServer::SpaceFilemarks(std::int32_t count)
{
    std::int32_t passed = 0;
    while (passed < std::abs(count)) {
        const auto left = static_cast<std::uint32_t>(std::abs(count) - passed);
        if (count > 0) {
            if (m_position == m_records.size()) {
                return CheckCondition(kEndOfData, {.information = left});
            }
            passed += m_records[m_position++].filemark ? 1 : 0;
        } else {
            if (m_position == 0) {
                return CheckCondition(kBeginningOfMedium, {.information = left, .endOfMedium = true});
            }
            passed += m_records[--m_position].filemark ? 1 : 0;
        }
    }
    return Good();
}

ScsiResult TapeServer::ModeSense(const ScsiRequest& request)
{
    const int page = request.cdb[2] & 0x3F;
    if (page != 0x3F && page != 0x00) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    const bool noDescriptor = request.cdb[1] & 0x08;
    std::vector<std::uint8_t> data(noDescriptor ? 4 : 12, 0);
    data[0] = static_cast<std::uint8_t>(data.size() - 1);
    data[2] = 0x10;  // buffered mode
    if (!noDescriptor) {
        data[3] = 8;
        PutBE(data, 9, 3, m_fixedLength);
    }
    return DataIn(request, data, request.cdb[4]);
}

ScsiResult TapeServer::ModeSelect(const ScsiRequest& request)
{
    const std::uint32_t length = request.cdb[4];
    const auto params = DataOut(request, length);
    if (length == 0) {
        return Good();
    }
    if (params.size() < length || length < 4 || (params[3] != 0 && params[3] != 8) || 4u + params[3] != length) {
        return CheckCondition(params.size() < length ? sense::kParameterListLength : sense::kInvalidParameter);
    }
    if (params[3] == 8) {
        const auto block = static_cast<std::uint32_t>(GetBE(params, 9, 3));
        if (block > kMaxBlock) {
            return CheckCondition(sense::kInvalidParameter);
        }
        m_fixedLength = block;
    }
    return Good(length);
}

ScsiResult TapeServer::Locate(const ScsiRequest& request)
{
    if ((request.cdb[1] & kChangePartition) && request.cdb[8] != 0) {
        return CheckCondition(sense::kInvalidCdbField);  // one partition only
    }
    const std::uint64_t target = GetBE(request.cdb, 3, 4);
    if (target > m_records.size()) {
        m_position = m_records.size();
        return CheckCondition(kEndOfData);
    }
    m_position = static_cast<std::size_t>(target);
    return Good();
}

ScsiResult TapeServer::ReadPosition(const ScsiRequest& request)
{
    if ((request.cdb[1] & 0x1F) != 0) {
        return CheckCondition(sense::kInvalidCdbField);  // the short form only
    }
    std::vector<std::uint8_t> data(20, 0);
    data[0] = m_position == 0 ? 0x80 : 0x00;
    PutBE(data, 4, 4, m_position);
    PutBE(data, 8, 4, m_position);
    return DataIn(request, data, 20);
}

}  // namespace harrow::machine::drives
