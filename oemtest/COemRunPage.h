#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

class OemRun;
class OemTestPlan;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class ThroughputChart;
struct OemDeviceFigures;
struct OemEvent;

// The second wizard page of a plug-in test: starts it on a thread of its
// own, shows each drive's progress and rates, lists the events of the error
// queue and cancels. Deleting the page ends a test still running.
class COemRunPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPollMs = 200;

    COemRunPage(std::shared_ptr<OemTestPlan> plan, QWidget* parent = nullptr);
    ~COemRunPage() override;

    void Start();
    // Also what the program's own abort commands call.
    Q_INVOKABLE void Cancel();

signals:
    // The program holds its other commands while a test runs.
    void RunningChanged(bool running);

private:
    struct DriveRow {
        QProgressBar* progress;
        QLabel* rates;
        QLabel* state;
    };

    QWidget* MakeDriveRows();
    bool Confirmed();
    void Poll();
    void ShowEvents(const std::vector<OemEvent>& events);
    void ShowFigures(const std::vector<OemDeviceFigures>& figures, bool finished);
    QString RatesText(const OemDeviceFigures& figure, bool finished) const;
    void Finish();
    void UpdateControls();

    std::shared_ptr<OemTestPlan> m_plan;
    std::unique_ptr<OemRun> m_run;
    std::vector<DriveRow> m_rows;
    QPushButton* m_start;
    QPushButton* m_cancel;
    QLabel* m_note;
    QLabel* m_elapsed;
    ThroughputChart* m_megabytes;
    ThroughputChart* m_commands;
    QListWidget* m_events;
    QTimer m_poll;
    QElapsedTimer m_clock;
    qint64 m_lastSampleMs = 0;
};
