#pragma once

#include "gui/DriveSequence.h"
#include "gui/WizardPage.h"

#include <array>
#include <thread>

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
    // Waits for a preset still reading.
    ~CSpecialModePage() override;

    // Presets the buttons from the first drive, read off the window's thread.
    void Enter() override;
    // True while the preset reads the drive.
    bool Reading() const override { return m_presetting; }
    void Apply();
    void AbortRun() override;
    const Choice& State() const { return m_choice; }

private:
    // What the preset read: the choice and which buttons it checks (-1: none).
    struct PresetRead {
        Choice choice;
        std::array<int, SETTING_COUNT> checked{-1, -1, -1, -1, -1, -1};
    };

    static PresetRead Preset(DeviceRecord& first, bool portOptions);
    static void PresetBit(DeviceRecord& first, SettingId id, PresetRead& into);
    static void PresetSegments(DeviceRecord& first, PresetRead& into);
    void ShowPreset(int generation, const PresetRead& preset);
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
    std::thread m_presetter;
    int m_generation = 0;
    bool m_presetting = false;
};
