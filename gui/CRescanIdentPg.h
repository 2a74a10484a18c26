#pragma once

#include "gui/DeviceScan.h"
#include "gui/DeviceSelection.h"
#include "gui/RunState.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

// The device page: scans the machine, shows every adapter and device, and
// turns the ticked devices into the program-wide selection.
class CRescanIdentPg : public QWidget {
    Q_OBJECT
public:
    CRescanIdentPg(DeviceSelection& selection, RunState& state, const std::string& productName,
                   QWidget* parent = nullptr);

    // Initialises the computer system on the first call, then scans.
    void Scan();
    // Copies the ticked devices, in tree order, into the selection.
    void BuildSelection();
    const std::vector<ScannedAdapter>& Scanned() const { return m_scan; }
    QTreeWidget* Tree() const { return m_tree; }

signals:
    void ScanFinished();

private:
    void Fill();

    DeviceSelection& m_selection;
    RunState& m_state;
    std::string m_productName;
    bool m_systemTried = false;
    bool m_systemReady = false;
    std::vector<ScannedAdapter> m_scan;
    QTreeWidget* m_tree;
    QLabel* m_note;
    QPushButton* m_rescan;
};
