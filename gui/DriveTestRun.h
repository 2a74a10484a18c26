#pragma once

#include "gui/DeviceSelection.h"
#include "gui/DriveWorker.h"
#include "gui/RunState.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

// One run of the drive-test page: every selected drive at once, DST on the
// maker's drives that have it, host tests for the other disks; other devices
// are skipped. Which test a drive gets is read from it on a thread per drive,
// and each drive is then driven from a thread of its own (the self test's
// polls too, whose commands pause after each good answer); the window reads
// their records on a timer, so its event loop never waits for a drive.
class DriveTestRun : public QObject {
    Q_OBJECT
public:
    enum class Method { Dst, Legacy, Generic, Skip };

    // What a drive's check thread read of it.
    struct Check {
        int peripheralType = -1;
        bool kestrel = false;
        bool dst = false;
        std::atomic<bool> done{false};
        std::thread thread;

        ~Check()
        {
            if (thread.joinable()) {
                thread.join();
            }
        }
    };

    struct Drive {
        DeviceRecord* record = nullptr;
        Method method = Method::Generic;
        std::unique_ptr<Check> check;
        std::unique_ptr<DriveWorker> worker;
        bool finished = false;
        int progress = 0;
    };

    DriveTestRun(DeviceSelection& selection, RunState& state, QObject* parent = nullptr);
    ~DriveTestRun() override;

    // False when nothing was started (empty selection or a run already going).
    // share: the part of each test to run, 0 to 1. The drives start once
    // their checks have been read, without holding up the window.
    bool Start(bool longTest, double share);
    void Abort();
    bool Running() const { return m_timer.isActive(); }
    std::string StartedText() const { return m_startedText; }

signals:
    // A drive's status or the elapsed time changed.
    void Changed();
    void Finished();

private:
    // True once every drive's check has been read.
    bool ChecksDone();
    void StartDrives();
    void ShowDstEligibility();
    void StartDrive(Drive& drive);
    void UpdateProgress();
    void Poll();
    void PollDrive(Drive& drive);
    void FinishRun();
    const char* Word() const { return m_long ? "Long" : "Short"; }

    DeviceSelection& m_selection;
    RunState& m_state;
    std::vector<Drive> m_drives;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_long = false;
    double m_share = 1.0;
    bool m_aborted = false;
    bool m_checking = false;
    std::string m_startedText;
};
