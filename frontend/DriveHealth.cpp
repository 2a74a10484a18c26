#include "frontend/DriveHealth.h"

#include "frontend/CommandRoutine.h"
#include "frontend/HealthSense.h"

#include <algorithm>
#include <array>

namespace {

constexpr long kLogSenseTimeout = 10;
constexpr long kShortTimeout = 2;
constexpr std::uint16_t kLogReplyBytes = 0xFFFF;
constexpr std::uint16_t kInquiryBytes = 36;
constexpr std::uint8_t kVpdSerialNumber = 0x80;
constexpr std::uint8_t kAscFailurePrediction = 0x5D;
constexpr std::uint8_t kAscWarning = 0x0B;
constexpr std::uint8_t kAscqTemperature = 0x01;

// One command's end as the health report sees it.
struct Reply {
    bool reached = true;
    bool good = false;
    SenseCodes sense;
};

// Sends a command; a unit attention is answered by sending it once more, and
// an informational exception that rode on a command (MRIE 2 to 5) is noted.
class HealthReader {
public:
    HealthReader(const DeviceRecord& record, HealthReport& report) : m_record(record), m_report(report) {}

    Reply Send(const Cdb& command, std::uint8_t* data, std::uint32_t length, long timeout)
    {
        Reply reply = SendOnce(command, data, length, timeout);
        if (!reply.good && reply.reached && reply.sense.key == kSenseKeyUnitAttention) {
            reply = SendOnce(command, data, length, timeout);
        }
        return reply;
    }

private:
    Reply SendOnce(const Cdb& command, std::uint8_t* data, std::uint32_t length, long timeout)
    {
        const CdbAnswer answer = SendCdb(m_record, command, data, length, timeout);
        Reply reply;
        if (answer.result == kCmdNoDevice || answer.outcome == kOutcomeAdapterFailure) {
            reply.reached = false;
            return reply;
        }
        reply.good = answer.Good();
        if (!reply.good) {
            reply.sense = CodesOf(answer.ViewSense());
            if (reply.sense.asc == kAscFailurePrediction) {
                m_report.reportedException = reply.sense;
                // With NO SENSE or RECOVERED ERROR the command itself completed.
                reply.good = reply.sense.key == kSenseKeyNoSense || reply.sense.key == kSenseKeyRecoveredError;
            }
        }
        return reply;
    }

