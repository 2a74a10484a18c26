#pragma once

#include "gui/DeviceScan.h"
#include "gui/DeviceSelection.h"
#include "gui/RunState.h"

#include <QIcon>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The adapters and drives under test, each drive with its status line, and
// the run's progress and elapsed time.
class StatusDisplay : public QWidget {
    Q_OBJECT
public:
    StatusDisplay(RunState& state, QWidget* parent = nullptr);

    // A new set of drives: one line per selected drive under its adapter.
    void Show(DeviceSelection& selection, const std::vector<ScannedAdapter>& scan);
    // Redraws the lines of drives whose record changed, the progress and the time.
    void Refresh();
    // A run ended: its summary under the lines ("3 passed, 1 failed, 1 aborted").
    void ShowSummary();
    QTreeWidget* Tree() const { return m_tree; }

signals:
    void AbortRequested();

private:
    void MarkOutcome(QTreeWidgetItem* line, TestState state) const;

    RunState& m_state;
    QTreeWidget* m_tree;
    QProgressBar* m_progress;
    QLabel* m_elapsed;
    QLabel* m_summary;
    QPushButton* m_abort;
    QIcon m_failedIcon;
    QIcon m_abortedIcon;
    QIcon m_passedIcon;
    std::vector<std::pair<DeviceRecord*, QTreeWidgetItem*>> m_lines;
};
