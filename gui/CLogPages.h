#pragma once

#include "gui/DeviceSelection.h"
#include "gui/WizardPage.h"

#include <optional>
#include <string>

class HealthPanel;
class QLabel;
class QListWidget;
class QPushButton;

// Log-page information of the first selected drive, its grown-defect report,
// and the inventory report of every selected drive.
class CLogPages : public WizardPage {
    Q_OBJECT
public:
    CLogPages(DeviceSelection& selection, QWidget* parent = nullptr);

    // Reads the first selected drive's log pages.
    void Enter() override;
    // Appends the grown-defect report of the first selected drive and says where.
    void WriteDefectReport();
    // Writes the inventory of the selected drives to the file; false after telling why.
    bool WriteInventoryReport(const QString& fileName);

    static QString PageName(int code);

private:
    void ShowSupportedPages(DeviceRecord& drive);
    void ShowTemperatures(DeviceRecord& drive);
    void ShowPowerOnTime(DeviceRecord& drive);
    void ShowSelfTests(DeviceRecord& drive);
    void AskForInventory();

    DeviceSelection& m_selection;
    bool m_temperatureListed = false;
    QLabel* m_drive;
    QListWidget* m_supported;
    QLabel* m_temperature;
    QLabel* m_reference;
    QLabel* m_powerOn;
    QListWidget* m_selfTests;
    HealthPanel* m_health;
    QPushButton* m_defects;
    QPushButton* m_inventory;
};
