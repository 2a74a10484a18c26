#include "machine/iscsi/IscsiPort.h"

#include "machine/iscsi/LunReport.h"

#include "machine/SimulatedPort.h"

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>

namespace harrow::machine {
namespace {

constexpr UCHAR kInitiatorId = 7;
constexpr UCHAR kTargetsPerBus = 16;  // what a port with initiator ID 7 offers
constexpr UCHAR kOpInquiry = 0x12;
constexpr UCHAR kOpReportLuns = 0xA0;
constexpr UCHAR kStatusGood = 0x00;
constexpr UCHAR kStatusCheckCondition = 0x02;
constexpr std::uint32_t kReportLunsLength = 8 + 8 * 1024;
// A longer list is asked for again whole, up to this many LUNs (SPC-4 6.33).
constexpr std::uint32_t kMaxReportLunsLength = 8 + 8 * 65536;
constexpr int kUnitAttentionRetries = 3;
// Sense bytes up to the ASCQ: fixed format, and descriptor format's header (SPC-4 4.5).
constexpr std::size_t kFixedSenseBytes = 14;
constexpr std::size_t kDescriptorSenseBytes = 8;
constexpr std::uint32_t kScanTimeoutSeconds = 10;

ScsiResult ReadIn(IscsiSession& session, std::uint16_t lun, std::span<const std::uint8_t> cdb,
                  std::span<std::uint8_t> data)
{
    ScsiRequest request;
    request.cdb = cdb;
    request.direction = DataDirection::In;
    request.data = data;
    request.timeoutSeconds = kScanTimeoutSeconds;
    return session.Execute(lun, request);
}

std::string Describe(const ScsiResult& result)
{
    if (result.outcome != PortOutcome::Delivered) {
        return "no answer";
    }
    char text[64];
    // libiscsi reads both sense formats; it trusts the additional length, so it reads a zeroed copy that holds
    // the longest the additional length can claim.
    std::array<std::uint8_t, 8 + 255 + 2> bytes{};
    std::copy_n(result.sense.begin(), std::min<std::size_t>(result.senseLength, result.sense.size()), bytes.begin());
    scsi_sense sense{};
    scsi_parse_sense_data(&sense, bytes.data());
    const bool descriptor =
        sense.error_type == SCSI_SENSE_DESCRIPTOR_CURRENT || sense.error_type == SCSI_SENSE_DESCRIPTOR_DEFERRED_ERRORS;
    const std::size_t needed = descriptor ? kDescriptorSenseBytes : kFixedSenseBytes;
    if (result.status == kStatusCheckCondition && result.senseLength >= needed) {
        std::snprintf(text, sizeof text, "CHECK CONDITION %02X/%02X/%02X", static_cast<int>(sense.key),
                      (sense.ascq >> 8) & 0xFF, sense.ascq & 0xFF);
    } else {
        std::snprintf(text, sizeof text, "status %02X", result.status);
    }
    return text;
}

// REPORT LUNS of as many bytes as the buffer holds.
ScsiResult AskReportLuns(IscsiSession& session, std::vector<std::uint8_t>* data)
{
    const auto length = static_cast<std::uint32_t>(data->size());
    const std::uint8_t cdb[12] = {kOpReportLuns, 0, 0, 0, 0, 0,
                                  static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                                  static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0, 0};
    ScsiResult result;
    // A pending unit attention may stand in the way; it stays for the program.
    for (int attempt = 0; attempt < kUnitAttentionRetries; ++attempt) {
        result = ReadIn(session, 0, cdb, *data);
        if (result.outcome != PortOutcome::Delivered || result.status != kStatusCheckCondition) {
            break;
        }
    }
    return result;
}

// The LUNs as the target reports them; LUN 0 alone when it refuses to report;
// nothing when it did not answer at all.
std::optional<std::vector<unsigned>> ReportLuns(IscsiSession& session, std::vector<std::string>* notes)
{
    std::vector<std::uint8_t> data(kReportLunsLength);
    ScsiResult result = AskReportLuns(session, &data);
    // The answer holds the length of the whole list, however much of it fitted.
    if (result.outcome == PortOutcome::Delivered && result.status == kStatusGood && result.transferred == data.size()) {
        const std::uint64_t whole = 8 + ((std::uint64_t{data[0]} << 24) | (data[1] << 16) | (data[2] << 8) | data[3]);
        if (whole > data.size()) {
            data.assign(std::min<std::uint64_t>(whole, kMaxReportLunsLength), 0);
            result = AskReportLuns(session, &data);
        }
    }
    // A target that let the command time out or dropped it would make an
    // INQUIRY of LUN 0 wait as long again.
    if (result.outcome != PortOutcome::Delivered) {
        return std::nullopt;
    }
    if (result.status != kStatusGood || result.transferred < 8) {
        notes->push_back("REPORT LUNS: " + Describe(result) + "; only LUN 0 is scanned");
        return std::vector<unsigned>{0};
    }
    const std::size_t answered = std::min<std::size_t>(result.transferred, data.size());
    return LunsFromReport(std::span<const std::uint8_t>(data).first(answered), notes);
}

}  // namespace

IscsiPort::IscsiPort(int number, IscsiTarget target, std::chrono::milliseconds loginTimeout)
    : m_session(std::move(target), loginTimeout)
{
    m_listing.number = number;
    m_listing.driver = kIscsiDriverName;
    m_listing.deviceName = "ScsiPort" + std::to_string(number);
    m_listing.initiatorId = kInitiatorId;
}

bool IscsiPort::Scan()
{
    // A target that did not answer is probed once a run: each probe costs
    // its time-outs, and the program rescans every port at start.
    if (m_unreached) {
        return false;
    }
    ListedPort listing = Listing();
    listing.units.clear();
    std::vector<std::string> notes;
    const bool reached = m_session.Open() && ListUnits(&listing, &notes);
    if (!reached) {
        notes.insert(notes.begin(), m_session.Problem());
        m_unreached = true;
    }
    std::string problem;
    for (const std::string& note : notes) {
        problem += (problem.empty() ? "" : "; ") + note;
    }
    const std::lock_guard<std::mutex> hold(m_lock);
    if (reached) {
        m_listing = std::move(listing);
    }
    m_problem = problem;
    return reached;
}

bool IscsiPort::ListUnits(ListedPort* listing, std::vector<std::string>* notes)
{
    const auto luns = ReportLuns(m_session, notes);
    if (!luns) {
        return false;
    }
    for (const unsigned lun : *luns) {
        ListedUnit unit;
        unit.lun = static_cast<UCHAR>(lun);
        const std::uint8_t cdb[6] = {kOpInquiry, 0, 0, 0, static_cast<std::uint8_t>(kInquiryDataLength), 0};
        const ScsiResult result = ReadIn(m_session, static_cast<std::uint16_t>(lun), cdb, unit.inquiry);
        if (result.outcome != PortOutcome::Delivered) {
            return false;  // the session is gone; the old listing stays
        }
        if (result.status != kStatusGood) {
            notes->push_back("LUN " + std::to_string(lun) + ": INQUIRY: " + Describe(result));
            continue;
        }
        if (InquiryShowsUnit(unit.inquiry)) {
            listing->units.push_back(unit);
        }
    }
    return true;
}

ListedPort IscsiPort::Listing() const
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_listing;
}

