#pragma once

#include "gui/DeviceSelection.h"
#include "gui/WizardPage.h"

#include <cstdint>

class QLineEdit;
class QPushButton;

// Copies logical blocks of the first selected drive into a file.
class CDumpBlocks : public WizardPage {
    Q_OBJECT
public:
    CDumpBlocks(DeviceSelection& selection, QWidget* parent = nullptr);

    // Dumps the blocks the fields name; true when the whole range was written.
    bool Dump();

private:
    void Browse();
    bool DumpRange(DeviceRecord& drive, const std::string& fileName, std::uint64_t start, std::uint64_t end);

    DeviceSelection& m_selection;
    QLineEdit* m_file;
    QLineEdit* m_start;
    QLineEdit* m_end;
    QPushButton* m_dump;
};
