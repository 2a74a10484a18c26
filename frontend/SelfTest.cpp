#include "frontend/SelfTest.h"

#include "frontend/CommandRoutine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/LineLog.h"
#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace {

constexpr LogFlags kNote{true, true, true};
constexpr LogFlags kWithAddress{true, false, true};

// The self-test results log page (SPC-4 7.3.18).
constexpr int kSelfTestResultsPage = 0x10;
constexpr long kRequestSenseTimeout = 10;
constexpr long kResultsPageTimeout = 30;
constexpr std::uint8_t kSenseReplyBytes = 19;
constexpr std::uint32_t kResultsPageBytes = 512;
constexpr std::size_t kEntryOffset = 4;
constexpr std::size_t kEntryBytes = 20;
constexpr DWORD kPollMs = 1000;
constexpr int kProgressStep = 10;
constexpr int kResultAborted = 1;
constexpr int kResultFirstFailure = 2;

// Resource strings of the self-test failure report.
constexpr unsigned kResCodeLine = 4036;
constexpr unsigned kResResultLine = 4037;
constexpr unsigned kResSegmentLine = 4039;
constexpr unsigned kResSenseLine = 4040;
constexpr unsigned kResFirstCodeName = 4041;
constexpr unsigned kResOtherCodeName = 4047;
constexpr unsigned kResFirstResultName = 4048;
constexpr unsigned kResOtherResultName = 4056;
constexpr unsigned kResInProgressName = 4057;
constexpr unsigned kResHoursLine = 4060;
constexpr unsigned kResPageUnreadable = 4062;
constexpr unsigned kResSenseVendorLine = 4063;

int RequestedPercent(const DeviceRecord& record)
{
    const int percent = static_cast<int>(record.percent);
    return percent == 0 ? 100 : percent;
}

const char* TestWord(bool extended) { return extended ? "Long" : "Short"; }

// "<what> Failed: KK / AA / QQ[ FRU Code FF]", KK with the filemark, EOM and ILI bits.
std::string FailureText(const char* what, const SenseView& sense)
{
    if (sense.Fru() != 0) {
        return Format("%s Failed: %2.2X / %2.2X / %2.2X FRU Code %2.2X", what, sense.KeyByte(), sense.Asc(),
                      sense.Ascq(), sense.Fru());
    }
    return Format("%s Failed: %2.2X / %2.2X / %2.2X", what, sense.KeyByte(), sense.Asc(), sense.Ascq());
}

CdbAnswer SendDiagnostic(const DeviceRecord& record, int selfTestCode)
{
    return SendCdb(record, cdb::SendDiagnostic(selfTestCode), nullptr, 0, kTimeoutEightHours);
}

unsigned CodeName(int code)
{
    switch (code) {
    case 0:
    case 1:
    case 2: return kResFirstCodeName + static_cast<unsigned>(code);
    case 4:
    case 5:
    case 6: return kResFirstCodeName + static_cast<unsigned>(code) - 1;
    default: return kResOtherCodeName;
    }
}

unsigned ResultName(int result)
{
    if (result <= 7) {
        return kResFirstResultName + static_cast<unsigned>(result);
    }
    return result == 0x0F ? kResInProgressName : kResOtherResultName;
}

void LogResource(const DeviceRecord& record, unsigned id, auto... values)
{
    LogLine(Format(ResourceText(id).c_str(), values...), &record, kNote);
}

// Logs the newest entry of the self-test results page, field by field.
void LogNewestEntry(const DeviceRecord& record, const std::uint8_t* entry)
{
    const int code = entry[4] >> 5;
    const int result = entry[4] & 0x0F;
    LogResource(record, kResCodeLine, code, ResourceText(CodeName(code)).c_str());
    LogResource(record, kResResultLine, result, ResourceText(ResultName(result)).c_str());
    LogResource(record, kResHoursLine, (entry[6] << 8) | entry[7]);
    if (result < 3) {
        return;
    }
    const unsigned long lba = (static_cast<unsigned long>(entry[12]) << 24) | (entry[13] << 16) | (entry[14] << 8) |
                              entry[15];
    LogResource(record, kResSegmentLine, static_cast<int>(entry[5]), lba);
    if (entry[19] != 0) {
        LogResource(record, kResSenseVendorLine, entry[16] & 0x0F, entry[17], entry[18], entry[19]);
    } else {
        LogResource(record, kResSenseLine, entry[16] & 0x0F, entry[17], entry[18]);
    }
}

