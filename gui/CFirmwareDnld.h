#pragma once

#include "gui/DriveWorker.h"
#include "gui/WizardPage.h"

#include <QElapsedTimer>

#include <memory>
#include <vector>

class CFirmwareFiles;
class DeviceSelection;
class QLabel;
class QPushButton;
struct RunState;

// The download page: checks the firmware file against each selected drive,
// records the drives' mode pages before and after, and downloads to all of
// them at once, each plain drive on a thread of its own.
class CFirmwareDnld : public WizardPage {
    Q_OBJECT
public:
    CFirmwareDnld(DeviceSelection& selection, RunState& state, const CFirmwareFiles& files,
                  QWidget* parent = nullptr);

    void StartDownload();


private:
    struct Drive {
        DeviceRecord* record = nullptr;
        std::unique_ptr<DriveWorker> worker;
    };

    bool MayStart(const std::string& path);
    // The confirmation: the file, the drives it reaches and those it does not.
    std::string Question(const std::string& path);
    void StartDrive(DeviceRecord& record, const std::string& path);
    // Waits in 2-second steps until the workers end, showing their progress.
    void WaitForDownloads();
    void TakeChanges();
    void ReportOutcomes();
    void RecordAfter();

    DeviceSelection& m_selection;
    RunState& m_state;
    const CFirmwareFiles& m_files;
    std::vector<Drive> m_drives;
    QElapsedTimer m_clock;
    QPushButton* m_start;
    QLabel* m_status;
    QLabel* m_results;
};
