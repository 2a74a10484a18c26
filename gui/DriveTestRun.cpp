#include "gui/DriveTestRun.h"

#include "frontend/DeviceQueries.h"
#include "frontend/HostTests.h"
#include "frontend/ResourceText.h"
#include "frontend/SelfTest.h"
#include "frontend/TextFormat.h"
#include "gui/ElapsedText.h"
#include "gui/GuiLog.h"
#include "gui/Resources.h"
#include "gui/RunSummary.h"
#include "platform/Kernel.h"
#include "platform/System.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

constexpr int kPollMs = 1000;
// An abort is seen within a tenth of the poll interval.
constexpr int kPollSlices = 10;
constexpr unsigned kResPageUnreadable = 4062;
constexpr int kResultAborted = 1;

constexpr int kDirectAccess = 0x00;
// The phases of a short host test, in the order it runs them.
constexpr const char* kShortHostPhases[] = {
    "Performing Sequential Read (start of disk)", "Performing Sequential Read (end of disk)",
    "Performing Random Read Commands", "Performing Random Seek Commands"};
constexpr const char* kSkippedText = "Drive Test skipped: not a disk";

// The phase a short host test's status names, or -1.
int ShortHostPhase(const std::string& status)
{
    for (std::size_t phase = 0; phase < std::size(kShortHostPhases); ++phase) {
        if (status == kShortHostPhases[phase]) {
            return static_cast<int>(phase);
        }
    }
    return -1;
}

void SetProgress(DeviceRecord& record, int percent)
{
    std::atomic_ref<float>(record.percent).store(static_cast<float>(percent));
}

// Waits one poll interval; false when an abort came meanwhile.
bool WaitForPoll(const std::atomic<bool>& abort)
{
    for (int slice = 0; slice < kPollSlices; ++slice) {
        if (abort.load()) {
            return false;
        }
        Sleep(kPollMs / kPollSlices);
    }
    return !abort.load();
}

// Reads the newest self-test result into the record; false when the log page was unreadable.
bool ReadResult(DeviceRecord& record, int& result)
{
    bool inProgress = false;
    if (ReadSelfTestStatus(record, kSelfTestPage, inProgress, result) != 0) {
        record.state = TEST_FAILED;
        record.statusText = ResourceText(kResPageUnreadable);
        record.testRunning = 0;
        record.changed = 1;
        return false;
    }
    ReportSelfTestResult(record, result);
    return true;
}

// One poll of a running self test; true when the drive has left it. A short
// test is stopped at the share asked for, which counts as a pass.
bool PollSelfTest(DeviceRecord& record, bool longTest, int share)
{
    int result = 0;
    if (!longTest) {
        const int progress = SelfTestProgress(record);
        SetProgress(record, progress);
        if (progress >= share) {
            const bool stoppedHere = AbortSelfTest(record);
            bool inProgress = false;
            const bool read = ReadSelfTestStatus(record, kSelfTestPage, inProgress, result) == 0;
            ReportSelfTestResult(record, read && stoppedHere && result == kResultAborted ? 0 : result);
            return true;
        }
    }
    if (!ReadResult(record, result)) {
        return true;
    }
    if (longTest) {
        SetProgress(record, SelfTestProgress(record));
    }
    return result != kSelfTestInProgress;
}

void RunSelfTestDrive(DeviceRecord& record, const std::atomic<bool>& abort, bool longTest, int share)
{
    SetProgress(record, 0);
    if (StartSelfTest(record, longTest) != 0) {
        return;
    }
    while (WaitForPoll(abort)) {
        if (PollSelfTest(record, longTest, share)) {
            return;
        }
    }
    AbortSelfTest(record);
    int result = 0;
    ReadResult(record, result);
}

}  // namespace

DriveTestRun::DriveTestRun(DeviceSelection& selection, RunState& state, QObject* parent)
    : QObject(parent), m_selection(selection), m_state(state)
{
    m_timer.setInterval(std::max(1, static_cast<int>(std::lround(kPollMs * harrow::platform::TimeScale()))));
    connect(&m_timer, &QTimer::timeout, this, &DriveTestRun::Poll);
}

DriveTestRun::~DriveTestRun() = default;

