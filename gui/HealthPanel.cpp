#include "gui/HealthPanel.h"

#include "frontend/DriveHealth.h"
#include "frontend/HealthText.h"

#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace {

const QColor ALARM_COLOUR(0xB0, 0x00, 0x00);

}  // namespace

HealthPanel::HealthPanel(QWidget* parent) : QWidget(parent), m_verdict(new QLabel(this)), m_lines(new QListWidget(this))
{
    m_verdict->setObjectName("healthVerdict");
    m_lines->setObjectName("healthReport");
    m_verdict->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Drive health:"), this));
    layout->addWidget(m_verdict);
    layout->addWidget(m_lines, 1);
}

std::shared_ptr<const HealthReport> HealthPanel::ReadReport(const DeviceRecord& drive)
{
    return std::make_shared<const HealthReport>(ReadDriveHealth(drive));
}

void HealthPanel::Clear()
{
    m_verdict->clear();
    m_lines->clear();
}

void HealthPanel::Show(const HealthReport& report)
{
    Clear();
    const std::vector<HealthLine> lines = HealthReportLines(report);
    for (const HealthLine& line : lines) {
        auto* item = new QListWidgetItem(QString::fromStdString(line.text), m_lines);
        item->setToolTip(item->text());
        if (line.alarm) {
            item->setForeground(ALARM_COLOUR);
            QFont font = item->font();
            font.setBold(true);
            item->setFont(font);
        }
    }
    const HealthLine& verdict = lines.back();
    m_verdict->setText(QString::fromStdString(verdict.text));
    m_verdict->setStyleSheet(verdict.alarm ? "QLabel { color: #b00000; font-weight: bold; }"
                                           : "QLabel { color: #006000; font-weight: bold; }");
}
