#pragma once

#include "gui/DeviceSelection.h"
#include "gui/WizardPage.h"

class QLabel;
class QLineEdit;

// The return-material form of the first selected drive, appended to the
// same "rmalog.txt" the console program writes.
class CSupportRMA : public WizardPage {
    Q_OBJECT
public:
    CSupportRMA(DeviceSelection& selection, QWidget* parent = nullptr);

    void Enter() override;
    // Appends the form; false after telling why it could not.
    bool WriteForm();

private:
    DeviceSelection& m_selection;
    QLabel* m_drive;
    QLineEdit* m_name;
    QLineEdit* m_phone;
    QLineEdit* m_email;
};