std::vector<BYTE> IscsiPort::BusInfo() const { return BuildBusInfo(Listing()); }

std::string IscsiPort::Problem() const
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_problem;
}

IO_SCSI_CAPABILITIES IscsiPort::Capabilities() const
{
    IO_SCSI_CAPABILITIES caps{};
    caps.Length = sizeof caps;
    caps.MaximumTransferLength = kMaxTransferLength;
    caps.MaximumPhysicalPages = kMaxTransferLength / 4096 + 1;
    caps.TaggedQueuing = 0;  // one command in flight per target
    return caps;
}

BOOL IscsiPort::PassThrough(const PassThroughCall& call, DWORD* bytesReturned, DWORD* error)
{
    const SCSI_PASS_THROUGH_DIRECT& request = call.request;
    if (request.PathId != 0 || request.TargetId >= kTargetsPerBus) {
        *bytesReturned = 0;
        *error = ERROR_INVALID_PARAMETER;
        return FALSE;
    }
    ScsiResult result;
    if (request.TargetId == 0) {
        result = m_session.Execute(request.Lun, MakeScsiRequest(call));
    } else {
        result.outcome = PortOutcome::SelectionTimeout;
    }
    return CompletePassThrough(call, result, bytesReturned, error);
}

}  // namespace harrow::machine