    const DeviceRecord& m_record;
    HealthReport& m_report;
};

PageOutcome OutcomeOf(const Reply& reply)
{
    PageOutcome outcome;
    if (reply.good) {
        outcome.state = PageOutcome::READ;
        return outcome;
    }
    outcome.sense = reply.sense;
    outcome.state = reply.sense.key == kSenseKeyIllegalRequest ? PageOutcome::UNSUPPORTED : PageOutcome::FAILED;
    return outcome;
}

std::string Trimmed(const std::uint8_t* bytes, std::size_t count)
{
    std::string text(reinterpret_cast<const char*>(bytes), count);
    std::replace_if(text.begin(), text.end(), [](char c) { return c < 0x20 || c > 0x7E; }, ' ');
    const auto begin = text.find_first_not_of(' ');
    const auto end = text.find_last_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
}

bool ReadIdentity(HealthReader& reader, HealthReport& report)
{
    std::array<std::uint8_t, kInquiryBytes> data{};
    const Reply reply = reader.Send(cdb::Inquiry(kInquiryBytes), data.data(), kInquiryBytes, kShortTimeout);
    report.reached = reply.reached;
    if (!reply.reached) {
        return false;
    }
    report.identityOutcome = OutcomeOf(reply);
    if (!reply.good) {
        return false;
    }
    report.peripheralType = data[0] & 0x1F;
    report.vendor = Trimmed(data.data() + 8, 8);
    report.product = Trimmed(data.data() + 16, 16);
    report.revision = Trimmed(data.data() + 32, 4);
    return true;
}

void ReadSerial(HealthReader& reader, HealthReport& report)
{
    std::array<std::uint8_t, 0xFC> data{};
    const Reply reply = reader.Send(cdb::InquiryPage(kVpdSerialNumber, data.size()), data.data(),
                                    static_cast<std::uint32_t>(data.size()), kShortTimeout);
    if (reply.good && data[1] == 0x80) {
        report.serial = Trimmed(data.data() + 4, std::min<std::size_t>(data[3], data.size() - 4));
    }
}

void Decode(int code, const LogPageView& page, HealthReport& report)
{
    switch (code) {
    case log_page::kWriteErrors: report.writeErrors = DecodeErrorCounters(page); break;
    case log_page::kReadErrors: report.readErrors = DecodeErrorCounters(page); break;
    case log_page::kVerifyErrors: report.verifyErrors = DecodeErrorCounters(page); break;
    case log_page::kNonMediumErrors: report.nonMediumErrors = DecodeNonMediumErrors(page); break;
    case log_page::kTemperature: report.temperatures = DecodeTemperatures(page); break;
    case log_page::kStartStop: report.startStop = DecodeStartStop(page); break;
    case log_page::kSelfTestResults: report.selfTests = DecodeSelfTests(page); break;
    case log_page::kBackgroundScan: report.backgroundScan = DecodeBackgroundScan(page); break;
    case log_page::kProtocolPort: report.ports = DecodeProtocolPorts(page); break;
    case log_page::kInformationalExceptions: report.exceptions = DecodeInformationalExceptions(page); break;
    default: break;
    }
}

void ReadLogPages(HealthReader& reader, HealthReport& report)
{
    std::vector<std::uint8_t> data(kLogReplyBytes);
    const Reply listed = reader.Send(cdb::LogSense(log_page::kSupported, kLogCumulative, kLogReplyBytes), data.data(),
                                     kLogReplyBytes, kLogSenseTimeout);
    report.supportedOutcome = OutcomeOf(listed);
    if (!listed.good) {
        return;
    }
    report.supported = DecodeSupportedPages(LogPageView(data));
    for (const int code : HealthPages()) {
        if (std::find(report.supported.begin(), report.supported.end(), code) == report.supported.end()) {
            continue;
        }
        std::fill(data.begin(), data.end(), 0);
        const Reply reply =
            reader.Send(cdb::LogSense(code, kLogCumulative, kLogReplyBytes), data.data(), kLogReplyBytes, kLogSenseTimeout);
        PageOutcome outcome = OutcomeOf(reply);
        if (reply.good) {
            const LogPageView page(data);
            outcome.cut = page.Cut() || page.PageCode() != code;
            if (page.PageCode() == code) {
                Decode(code, page, report);
            }
        } else {
            outcome.state = PageOutcome::FAILED;  // a listed page must be readable
        }
        report.pages[code] = outcome;
    }
}

// Without the IE page, the drive still tells a pending exception through
// REQUEST SENSE when its MRIE is 6 (SPC-4 7.5.8).
void AskForException(HealthReader& reader, HealthReport& report)
{
    std::array<std::uint8_t, kSenseReplyBytes> data{};
    const Reply reply =
        reader.Send(cdb::RequestSense(kSenseReplyBytes), data.data(), kSenseReplyBytes, kLogSenseTimeout);
    if (!reply.good) {
        return;
    }
    const SenseCodes codes = CodesOf(SenseView(data));
    if (codes.asc == kAscFailurePrediction) {
        report.reportedException = codes;
    }
}

void ReadGrownDefects(HealthReader& reader, HealthReport& report)
{
    std::array<std::uint8_t, 8> data{};
    Reply reply = reader.Send(cdb::ReadDefectData12(false, true, kDefectBytesFromIndex, data.size()), data.data(),
                              data.size(), kShortTimeout);
    bool twelve = true;
    if (!reply.good && reply.reached && reply.sense.key == kSenseKeyIllegalRequest) {
        data.fill(0);
        twelve = false;
        reply = reader.Send(cdb::ReadDefectData10(false, true, kDefectBytesFromIndex, 4), data.data(), 4,
                            kShortTimeout);
    }
    report.defectOutcome = OutcomeOf(reply);
    if (reply.good) {
        report.grownDefects = GrownDefectCount(std::span<const std::uint8_t>(data.data(), twelve ? 8 : 4), twelve);
        if (!report.grownDefects) {
            report.defectOutcome.cut = true;
        }
    }
}

}  // namespace

