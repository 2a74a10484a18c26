#pragma once

#include <QWidget>

#include <memory>

class OemTestPlan;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;

// The first wizard page of a plug-in test: its parameters, written into the
// plan as they change, with what is wrong with them shown at once.
class COemParamsPage : public QWidget {
    Q_OBJECT
public:
    COemParamsPage(std::shared_ptr<OemTestPlan> plan, QWidget* parent = nullptr);

private:
    QWidget* MakeRangeBox();
    QWidget* MakeLengthBox();
    QWidget* MakeDataBox();
    QWidget* MakeCdbBox();
    QSpinBox* Spin(const char* name, int low, int high, int value);
    void Apply();

    std::shared_ptr<OemTestPlan> m_plan;
    QRadioButton* m_shareChoice = nullptr;
    QSpinBox* m_share = nullptr;
    QRadioButton* m_rangeChoice = nullptr;
    QSpinBox* m_startBlock = nullptr;
    QSpinBox* m_endBlock = nullptr;
    QSpinBox* m_blocks = nullptr;
    QSpinBox* m_threads = nullptr;
    QSpinBox* m_cmdBlocks = nullptr;
    QRadioButton* m_byOperations = nullptr;
    QSpinBox* m_operations = nullptr;
    QRadioButton* m_bySeconds = nullptr;
    QSpinBox* m_seconds = nullptr;
    QRadioButton* m_untilCancelled = nullptr;
    QComboBox* m_pattern = nullptr;
    QLineEdit* m_userPattern = nullptr;
    QCheckBox* m_compare = nullptr;
    QLineEdit* m_cdb = nullptr;
    QComboBox* m_direction = nullptr;
    QSpinBox* m_dataLength = nullptr;
    QLabel* m_check;
};
