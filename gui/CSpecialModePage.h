#pragma once

#include "gui/DriveSequence.h"
#include "gui/WizardPage.h"

#include <array>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// Error recovery, cache segmentation, exception reporting and the Fibre
// Channel port options DLM and DTOLI.
class CSpecialModePage : public WizardPage {
    Q_OBJECT
public:
    enum SettingId { AWRE, ARRE, CACHE_SEGMENTS, DEXCPT, DLM, DTOLI, SETTING_COUNT };

    struct Choice {
        std::array<bool, SETTING_COUNT> available{};
        std::array<bool, SETTING_COUNT> on{};
        int segments = 0;
        bool segmentsDefault = false;
    };

    CSpecialModePage(DeviceSelection& selection, RunState& state, QWidget* parent = nullptr);

    void Enter() override;
    void Apply();
    void AbortRun() override;
    const Choice& State() const { return m_choice; }

private:
    void Preset(DeviceRecord& first, bool portOptions);
    void PresetBit(DeviceRecord& first, SettingId id);
    void PresetSegments(DeviceRecord& first);
    bool PortOptionsSupported();
    void ReadButtons();
    void UpdateControls();

    DeviceSelection& m_selection;
    DriveSequence m_run;
    Choice m_choice;
    std::array<QButtonGroup*, SETTING_COUNT> m_groups{};
    QLineEdit* m_segments;
    QPushButton* m_apply;
    QLabel* m_note;
};
