#include "machine/SimulatedPort.h"

#include "machine/ClassDevice.h"

#include "platform/Kernel.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <tuple>

namespace harrow::machine {
namespace {

// The port retries a busy target during its boot scan, as scsiport does.
constexpr int kScanAttempts = 8;
constexpr UCHAR kOpInquiry = 0x12;
constexpr UCHAR kOpRequestSense = 0x03;
constexpr UCHAR kStatusGood = 0x00;
constexpr UCHAR kStatusCheckCondition = 0x02;

// Standard INQUIRY of 36 bytes; empty when the unit never answered.
std::optional<std::array<BYTE, kInquiryDataLength>> ScanInquiry(SimulatedUnit& unit)
{
    const std::uint8_t cdb[6] = {kOpInquiry, 0, 0, 0, kInquiryDataLength, 0};
    std::array<BYTE, kInquiryDataLength> data{};
    for (int attempt = 0; attempt < kScanAttempts; ++attempt) {
        data.fill(0);
        ScsiRequest request;
        request.cdb = cdb;
        request.direction = DataDirection::In;
        request.data = data;
        const ScsiResult result = unit.Execute(request);
        if (result.outcome == PortOutcome::SelectionTimeout) {
            return std::nullopt;
        }
        if (result.outcome == PortOutcome::Delivered && result.status == kStatusGood) {
            return data;
        }
    }
    return std::nullopt;
}

// A target answers for LUNs it does not have: INQUIRY says "no unit here",
// everything else is ILLEGAL REQUEST, LOGICAL UNIT NOT SUPPORTED.
ScsiResult AnswerForAbsentLun(const ScsiRequest& request)
{
    ScsiResult result;
    std::array<std::uint8_t, 18> sense{0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x25, 0x00};
    const UCHAR opcode = request.cdb.empty() ? 0 : request.cdb[0];
    if (opcode == kOpInquiry && request.direction == DataDirection::In) {
        std::array<std::uint8_t, kInquiryDataLength> inquiry{0x7F, 0, 0x05, 0x02, kInquiryDataLength - 5};
        result.transferred = static_cast<std::uint32_t>(std::min(request.data.size(), inquiry.size()));
        std::copy_n(inquiry.begin(), result.transferred, request.data.begin());
        return result;
    }
    if (opcode == kOpRequestSense && request.direction == DataDirection::In) {
        result.transferred = static_cast<std::uint32_t>(std::min(request.data.size(), sense.size()));
        std::copy_n(sense.begin(), result.transferred, request.data.begin());
        return result;
    }
    result.status = kStatusCheckCondition;
    std::copy(sense.begin(), sense.end(), result.sense.begin());
    result.senseLength = static_cast<std::uint8_t>(sense.size());
    return result;
}

}  // namespace

SimulatedUnit::SimulatedUnit(const UnitSpec& described, std::unique_ptr<LogicalUnit> unit)
    : m_pathId(static_cast<UCHAR>(described.bus)),
      m_targetId(static_cast<UCHAR>(described.target)),
      m_lun(static_cast<UCHAR>(described.lun)),
      m_unit(std::move(unit)), m_serializes(m_unit->SerializesCommands()), m_serviceSeconds(m_unit->ServiceSeconds())
{
}

ScsiResult SimulatedUnit::Execute(const ScsiRequest& request)
{
    ScsiResult result = m_serializes ? m_unit->Execute(request) : ExecuteHeld(request);
    // Outside the lock, so commands in flight overlap as on a drive with tagged queuing.
    if (const double seconds = m_serviceSeconds * harrow::platform::TimeScale(); seconds > 0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
    return result;
}

ScsiResult SimulatedUnit::ExecuteHeld(const ScsiRequest& request)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_unit->Execute(request);
}

SimulatedPort::SimulatedPort(const PortSpec& described, std::vector<std::shared_ptr<SimulatedUnit>> units,
                             const std::string& source)
    : m_spec(described), m_units(std::move(units))
{
    m_listing.number = described.number;
    m_listing.driver = described.driver;
    m_listing.deviceName = described.deviceName;
    m_listing.buses = described.buses;
    m_listing.initiatorId = static_cast<UCHAR>(described.initiatorId);
    if (described.megaRaid) {
        // The drives behind the channels are the controller's, not the system's: they stay unlisted.
        m_miniport = std::make_unique<MegaRaidMiniport>(
            [this](UCHAR channel, UCHAR target, const ScsiRequest& request) -> std::optional<ScsiResult> {
                const auto unit = Find(channel, target, 0);
                return unit ? std::optional<ScsiResult>(unit->Execute(request)) : std::nullopt;
            });
    } else {
        Scan(source);
    }
    m_busInfo = BuildBusInfo(m_listing);
}

void SimulatedPort::Scan(const std::string& source)
{
    for (std::size_t i = 0; i < m_units.size(); ++i) {
        const UnitSpec& described = m_spec.units[i];
        const auto inquiry = ScanInquiry(*m_units[i]);
        if (!inquiry || !InquiryShowsUnit(*inquiry)) {
            continue;
        }
        const UCHAR type = (*inquiry)[0] & 0x1F;
        const bool hasClass = ClassNameFor(type) != nullptr;
        if (described.claimed.value_or(false) && !hasClass) {
            throw MachineFileError(source + ": " + described.where +
                                   ".claimed: no class driver claims a unit of peripheral type " +
                                   std::to_string(type));
        }
        ListedUnit listed;
        listed.pathId = m_units[i]->PathId();
        listed.targetId = m_units[i]->TargetId();
        listed.lun = m_units[i]->Lun();
        listed.claimed = described.claimed.value_or(hasClass && !m_spec.IsIdeChannel());
        listed.inquiry = *inquiry;
        m_listing.units.push_back(listed);
        m_listed.push_back(m_units[i]);
        m_types.push_back(type);
    }
}

ULONG SimulatedPort::MaxTransferBytes() const
{
    return m_spec.maxTransferBytes != 0 ? m_spec.maxTransferBytes : kMaxTransferLength;
}

IO_SCSI_CAPABILITIES SimulatedPort::Capabilities() const
{
    IO_SCSI_CAPABILITIES caps{};
    caps.Length = sizeof caps;
    caps.MaximumTransferLength = MaxTransferBytes();
    caps.MaximumPhysicalPages = MaxTransferBytes() / 4096 + 1;
    caps.AlignmentMask = 0;
    caps.AdapterUsesPio = m_spec.IsIdeChannel() ? 1 : 0;
    return caps;
}

std::vector<SimulatedPort::ClaimedUnit> SimulatedPort::ClaimedUnits() const
{
    std::vector<std::size_t> order(m_listed.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    const auto& listed = m_listing.units;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return std::tie(listed[a].pathId, listed[a].targetId, listed[a].lun) <
               std::tie(listed[b].pathId, listed[b].targetId, listed[b].lun);
    });
    std::vector<ClaimedUnit> claimed;
    for (std::size_t i : order) {
        if (listed[i].claimed) {
            claimed.push_back({m_listed[i], m_types[i]});
        }
    }
    return claimed;
}