// Reads the self-test results page and logs what its newest entry says.
void ReportSelfTestFailure(DeviceRecord& record)
{
    std::array<std::uint8_t, kResultsPageBytes> page{};
    const CdbAnswer answer = SendCdb(record, cdb::LogSense(kSelfTestResultsPage, kLogCumulative, kResultsPageBytes),
                                     page.data(), page.size(), kResultsPageTimeout);
    if (!answer.Good()) {
        PublishStatus(record, TEST_FAILED, FailureText("Log Sense", answer.ViewSense()));
        LogLine(record.statusText, &record, kWithAddress);
        LogLine(ResourceText(kResPageUnreadable), &record, kNote);
    } else {
        const std::uint8_t* entry = page.data() + kEntryOffset;
        if (std::any_of(entry, entry + kEntryBytes, [](std::uint8_t byte) { return byte != 0; })) {
            PublishStatus(record, record.state, "Short Drive Self-Test Failed");
            LogNewestEntry(record, entry);
        }
    }
    PublishStatus(record, record.state, record.statusText + ", Please Run the Generic Drive Tests(s)");
    record.testRunning = 0;
}

std::string SegmentFailedText(const DeviceRecord& record)
{
    bool inProgress = false;
    int ignored = 0;
    ReadSelfTestStatus(record, 0x50, inProgress, ignored);
    return Format("Drive Self Test Segment %2X Failed", SharedBuffer()[9]);
}

struct SelfTestStatus {
    bool read = false;
    // False for a log without entries: no test has been run.
    bool logged = false;
    bool inProgress = false;
    int resultCode = 0;
};

SelfTestStatus ReadStatus(const DeviceRecord& record)
{
    SelfTestStatus status;
    status.read = ReadSelfTestStatus(record, 0x50, status.inProgress, status.resultCode) == 0;
    if (status.read) {
        // Unused entries are zero but for their parameter code and length.
        const std::uint8_t* page = SharedBuffer();
        const std::uint8_t* content = page + kEntryOffset + 4;
        status.logged = ((page[2] << 8) | page[3]) >= static_cast<int>(kEntryBytes) &&
                        std::any_of(content, content + kEntryBytes - 4, [](std::uint8_t byte) { return byte != 0; });
    }
    return status;
}

// Reads the newest self-test entry and takes it into the record.
SelfTestStatus ReadAndReport(DeviceRecord& record)
{
    const SelfTestStatus status = ReadStatus(record);
    if (status.logged) {
        ReportSelfTestResult(record, status.resultCode);
    }
    return status;
}

bool IsFailure(int resultCode) { return resultCode >= kResultFirstFailure && resultCode != kSelfTestInProgress; }

// How a run that is no longer following the drive's test ends.
int FinishRun(DeviceRecord& record, const SelfTestStatus& status, const char* word)
{
    const bool failed = !status.read || status.resultCode != 0;
    if (status.read && IsFailure(status.resultCode)) {
        ReportSelfTestFailure(record);
    }
    LogLine(Format(failed ? "DST %s Test complete with error" : "DST %s Test complete without error", word), &record,
            kNote);
    return failed ? 1 : 0;
}

// The drive has reached the percentage asked for. A test that ended before
// the abort reached it is judged by its log entry, so a failure or another
// program's abort is not passed over.
int FinishAtPercent(DeviceRecord& record, const char* word)
{
    const bool stoppedHere = AbortSelfTest(record);
    const SelfTestStatus status = ReadStatus(record);
    const bool passed =
        status.read && (status.resultCode == 0 || (stoppedHere && status.resultCode == kResultAborted));
    if (passed) {
        LogLine(Format("DST %s Test complete without error", word), &record, kNote);
        return 0;
    }
    if (status.read) {
        ReportSelfTestResult(record, status.resultCode);
    }
    return FinishRun(record, status, word);
}

// Polls the running test until it ends or reaches the percentage.
int FollowSelfTest(DeviceRecord& record, int percent, const char* word)
{
    SelfTestStatus status = ReadAndReport(record);
    int threshold = kProgressStep;
    while (status.read && status.inProgress) {
        Sleep(kPollMs);
        const int progress = SelfTestProgress(record);
        if (progress >= percent) {
            return FinishAtPercent(record, word);
        }
        if (progress >= threshold) {
            PrintPaged(Format("\tDST is %d%% complete . . .\n", progress));
            threshold += kProgressStep;
        }
        status = ReadAndReport(record);
    }
    return FinishRun(record, status, word);
}

}  // namespace

