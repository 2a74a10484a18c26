#pragma once

#include "gui/DeviceScan.h"
#include "gui/DeviceSelection.h"
#include "gui/RunState.h"

#include <QWidget>

#include <thread>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

// The device page: scans the machine, shows every adapter and device, and
// turns the ticked devices into the program-wide selection.
class CRescanIdentPg : public QWidget {
    Q_OBJECT
public:
    CRescanIdentPg(DeviceSelection& selection, RunState& state, const std::string& productName,
                   QWidget* parent = nullptr);
    // Waits for a scan still going.
    ~CRescanIdentPg() override;

    // Initialises the computer system on the first call, then scans, on a
    // thread of its own; ScanFinished follows once the tree shows the result.
    void Scan();
    // Reads the identity of the selection's drive again and shows it, keeping every tick.
    void Reprobe(const DeviceRecord& record);
    // Copies the ticked devices, in tree order, into the selection.
    void BuildSelection();
    const std::vector<ScannedAdapter>& Scanned() const { return m_scan; }
    QTreeWidget* Tree() const { return m_tree; }

signals:
    void ScanFinished();

private:
    void TakeScan(std::vector<ScannedAdapter> scan);
    void Fill();
    // The scanned devices in tree order, the order of the items' record indexes.
    std::vector<ScannedDevice*> Devices();

    DeviceSelection& m_selection;
    RunState& m_state;
    std::string m_productName;
    bool m_systemTried = false;
    bool m_systemReady = false;
    std::vector<ScannedAdapter> m_scan;
    QTreeWidget* m_tree;
    QLabel* m_note;
    QProgressBar* m_busy;
    QPushButton* m_rescan;
    std::thread m_scanner;
};
