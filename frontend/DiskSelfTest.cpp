#include "frontend/DiskSelfTest.h"

#include "frontend/CommandRoutine.h"
#include "frontend/HealthSense.h"
#include "frontend/TextFormat.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr long TIMEOUT = 10;
constexpr DWORD POLL_MS = 1000;
constexpr int PROGRESS_STEP = 10;
constexpr std::uint16_t LOG_REPLY_BYTES = 0xFFFF;
constexpr std::uint8_t ASC_NOT_READY = 0x04;
constexpr std::uint8_t ASCQ_SELF_TEST = 0x09;
constexpr int RESULT_IN_PROGRESS = 0xF;

bool Unreachable(const CdbAnswer& answer)
{
    return answer.result == CMD_NO_DEVICE || answer.outcome == OUTCOME_ADAPTER_FAILURE;
}

// Percent done while the drive reports its self test running (SPC-4 4.5.2.4.4).
std::optional<int> Progress(const DeviceRecord& record)
{
    std::array<std::uint8_t, SENSE_REPLY_BYTES> data{};
    const CdbAnswer answer = SendCdb(record, cdb::RequestSense(SENSE_REPLY_BYTES), data.data(), SENSE_REPLY_BYTES, TIMEOUT);
    if (!answer.Good()) {
        return std::nullopt;
    }
    const SenseView sense(data);
    const bool running = sense.Asc() == ASC_NOT_READY && sense.Ascq() == ASCQ_SELF_TEST &&
                         (sense.Key() == kSenseKeyNoSense || sense.Key() == kSenseKeyNotReady);
    if (!running) {
        return std::nullopt;
    }
    return std::min(sense.Progress().value_or(0) * 100 / 65536, 99);
}

std::optional<SelfTestRecord> NewestEntry(const DeviceRecord& record, bool& failed)
{
    std::vector<std::uint8_t> data(LOG_REPLY_BYTES);
    const CdbAnswer answer = SendCdb(record, cdb::LogSense(log_page::SELF_TEST_RESULTS, LOG_CUMULATIVE, LOG_REPLY_BYTES),
                                     data.data(), LOG_REPLY_BYTES, TIMEOUT);
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
    int threshold = PROGRESS_STEP;
    for (std::optional<int> progress = Progress(record); progress; progress = Progress(record)) {
        if (*progress >= threshold) {
            print({Format("Self test: %d%% complete", *progress), false});
            threshold = (*progress / PROGRESS_STEP + 1) * PROGRESS_STEP;
        }
        Sleep(POLL_MS);
    }
}

void Judge(const DeviceRecord& record, SelfTestOutcome& outcome, const LinePrinter& print)
{
    bool failed = false;
    outcome.newest = NewestEntry(record, failed);
    if (failed) {
        outcome.bits |= health_bit::COMMAND_FAILED;
        print({"Self-test log: LOG SENSE failed", true});
    } else if (!outcome.newest) {
        print({"Self-test log: no entry", false});
    } else {
        print({"Self-test log, newest entry: " + SelfTestEntryText(*outcome.newest),
               IsSelfTestFailure(outcome.newest->result)});
        if (IsSelfTestFailure(outcome.newest->result)) {
            outcome.bits |= health_bit::SELF_TEST_FAILED;
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
        return (outcome.bits & health_bit::COMMAND_FAILED) != 0 ? "Self test: FAILED: the self-test log is unreadable"
                                                                : "Self test: no result logged";
    }
    if (outcome.newest->result == RESULT_IN_PROGRESS) {
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
    const int code = action == SelfTestAction::Short      ? SELF_TEST_BACKGROUND_SHORT
                     : action == SelfTestAction::Extended ? SELF_TEST_BACKGROUND_EXTENDED
                                                          : SELF_TEST_ABORT_BACKGROUND;
    const CdbAnswer answer = SendCdb(record, cdb::SendDiagnostic(code), nullptr, 0, TIMEOUT);
    outcome.reached = !Unreachable(answer);
    if (!outcome.reached) {
        outcome.bits = health_bit::UNREACHABLE;
    } else if (!answer.Good()) {
        outcome.refused = CodesOf(answer.ViewSense());
        outcome.bits = health_bit::COMMAND_FAILED;
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
