#include "gui/DriveTestRun.h"

#include "frontend/DeviceQueries.h"
#include "frontend/ResourceText.h"
#include "frontend/SelfTest.h"
#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/Resources.h"
#include "platform/Kernel.h"
#include "platform/System.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int POLL_MS = 1000;
constexpr unsigned RES_PAGE_UNREADABLE = 4062;

std::string ElapsedText(qint64 milliseconds)
{
    // Test time runs HARROW_TIME_SCALE times faster than the clock.
    const auto seconds = static_cast<long long>(static_cast<double>(milliseconds) / 1000.0 /
                                                harrow::platform::TimeScale());
    return Format("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

}  // namespace

DriveTestRun::DriveTestRun(DeviceSelection& selection, RunState& state, QObject* parent)
    : QObject(parent), m_selection(selection), m_state(state)
{
    m_timer.setInterval(std::max(1, static_cast<int>(std::lround(POLL_MS * harrow::platform::TimeScale()))));
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
    for (DeviceRecord* record : records) {
        Drive drive;
        drive.record = record;
        record->isKestrel = IsKestrelDrive(*record) ? 1 : 0;
        if (record->isKestrel == 0) {
            drive.method = Method::Generic;
        } else {
            drive.method = IsDstSupported(*record) ? Method::Dst : Method::Legacy;
        }
        m_drives.push_back(std::move(drive));
    }
    ShowDstEligibility();

    m_state.activity = ACTIVITY_DRIVE_TESTS;
    m_state.abortFlag = 0;
    m_state.progressPosition = 0;
    m_state.progressRange = 100;
    LogStamped("Beginning Disc Test Execution");
    m_clock.start();
    m_state.elapsedText = ElapsedText(0);
    m_startedText = Format(m_long ? "Long Test started at %s" : "Short Test started at %s",
                           TimeStamp("%H:%M:%S").c_str());
    for (Drive& drive : m_drives) {
        StartDrive(drive);
    }
    m_timer.start();
    emit Changed();
    return true;
}

void DriveTestRun::ShowDstEligibility()
{
    const bool anyDst = std::any_of(m_drives.begin(), m_drives.end(), [](const Drive& d) { return d.method == Method::Dst; });
    std::string lines;
    bool foreign = false;
    for (const Drive& drive : m_drives) {
        if (drive.method == Method::Dst) {
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
    if (drive.method == Method::Dst) {
        record.statusText = "Drive Self Test In Progress";
        record.state = TEST_RUNNING;
        LogStamped(Format("Disc Starting DST %s test", Word()));
        drive.finished = StartSelfTest(record, m_long) != 0;
        return;
    }
    const bool legacy = drive.method == Method::Legacy;
    record.statusText = Format(legacy ? "Starting %s Legacy Test" : "Starting %s Generic Test", Word());
    record.state = TEST_RUNNING;
    LogStamped(Format(legacy ? "Disc Starting Legacy %s test" : "Disc Starting Generic %s test", Word()));
    record.abortRequest = 0;
    record.testRunning = 1;
    record.hostTestStarted = 1;
    record.percent = static_cast<float>(m_share * 100.0);
    drive.worker = std::make_unique<HostTestWorker>(record, m_long);
}

void DriveTestRun::Poll()
{
    m_state.elapsedText = ElapsedText(m_clock.elapsed());
    int total = 0;
    bool running = false;
    for (Drive& drive : m_drives) {
        if (!drive.finished) {
            drive.method == Method::Dst ? PollDst(drive) : PollHost(drive);
        }
        running = running || !drive.finished;
        total += drive.finished ? 100 : drive.progress;
    }
    m_state.progressPosition = m_drives.empty() ? 0 : total / static_cast<int>(m_drives.size());
    emit Changed();
    if (!running) {
        FinishRun();
    }
}

void DriveTestRun::PollDst(Drive& drive)
{
    DeviceRecord& record = *drive.record;
    if (!m_long) {
        drive.progress = SelfTestProgress(record);
        if (drive.progress >= static_cast<int>(m_share * 100.0)) {
            const bool stoppedHere = AbortSelfTest(record);
            bool inProgress = false;
            int result = 0;
            const bool read = ReadSelfTestStatus(record, SELF_TEST_PAGE, inProgress, result) == 0;
            // Our own abort at the share asked for is a pass.
            ReportSelfTestResult(record, read && stoppedHere && result == 1 ? 0 : result);
            drive.finished = true;
            return;
        }
    }
    bool inProgress = false;
    int result = 0;
    if (ReadSelfTestStatus(record, SELF_TEST_PAGE, inProgress, result) != 0) {
        record.state = TEST_FAILED;
        record.statusText = ResourceText(RES_PAGE_UNREADABLE);
        record.changed = 1;
        record.testRunning = 0;
        drive.finished = true;
        return;
    }
    ReportSelfTestResult(record, result);
    if (m_long) {
        drive.progress = SelfTestProgress(record);
    }
    drive.finished = result != SELF_TEST_IN_PROGRESS;
}

void DriveTestRun::PollHost(Drive& drive)
{
    DeviceRecord& record = *drive.record;
    if (drive.worker->Finished()) {
        record = drive.worker->Outcome();
        if (record.lastResult == 4) {
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
    if (m_long) {
        drive.progress = static_cast<int>(record.percent);
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
        if (drive.finished) {
            continue;
        }
        if (drive.method == Method::Dst) {
            LogLine("Aborting Drive Self Test", drive.record, GUI_WITH_ADDRESS);
            AbortSelfTest(*drive.record);
        } else {
            LogLine(drive.method == Method::Legacy ? "Aborting Legacy Test" : "Aborting Generic Test", drive.record,
                    GUI_WITH_ADDRESS);
            drive.worker->RequestAbort();
        }
    }
    LogStamped("Disc Test(s) Aborted by user");
    Poll();
}

void DriveTestRun::FinishRun()
{
    m_timer.stop();
    LogStamped("Disc Test(s) have Completed Execution");
    m_state.activity = ACTIVITY_NONE;
    emit Finished();
}
