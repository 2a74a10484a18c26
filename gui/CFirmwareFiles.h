#pragma once

#include "gui/WizardPage.h"

#include <string>

class DeviceSelection;
class QLabel;
class QLineEdit;

// The firmware file page: the file to download and the drives it goes to.
class CFirmwareFiles : public WizardPage {
    Q_OBJECT
public:
    CFirmwareFiles(DeviceSelection& selection, QWidget* parent = nullptr);

    // Called when the page is shown: one line per selected drive.
    void Enter() override;
    std::string FileName() const;
    void SetFileName(const std::string& path);
    // The file the user picked; false, with a message, for anything but a regular file.
    bool PickFile(const std::string& path);

private:
    void Browse();

    DeviceSelection& m_selection;
    QLineEdit* m_file;
    QLabel* m_parts;
    QLabel* m_targets;
};
