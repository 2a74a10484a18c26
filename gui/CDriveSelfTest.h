#pragma once

#include "gui/DriveTestRun.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;

// The drive-test page: one test, short or long, on every selected drive.
class CDriveSelfTest : public QWidget {
    Q_OBJECT
public:
    CDriveSelfTest(DeviceSelection& selection, RunState& state, QWidget* parent = nullptr);

    // Called when the page is shown: says whether drives are selected.
    void Enter();
    void StartTest();
    void AbortTest();
    void SetLongTest(bool longTest);
    DriveTestRun& Run() { return m_run; }

signals:
    void RunStarted();
    void RunChanged();
    void RunFinished();
    // The test length chosen on the page: true for the long test.
    void LengthChanged(bool longTest);

private:
    void UpdateControls();

    DeviceSelection& m_selection;
    DriveTestRun m_run;
    QRadioButton* m_short;
    QRadioButton* m_long;
    QSpinBox* m_share;
    QPushButton* m_start;
    QPushButton* m_abort;
    QLabel* m_started;
    QLabel* m_note;
};