bool DriveTestRun::Start(bool longTest, double share)
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty() || m_state.Busy()) {
        return false;
    }
    m_long = longTest;
    m_share = std::clamp(share, 0.0, 1.0);
    m_aborted = false;
    m_drives.clear();
    m_state.activity = ACTIVITY_DRIVE_TESTS;
    m_state.abortFlag = 0;
    m_state.progressPosition = 0;
    m_state.progressRange = 100;
    LogStamped("Beginning Disc Test Execution");
    m_clock.start();
    m_state.elapsedText = ElapsedText(0);
    m_startedText = Format(m_long ? "Long Test started at %s" : "Short Test started at %s",
                           TimeStamp("%H:%M:%S").c_str());
    for (DeviceRecord* record : records) {
        Drive drive;
        drive.record = record;
        drive.check = std::make_unique<Check>();
        PublishStatus(*record, TEST_RUNNING, "Checking the drive");
        Check* check = drive.check.get();
        check->thread = std::thread([check, copy = *record] {
            LowerThreadPriority();
            check->kestrel = IsKestrelDrive(copy);
            check->dst = check->kestrel && IsDstSupported(copy);
            if (!GetPeripheralType(copy, check->peripheralType)) {
                check->peripheralType = -1;
            }
            check->done.store(true, std::memory_order_release);
        });
        m_drives.push_back(std::move(drive));
    }
    m_checking = true;
    m_timer.start();
    emit Changed();
    return true;
}

bool DriveTestRun::ChecksDone()
{
    return std::all_of(m_drives.begin(), m_drives.end(),
                       [](const Drive& d) { return d.check->done.load(std::memory_order_acquire); });
}

void DriveTestRun::StartDrives()
{
    m_checking = false;
    for (Drive& drive : m_drives) {
        drive.check->thread.join();
        DeviceRecord& record = *drive.record;
        record.isKestrel = drive.check->kestrel ? 1 : 0;
        if (drive.check->peripheralType != kDirectAccess) {
            drive.method = Method::Skip;
        } else if (!drive.check->kestrel) {
            drive.method = Method::Generic;
        } else {
            drive.method = drive.check->dst ? Method::Dst : Method::Legacy;
        }
    }
    if (m_aborted) {
        for (Drive& drive : m_drives) {
            PublishStatus(*drive.record, TEST_ABORTED, "Test Aborted before it started");
            drive.finished = true;
        }
        FinishRun();
        return;
    }
    // The question waits on the window; the drives wait for it.
    m_timer.stop();
    ShowDstEligibility();
    for (Drive& drive : m_drives) {
        StartDrive(drive);
    }
    m_timer.start();
}

void DriveTestRun::ShowDstEligibility()
{
    const bool anyDst = std::any_of(m_drives.begin(), m_drives.end(), [](const Drive& d) { return d.method == Method::Dst; });
    std::string lines;
    bool foreign = false;
    for (const Drive& drive : m_drives) {
        if (drive.method == Method::Dst || drive.method == Method::Skip) {
            continue;
        }
        const DeviceRecord& r = *drive.record;
        foreign = foreign || drive.method == Method::Generic;
        lines += Format(drive.method == Method::Legacy ? "\tKestrel Drive:  Host:%d Target:%d Lun:%d \n"
                                                       : "\tNon-Kestrel Drive:  Host:%d Target:%d Lun:%d \n",
                        r.hostAdapter, r.target, r.lun);
    }
    if (!anyDst || lines.empty()) {
        return;
    }
    std::string text = "Selected drive(s) do not support Drive Self Test (DST).  Listed Kestrel drives will run "
                       "Legacy Test.  Listed non-Kestrel devices limited to Generic Tests.: \n\n" +
                       lines;
    if (foreign) {
        text += "\nDeselect non-Kestrel devices to run DST.";
    }
    MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(), MB_OK | MB_ICONINFORMATION);
}

