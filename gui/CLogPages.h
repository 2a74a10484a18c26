#pragma once

#include "gui/DeviceSelection.h"
#include "gui/ReportQueries.h"
#include "gui/WizardPage.h"

#include <memory>
#include <optional>
#include <string>
#include <thread>

class HealthPanel;
struct HealthReport;
class QLabel;
class QListWidget;
class QPushButton;

// Log-page information of the first selected drive, its grown-defect report,
// and the inventory report of every selected drive.
class CLogPages : public WizardPage {
    Q_OBJECT
public:
    CLogPages(DeviceSelection& selection, QWidget* parent = nullptr);
    // Waits for a read still going.
    ~CLogPages() override;

    // Reads the first selected drive's log pages, off the window's thread.
    void Enter() override;
    bool Reading() const override { return m_reading; }
    // Appends the grown-defect report of the first selected drive and says where.
    void WriteDefectReport();
    // Writes the inventory of the selected drives to the file; false after telling why.
    bool WriteInventoryReport(const QString& fileName);

    static QString PageName(int code);

private:
    // What the reader thread got from the drive.
    struct Read {
        bool supported = false;
        bool temperature = false;
        bool powerOn = false;
        bool selfTests = false;
        LogPageBuffer supportedPage{};
        LogPageBuffer temperaturePage{};
        LogPageBuffer selfTestPage{};
        std::uint32_t minutes = 0;
        std::shared_ptr<const HealthReport> health;
        DeviceRecord record;
    };

    // Shows a read unless a later Enter started another.
    void Show(int generation, const Read& read);
    void ShowSupportedPages(DeviceRecord& drive, bool read, const LogPageBuffer& page);
    void ShowTemperatures(DeviceRecord& drive, bool read, const LogPageBuffer& page);
    void ShowPowerOnTime(DeviceRecord& drive, bool read, std::uint32_t minutes);
    void ShowSelfTests(bool read, const LogPageBuffer& page);
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
    std::thread m_reader;
    int m_generation = 0;
    bool m_reading = false;
};
