#pragma once

#include "gui/DeviceSelection.h"
#include "gui/DriveWorker.h"
#include "gui/RunState.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

// Work that visits the selected drives one after another, each on a worker
// thread with its own copy of the drive's record, so the window stays live.
// The program-wide abort flag is looked at before each drive.
class DriveSequence : public QObject {
    Q_OBJECT
public:
    using Step = std::function<void(DeviceRecord&)>;

    DriveSequence(RunState& state, Activity activity, QObject* parent = nullptr);
    ~DriveSequence() override;

    // False when nothing was started (no drive, or another run going). The
    // run ends finalPauseMs (test time) after the last drive.
    bool Start(const std::vector<DeviceRecord*>& records, Step step, int finalPauseMs);
    bool Running() const { return m_state.activity.load() == m_activity; }
    bool Aborted() const { return m_aborted; }
    void Abort();

signals:
    void Changed();
    // After the last drive or the abort; the records hold every drive's outcome.
    void Finished();

private:
    void Poll();
    void StartNext();
    void Finish();

    RunState& m_state;
    Activity m_activity;
    std::vector<DeviceRecord*> m_records;
    std::size_t m_next = 0;
    Step m_step;
    int m_finalPauseMs = 0;
    std::unique_ptr<DriveWorker> m_worker;
    QTimer m_timer;
    QElapsedTimer m_clock;
    bool m_aborted = false;
};
