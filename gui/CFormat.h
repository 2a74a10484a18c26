#pragma once

#include "gui/FormatRun.h"
#include "gui/WizardPage.h"

class DeviceSelection;
class QLineEdit;
class QPushButton;
class QRadioButton;
struct RunState;

// The format page: a block size then a low-level format, or a change of the
// number of addressable blocks, on every selected drive.
class CFormat : public WizardPage {
    Q_OBJECT
public:
    CFormat(DeviceSelection& selection, RunState& state, QWidget* parent = nullptr);

    // Called when the page is shown: the first drive's capacity and block size.
    void Enter() override;
    void Start();


private:
    void ShowCapacity();
    // The typed value when valid, else an error box and nothing.
    std::optional<FormatRun::BlockSize> ChosenBlockSize();
    // Asks, naming the block size or capacity and every drive; No is the default.
    bool Confirm(bool format, const std::string& what);
    void ChangeCapacities(std::uint32_t highBlock);
    void Begin();
    void End();

    DeviceSelection& m_selection;
    RunState& m_state;
    FormatRun m_run;
    QRadioButton* m_format;
    QRadioButton* m_capacity;
    std::array<QRadioButton*, 4> m_blockSizes{};
    QLineEdit* m_blockSizeText;
    QRadioButton* m_typedHighBlock;
    QRadioButton* m_factoryMaximum;
    QLineEdit* m_highBlockText;
    QPushButton* m_start;
};
