#include "frontend/DiskSelfTest.h"

#include "frontend/HealthCommands.h"
#include "frontend/TextFormat.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

constexpr std::uint8_t BACKGROUND_SHORT = 1;
constexpr std::uint8_t BACKGROUND_EXTENDED = 2;
constexpr std::uint8_t ABORT_BACKGROUND = 4;
constexpr long TIMEOUT = 10;
constexpr DWORD POLL_MS = 1000;
constexpr int PROGRESS_STEP = 10;
constexpr std::uint32_t LOG_REPLY_BYTES = 0xFFFF;
constexpr std::uint8_t KEY_NOT_READY = 0x2;
constexpr std::uint8_t ASC_NOT_READY = 0x04;
constexpr std::uint8_t ASCQ_SELF_TEST = 0x09;
constexpr int RESULT_IN_PROGRESS = 0xF;

bool Unreachable(const CdbAnswer& answer)
{
    return answer.result == CMD_NO_DEVICE || answer.outcome == OUTCOME_ADAPTER_FAILURE;
}

std::string Codes(const SenseCodes& sense) { return Format("%2.2X/%2.2X/%2.2X", sense.key, sense.asc, sense.ascq); }

// Percent done while the drive reports its self test running (SPC-4 4.5.2.4.4).
std::optional<int> Progress(const DeviceRecord& record)
{
    std::array<std::uint8_t, SENSE_REPLY_BYTES> data{};
    const CdbAnswer answer =
        SendScsiCommand(record, RequestSenseCommand(SENSE_REPLY_BYTES), data.data(), SENSE_REPLY_BYTES, TIMEOUT);
    if (!answer.Good()) {
        return std::nullopt;
    }
    const SenseCodes codes = SenseOfBytes(data);
    const bool running = codes.asc == ASC_NOT_READY && codes.ascq == ASCQ_SELF_TEST &&
                         (codes.key == 0 || codes.key == KEY_NOT_READY);
    if (!running) {
        return std::nullopt;
    }
    const bool fixed = (data[0] & 0x7F) == 0x70 || (data[0] & 0x7F) == 0x71;
    if (fixed && (data[15] & 0x80) != 0) {
        return std::min(((data[16] << 8) | data[17]) * 100 / 65536, 99);
    }
    return 0;
}

std::optional<SelfTestRecord> NewestEntry(const DeviceRecord& record, bool& failed)
{
    std::vector<std::uint8_t> data(LOG_REPLY_BYTES);
    const CdbAnswer answer = SendScsiCommand(record, LogSenseCommand(log_page::SELF_TEST_RESULTS, LOG_REPLY_BYTES),
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
    if (outcome.refused) {
        return "Self test: FAILED: SEND DIAGNOSTIC refused: " + Codes(*outcome.refused);
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
    const std::uint8_t code = action == SelfTestAction::Short      ? BACKGROUND_SHORT
                              : action == SelfTestAction::Extended ? BACKGROUND_EXTENDED
                                                                   : ABORT_BACKGROUND;
    const CdbAnswer answer = SendScsiCommand(record, SendDiagnosticCommand(code), nullptr, 0, TIMEOUT);
    outcome.reached = !Unreachable(answer);
    if (!outcome.reached) {
        outcome.bits = health_bit::UNREACHABLE;
    } else if (!answer.Good()) {
        outcome.refused = SenseOf(answer);
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
