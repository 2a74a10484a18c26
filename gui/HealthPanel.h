#pragma once

#include "frontend/DeviceRecord.h"

#include <QWidget>

class QLabel;
class QListWidget;

// The health report of one drive, as HarrowCLI --health prints it, with the
// verdict on top; lines that call for action (a predicted failure, a drive at
// or above its reference temperature, uncorrected errors) stand out in red.
class HealthPanel : public QWidget {
    Q_OBJECT
public:
    explicit HealthPanel(QWidget* parent = nullptr);

    // Reads the drive's log pages and shows the report.
    void Show(const DeviceRecord& drive);
    void Clear();

private:
    QLabel* m_verdict;
    QListWidget* m_lines;
};
