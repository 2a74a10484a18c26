#include "machine/drives/ChangerServer.h"

#include "machine/drives/Bytes.h"

namespace harrow::machine::drives {
namespace {

constexpr std::uint16_t kTransport = 0x0000;
constexpr std::uint16_t kFirstSlot = 0x1000;
constexpr std::uint16_t kSlots = 8;
constexpr std::uint16_t kDrive = 0x0100;
constexpr SenseCode kInvalidElement{0x5, 0x21, 0x01};
constexpr SenseCode kDestinationFull{0x5, 0x3B, 0x0D};
constexpr SenseCode kSourceEmpty{0x5, 0x3B, 0x0E};

int ElementType(std::uint16_t address)
{
    if (address == kTransport) return 1;
    if (address == kDrive) return 4;
    return 2;
}

}  // namespace

ChangerServer::ChangerServer(UnitConfig config) : ScsiServer(std::move(config))
{
    m_full[kTransport] = false;
    for (std::uint16_t i = 0; i < kSlots; ++i) {
        m_full[kFirstSlot + i] = i < 4;
    }
    m_full[kDrive] = false;
}

ScsiResult ChangerServer::Dispatch(const ScsiRequest& request)
{
    switch (request.cdb[0]) {
    case opcode::kTestUnitReady:
    case opcode::kInitializeElementStatus:
    case opcode::kPreventAllowMediumRemoval:
    case opcode::kPositionToElement: return Good();
    case opcode::kModeSense6: return ModeSense(request);
    case opcode::kMoveMedium: return MoveMedium(request);
    case opcode::kReadElementStatus: return ReadElementStatus(request);
    default: return CheckCondition(sense::kInvalidOpcode);
    }
}

ScsiResult ChangerServer::MoveMedium(const ScsiRequest& request)
{
    const auto transport = static_cast<std::uint16_t>(GetBE(request.cdb, 2, 2));
    const auto source = static_cast<std::uint16_t>(GetBE(request.cdb, 4, 2));
    const auto destination = static_cast<std::uint16_t>(GetBE(request.cdb, 6, 2));
    if (transport != kTransport || !m_full.count(source) || !m_full.count(destination)) {
        return CheckCondition(kInvalidElement);
    }
    if (!m_full[source]) {
        return CheckCondition(kSourceEmpty);
    }
    if (source != destination && m_full[destination]) {
        return CheckCondition(kDestinationFull);
    }
    m_full[source] = false;
    m_full[destination] = true;
    return Good();
}

ScsiResult ChangerServer::ReadElementStatus(const ScsiRequest& request)
{
    const auto cdb = request.cdb;
    const int wanted = cdb[1] & 0x0F;
    const auto start = static_cast<std::uint16_t>(GetBE(cdb, 2, 2));
    const auto count = GetBE(cdb, 4, 2);
    if (wanted > 4) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    std::vector<std::uint8_t> data(8, 0);
    std::size_t reported = 0;
    for (int type = 1; type <= 4; ++type) {
        if (wanted != 0 && wanted != type) continue;
        std::vector<std::uint8_t> page(8, 0);
        page[0] = static_cast<std::uint8_t>(type);
        PutBE(page, 2, 2, 12);
        for (const auto& [address, full] : m_full) {
            if (ElementType(address) != type || address < start || reported >= count) continue;
            std::vector<std::uint8_t> descriptor(12, 0);
            PutBE(descriptor, 0, 2, address);
            descriptor[2] = full ? 0x01 : 0x00;
            page.insert(page.end(), descriptor.begin(), descriptor.end());
            ++reported;
        }
        if (page.size() > 8) {
            PutBE(page, 5, 3, page.size() - 8);
            data.insert(data.end(), page.begin(), page.end());
        }
    }
    PutBE(data, 0, 2, start);
    PutBE(data, 2, 2, reported);
    PutBE(data, 5, 3, data.size() - 8);
    return DataIn(request, data, static_cast<std::uint32_t>(GetBE(cdb, 7, 3)));
}

ScsiResult ChangerServer::ModeSense(const ScsiRequest& request)
{
    const int page = request.cdb[2] & 0x3F;
    if (page != 0x1D && page != 0x3F) {
        return CheckCondition(sense::kInvalidCdbField);
    }
    // Element address assignment page.
    std::vector<std::uint8_t> data(4 + 20, 0);
    data[0] = static_cast<std::uint8_t>(data.size() - 1);
    data[4] = 0x1D;
    data[5] = 0x12;
    PutBE(data, 6, 2, kTransport);
    PutBE(data, 8, 2, 1);
    PutBE(data, 10, 2, kFirstSlot);
    PutBE(data, 12, 2, kSlots);
    PutBE(data, 18, 2, kDrive);
    PutBE(data, 20, 2, 1);
    return DataIn(request, data, request.cdb[4]);
}

}  // namespace harrow::machine::drives