const std::vector<int>& HealthPages()
{
    static const std::vector<int> pages{
        log_page::kInformationalExceptions, log_page::kTemperature,       log_page::kWriteErrors,
        log_page::kReadErrors,              log_page::kVerifyErrors,     log_page::kNonMediumErrors,
        log_page::kStartStop,               log_page::kSelfTestResults, log_page::kBackgroundScan,
        log_page::kProtocolPort,
    };
    return pages;
}

HealthReport ReadDriveHealth(const DeviceRecord& record)
{
    HealthReport report;
    report.address = DeviceAddressText(record);
    HealthReader reader(record, report);
    if (!ReadIdentity(reader, report)) {
        return report;
    }
    ReadSerial(reader, report);
    ReadLogPages(reader, report);
    if (!report.exceptions) {
        AskForException(reader, report);
    }
    ReadGrownDefects(reader, report);
    return report;
}

bool PredictsFailure(const HealthReport& report)
{
    if (report.exceptions && report.exceptions->asc && *report.exceptions->asc != 0 &&
        *report.exceptions->asc != kAscWarning) {
        return true;
    }
    return report.reportedException.has_value();
}

bool ReportsTemperatureWarning(const HealthReport& report)
{
    return report.exceptions && report.exceptions->asc == kAscWarning &&
           report.exceptions->ascq == kAscqTemperature;
}

namespace {

bool IsHot(const HealthReport& report)
{
    if (ReportsTemperatureWarning(report)) {
        return true;
    }
    return report.temperatures && report.temperatures->current && report.temperatures->reference &&
           *report.temperatures->current >= *report.temperatures->reference;
}

bool HasUncorrected(const HealthReport& report)
{
    for (const auto* counters : {&report.writeErrors, &report.readErrors, &report.verifyErrors}) {
        if (*counters && (*counters)->uncorrected.value_or(0) != 0) {
            return true;
        }
    }
    return false;
}

bool SelfTestFailed(const HealthReport& report)
{
    return report.selfTests && std::any_of(report.selfTests->begin(), report.selfTests->end(),
                                           [](const SelfTestRecord& r) { return IsSelfTestFailure(r.result); });
}

bool AnyCommandFailed(const HealthReport& report)
{
    if (report.identityOutcome.state == PageOutcome::FAILED || report.supportedOutcome.state == PageOutcome::FAILED ||
        report.defectOutcome.state == PageOutcome::FAILED) {
        return true;
    }
    return std::any_of(report.pages.begin(), report.pages.end(),
                       [](const auto& page) { return page.second.state == PageOutcome::FAILED; });
}

}  // namespace

unsigned HealthBits(const HealthReport& report)
{
    if (!report.reached) {
        return health_bit::kUnreachable;
    }
    unsigned bits = 0;
    bits |= AnyCommandFailed(report) ? health_bit::kCommandFailed : 0;
    bits |= PredictsFailure(report) ? health_bit::kPredictedFailure : 0;
    bits |= IsHot(report) ? health_bit::kHot : 0;
    bits |= HasUncorrected(report) ? health_bit::kUncorrected : 0;
    bits |= report.grownDefects.value_or(0) != 0 ? health_bit::kGrownDefects : 0;
    bits |= SelfTestFailed(report) ? health_bit::kSelfTestFailed : 0;
    return bits;
}
