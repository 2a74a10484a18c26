#pragma once

#include "gui/DriveSequence.h"
#include "gui/WizardPage.h"

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;

// Power management and seek mode of the maker's drives (vendor page 0x00),
// write cache and read cache of every drive (caching page 0x08).
class CStandardModePage : public WizardPage {
    Q_OBJECT
public:
    enum class Jit { None, PerformanceSeek, Level1, Level2 };
    // -1: no choice (the setting is left alone), else 0 off, 1 on.
    struct Choice {
        int pm = -1;
        Jit jit = Jit::None;
        int wce = -1;
        int rcd = -1;
    };

    CStandardModePage(DeviceSelection& selection, RunState& state, QWidget* parent = nullptr);

    // Presets the buttons from the first selected drive.
    void Enter() override;
    void Apply();
    void AbortRun() override;
    Choice Chosen() const;

private:
    void Preset(DeviceRecord& first);
    void UpdateControls();

    DeviceSelection& m_selection;
    DriveSequence m_run;
    QButtonGroup* m_pm;
    QButtonGroup* m_jit;
    QButtonGroup* m_wce;
    QButtonGroup* m_rcd;
    QPushButton* m_apply;
    QLabel* m_note;
};
