#pragma once

#include "frontend/DeviceRecord.h"

#include <QWidget>

#include <memory>

struct HealthReport;

class QLabel;
class QListWidget;

// The health report of one drive, as HarrowCLI --health prints it, with the
// verdict on top; lines that call for action (a predicted failure, a drive at
// or above its reference temperature, uncorrected errors) stand out in red.
class HealthPanel : public QWidget {
    Q_OBJECT
public:
    explicit HealthPanel(QWidget* parent = nullptr);

    // Reads the drive's health; safe on any thread.
    static std::shared_ptr<const HealthReport> ReadReport(const DeviceRecord& drive);
    void Show(const HealthReport& report);
    void Clear();

private:
    QLabel* m_verdict;
    QListWidget* m_lines;
};