void DriveTestRun::StartDrive(Drive& drive)
{
    DeviceRecord& record = *drive.record;
    record.changed = 1;
    if (drive.method == Method::Skip) {
        // A tape or a CD-ROM is not failed for lacking what a disk test asks of it.
        PublishStatus(record, TEST_NONE, kSkippedText);
        LogLine(kSkippedText, &record, kGuiWithAddress);
        drive.finished = true;
        return;
    }
    if (drive.method == Method::Dst) {
        record.statusText = "Drive Self Test In Progress";
        record.state = TEST_RUNNING;
        LogLine(Format("Disc Starting DST %s test", Word()), &record, kGuiWithAddress);
        const int share = static_cast<int>(m_share * 100.0);
        drive.worker = std::make_unique<DriveWorker>(
            record, [longTest = m_long, share](DeviceRecord& copy, const std::atomic<bool>& abort) {
                RunSelfTestDrive(copy, abort, longTest, share);
            });
        return;
    }
    const bool legacy = drive.method == Method::Legacy;
    record.statusText = Format(legacy ? "Starting %s Legacy Test" : "Starting %s Generic Test", Word());
    record.state = TEST_RUNNING;
    LogLine(Format(legacy ? "Disc Starting Legacy %s test" : "Disc Starting Generic %s test", Word()), &record,
            kGuiWithAddress);
    record.abortRequest = 0;
    record.testRunning = 1;
    record.hostTestStarted = 1;
    record.percent = static_cast<float>(m_share * 100.0);
    // Host tests end at their next check of the record's abortRequest.
    drive.worker = std::make_unique<DriveWorker>(record, [longTest = m_long](DeviceRecord& copy,
                                                                            const std::atomic<bool>&) {
        longTest ? GenericLongTest(copy) : GenericShortTest(copy);
    });
}

void DriveTestRun::Poll()
{
    m_state.elapsedText = ElapsedText(m_clock.elapsed());
    if (m_checking) {
        if (ChecksDone()) {
            StartDrives();
        }
        emit Changed();
        return;
    }
    bool running = false;
    for (Drive& drive : m_drives) {
        if (!drive.finished) {
            PollDrive(drive);
        }
        running = running || !drive.finished;
    }
    UpdateProgress();
    emit Changed();
    if (!running) {
        FinishRun();
    }
}

void DriveTestRun::UpdateProgress()
{
    int total = 0;
    int tested = 0;
    bool shortOfPass = false;
    for (const Drive& drive : m_drives) {
        if (drive.method == Method::Skip) {
            continue;
        }
        ++tested;
        const bool passed = drive.finished && drive.record->state == TEST_PASSED;
        total += passed ? 100 : drive.progress;
        shortOfPass = shortOfPass || (drive.finished && !passed);
    }
    int position = tested == 0 ? 0 : total / tested;
    // A drive that failed or was aborted did not get all the way.
    if (shortOfPass) {
        position = std::min(position, 99);
    }
    m_state.progressPosition = position;
}

void DriveTestRun::PollDrive(Drive& drive)
{
    DeviceRecord& record = *drive.record;
    const bool host = drive.method != Method::Dst;
    if (drive.worker->Finished()) {
        record = drive.worker->Outcome();
        if (host && record.lastResult == HOST_TEST_ABORTED) {
            // The routine leaves the phase text of an aborted test standing.
            record.state = TEST_ABORTED;
            record.statusText = Format(drive.method == Method::Legacy ? "Legacy %s Test Aborted"
                                                                      : "Generic %s Test Aborted", Word());
        }
        record.changed = 1;
        drive.worker.reset();
        drive.finished = true;
        return;
    }
    if (drive.worker->TakeChange(record)) {
        record.changed = 1;
    }
    // A short host test's percent stays the share it was given; its phases tell how far it is.
    if (!host || m_long) {
        drive.progress = static_cast<int>(record.percent);
    } else if (const int phase = ShortHostPhase(record.statusText); phase >= 0) {
        drive.progress = phase * 100 / static_cast<int>(std::size(kShortHostPhases));
    }
}

void DriveTestRun::Abort()
{
    if (!Running() || m_aborted) {
        return;
    }
    m_aborted = true;
    m_state.abortFlag = 1;
    for (Drive& drive : m_drives) {
        if (drive.finished || !drive.worker) {
            continue;
        }
        if (drive.method == Method::Dst) {
            LogLine("Aborting Drive Self Test", drive.record, kGuiWithAddress);
        } else {
            LogLine(drive.method == Method::Legacy ? "Aborting Legacy Test" : "Aborting Generic Test", drive.record,
                    kGuiWithAddress);
        }
        // A self test's thread sends the drive its abort.
        drive.worker->RequestAbort();
    }
    LogStamped("Disc Test(s) Aborted by user");
    Poll();
}

void DriveTestRun::FinishRun()
{
    m_timer.stop();
    UpdateProgress();
    LogStamped("Disc Test(s) have Completed Execution");
    std::vector<const DeviceRecord*> records;
    for (const Drive& drive : m_drives) {
        records.push_back(drive.record);
    }
    LogStamped("Disc Test(s) Summary: " + RunSummary(records));
    m_state.activity = ACTIVITY_NONE;
    emit Finished();
}