int StartSelfTest(DeviceRecord& record, bool extended)
{
    record.hostTestStarted = 0;
    record.abortRequest = 0;
    record.testRunning = 1;
    const CdbAnswer answer = SendDiagnostic(record, extended ? kSelfTestBackgroundExtended : kSelfTestBackgroundShort);
    if (answer.Good()) {
        return 0;
    }
    PublishStatus(record, TEST_FAILED, FailureText("Drive Self Test", answer.ViewSense()));
    LogLine(Format("Disc %d:%d:%d ", record.hostAdapter, record.target, record.lun) + record.statusText, &record,
            kWithAddress);
    return answer.outcome != 0 ? answer.outcome : std::max(answer.result, 1);
}

int RunSelfTest(DeviceRecord& record, bool extended)
{
    const int percent = RequestedPercent(record);
    const char* word = TestWord(extended);
    if (StartSelfTest(record, extended) != 0) {
        LogLine(Format("Failed to start %d %% DST %s Test", percent, word), &record, kNote);
        return 1;
    }
    LogLine(Format("Starting %d %% DST %s Test", percent, word), &record, kNote);
    const int result = FollowSelfTest(record, percent, word);
    record.testRunning = 0;
    return result;
}

int SelfTestProgress(DeviceRecord& record)
{
    std::array<std::uint8_t, kSenseReplyBytes> reply{};
    const CdbAnswer answer =
        SendCdb(record, cdb::RequestSense(kSenseReplyBytes), reply.data(), reply.size(), kRequestSenseTimeout);
    if (!answer.Good()) {
        const SenseView sense = answer.ViewSense();
        if (sense.KeyByte() != 0 || sense.Asc() != 0 || sense.Ascq() != 0) {
            ReportSelfTestFailure(record);
            LogLine(record.statusText, &record, kWithAddress);
        }
        return 100;
    }
    const SenseView sense(reply);
    const int key = sense.Key();
    const std::array<std::uint8_t, 3> specific = sense.SenseKeySpecific();
    if ((key == kSenseKeyNoSense && sense.SenseKeySpecificValid()) ||
        (key == kSenseKeyNotReady && sense.Asc() == 0x04 && sense.Ascq() == 0x09)) {
        return std::min(((specific[1] << 8) | specific[2]) * 100 / 65536, 100);
    }
    if (sense.KeyByte() != 0 || sense.Asc() != 0 || sense.Ascq() != 0) {
        ReportSelfTestFailure(record);
    }
    return 100;
}

void ReportSelfTestResult(DeviceRecord& record, int resultCode)
{
    switch (resultCode) {
    case 0: PublishStatus(record, TEST_PASSED, "Drive Self Test Completed Without Error"); break;
    case 1: PublishStatus(record, TEST_ABORTED, "Drive Self Test Aborted"); break;
    case 2:
        PublishStatus(record, TEST_FAILED,
                  "Drive Self Test Aborted By Task Management Function, By A Reset, 0r By Issuing An Exception "
                  "Command");
        break;
    case 3:
        PublishStatus(record, TEST_FAILED,
                  "Drive Self Test Unknown Error Occurred While The Device Server Was Exectuing The Test And The "
                  "Device Server Was Unable To Complete The Test");
        break;
    case 4:
        PublishStatus(record, TEST_FAILED,
                  "Drive Self Test Completed With A Failure In A Test Segment, And The Test Segment That Failed Is "
                  "Not Known");
        break;
    case 5: PublishStatus(record, TEST_FAILED, "Drive Self Test First Segment Failed"); break;
    case 6: PublishStatus(record, TEST_FAILED, "Drive Self Test Second Segment Failed"); break;
    case 7: PublishStatus(record, TEST_FAILED, SegmentFailedText(record)); break;
    case 8:
    case 14: PublishStatus(record, TEST_ABORTED, "Drive Self Test Reserved"); break;
    case kSelfTestInProgress:
        record.testRunning = 1;
        if (record.state != TEST_RUNNING) {
            PublishStatus(record, TEST_RUNNING, "Drive Self Test In Progress");
        }
        return;
    default: return;
    }
    record.testRunning = 0;
    LogLine(Format("Disc %s", record.statusText.c_str()), &record, kNote);
}

bool AbortSelfTest(DeviceRecord& record) { return SendDiagnostic(record, kSelfTestAbortBackground).Good(); }

int StopSelfTest(DeviceRecord& record)
{
    AbortSelfTest(record);
    const SelfTestStatus status = ReadAndReport(record);
    if (!status.read) {
        ReportSelfTestFailure(record);
    }
    return status.logged && status.resultCode == kResultAborted ? 1 : 0;
}
