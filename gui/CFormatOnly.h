#pragma once

#include "gui/FormatRun.h"
#include "gui/WizardPage.h"

class DeviceSelection;
class QPushButton;
struct RunState;

// The format-only page: a low-level format of every selected drive at the
// block size it already has.
class CFormatOnly : public WizardPage {
    Q_OBJECT
public:
    CFormatOnly(DeviceSelection& selection, RunState& state, QWidget* parent = nullptr);

    void Start();


private:
    DeviceSelection& m_selection;
    RunState& m_state;
    FormatRun m_run;
    QPushButton* m_start;
};