std::shared_ptr<SimulatedUnit> SimulatedPort::Find(UCHAR pathId, UCHAR targetId, UCHAR lun) const
{
    for (const auto& unit : m_units) {
        if (unit->PathId() == pathId && unit->TargetId() == targetId && unit->Lun() == lun) {
            return unit;
        }
    }
    return nullptr;
}

bool SimulatedPort::HasTarget(UCHAR pathId, UCHAR targetId) const
{
    return std::any_of(m_units.begin(), m_units.end(), [&](const auto& unit) {
        return unit->PathId() == pathId && unit->TargetId() == targetId;
    });
}

BOOL SimulatedPort::PassThrough(const PassThroughCall& call, DWORD* bytesReturned, DWORD* error)
{
    const SCSI_PASS_THROUGH_DIRECT& request = call.request;
    if (request.PathId >= m_spec.buses || request.TargetId >= m_spec.targetsPerBus || request.Lun >= kMaxLuns) {
        *bytesReturned = 0;
        *error = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    const ScsiRequest scsi = MakeScsiRequest(call);
    ScsiResult result;
    if (auto unit = Find(request.PathId, request.TargetId, request.Lun)) {
        result = unit->Execute(scsi);
    } else if (HasTarget(request.PathId, request.TargetId)) {
        result = AnswerForAbsentLun(scsi);
    } else {
        result.outcome = PortOutcome::SelectionTimeout;
    }
    return CompletePassThrough(call, result, bytesReturned, error);
}

BOOL AnswerWith(const void* answer, DWORD size, void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error)
{
    *bytesReturned = 0;
    if (out == nullptr || outSize < size) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(out, answer, size);
    *bytesReturned = size;
    *error = ERROR_SUCCESS;
    return TRUE;
}

}  // namespace harrow::machine
