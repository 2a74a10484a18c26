#include "frontend/DiskSelfTest.h"

#include "frontend/CommandRoutine.h"
#include "frontend/HealthSense.h"
#include "frontend/TextFormat.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr long kTimeout = 10;
constexpr DWORD kPollMs = 1000;
constexpr int kProgressStep = 10;
constexpr std::uint16_t kLogReplyBytes = 0xFFFF;
constexpr std::uint8_t kAscNotReady = 0x04;
constexpr std::uint8_t kAscqSelfTest = 0x09;
constexpr int kResultInProgress = 0xF;

bool Unreachable(const CdbAnswer& answer)
{
    return answer.result == kCmdNoDevice || answer.outcome == kOutcomeAdapterFailure;
}

// Percent done while the drive reports its self test running (SPC-4 4.5.2.4.4).
std::optional<int> Progress(const DeviceRecord& record)
{
    std::array<std::uint8_t, kSenseReplyBytes> data{};
    const CdbAnswer answer = SendCdb(record, cdb::RequestSense(kSenseReplyBytes), data.data(), kSenseReplyBytes, kTimeout);
    if (!answer.Good()) {
        return std::nullopt;
    }
    const SenseView sense(data);
    const bool running = sense.Asc() == kAscNotReady && sense.Ascq() == kAscqSelfTest &&
                         (sense.Key() == kSenseKeyNoSense || sense.Key() == kSenseKeyNotReady);
    if (!running) {
        return std::nullopt;
    }
    return std::min(sense.Progress().value_or(0) * 100 / 65536, 99);
}

std::optional<SelfTestRecord> NewestEntry(const DeviceRecord& record, bool& failed)
{
    std::vector<std::uint8_t> data(kLogReplyBytes);
    const CdbAnswer answer = SendCdb(record, cdb::LogSense(log_page::kSelfTestResults, kLogCumulative, kLogReplyBytes),
                                     data.data(), kLogReplyBytes, kTimeout);
    failed = !answer.Good();
    if (failed) {
        return std::nullopt;
    }
    const std::vector<SelfTestRecord> entries = DecodeSelfTests(LogPageView(data));
    const auto newest = std::min_element(entries.begin(), entries.end(),
                                         [](const auto& a, const auto& b) { return a.number < b.number; });
    return newest == entries.end() ? std::nullopt : std::optional<SelfTestRecord>(*newest);
}

void Follow(const DeviceRecord& record, const LinePrinter& print)
{
    int threshold = kProgressStep;
    for (std::optional<int> progress = Progress(record); progress; progress = Progress(record)) {
        if (*progress >= threshold) {
            print({Format("Self test: %d%% complete", *progress), false});
            threshold = (*progress / kProgressStep + 1) * kProgressStep;
        }
        Sleep(kPollMs);
    }
}

void Judge(const DeviceRecord& record, SelfTestOutcome& outcome, const LinePrinter& print)
{
    bool failed = false;
    outcome.newest = NewestEntry(record, failed);
    if (failed) {
        outcome.bits |= health_bit::kCommandFailed;
        print({"Self-test log: LOG SENSE failed", true});
    } else if (!outcome.newest) {
        print({"Self-test log: no entry", false});
    } else {
        print({"Self-test log, newest entry: " + SelfTestEntryText(*outcome.newest),
               IsSelfTestFailure(outcome.newest->result)});
        if (IsSelfTestFailure(outcome.newest->result)) {
            outcome.bits |= health_bit::kSelfTestFailed;
        }
    }
}

std::string VerdictLine(const SelfTestOutcome& outcome)
{
    if (!outcome.reached) {
        return "Self test: FAILED: the device could not be reached";
    }
    if (outcome.refused && outcome.action == SelfTestAction::Abort &&
        outcome.refused->key == kSenseKeyIllegalRequest) {
        return "Self test: FAILED: no self test was running to abort (SEND DIAGNOSTIC refused: " +
               SenseCodesText(*outcome.refused) + ")";
    }
    if (outcome.refused) {
        return "Self test: FAILED: SEND DIAGNOSTIC refused: " + SenseCodesText(*outcome.refused);
    }
    if (!outcome.newest) {
        return (outcome.bits & health_bit::kCommandFailed) != 0 ? "Self test: FAILED: the self-test log is unreadable"
                                                                : "Self test: no result logged";
    }
    if (outcome.newest->result == kResultInProgress) {
        return "Self test: still in progress";
    }
    if (IsSelfTestFailure(outcome.newest->result) || outcome.newest->result == 2) {
        return std::string("Self test: FAILED: ") + SelfTestResultName(outcome.newest->result);
    }
    return std::string("Self test: ") + SelfTestResultName(outcome.newest->result);
}

}  // namespace

SelfTestOutcome RunDiskSelfTest(const DeviceRecord& record, SelfTestAction action, const LinePrinter& print)
{
    SelfTestOutcome outcome;
    outcome.action = action;
    const int code = action == SelfTestAction::Short      ? kSelfTestBackgroundShort
                     : action == SelfTestAction::Extended ? kSelfTestBackgroundExtended
                                                          : kSelfTestAbortBackground;
    const CdbAnswer answer = SendCdb(record, cdb::SendDiagnostic(code), nullptr, 0, kTimeout);
    outcome.reached = !Unreachable(answer);
    if (!outcome.reached) {
        outcome.bits = health_bit::kUnreachable;
    } else if (!answer.Good()) {
        outcome.refused = CodesOf(answer.ViewSense());
        outcome.bits = health_bit::kCommandFailed;
    } else {
        print({action == SelfTestAction::Abort     ? "Self test: abort sent"
               : action == SelfTestAction::Short ? "Self test: short self test started"
                                                 : "Self test: extended self test started",
               false});
        if (action != SelfTestAction::Abort) {
            Follow(record, print);
        }
        Judge(record, outcome, print);
    }
    const std::string verdict = VerdictLine(outcome);
    print({verdict, verdict.find("FAILED") != std::string::npos});
    return outcome;
}
