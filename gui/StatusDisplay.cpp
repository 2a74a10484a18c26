#include "gui/StatusDisplay.h"

#include "frontend/TextFormat.h"
#include "gui/GuiLog.h"
#include "gui/RunSummary.h"

#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

std::string Trimmed(std::string text)
{
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

std::string DriveText(const ScannedDevice& device, bool ide)
{
    const DeviceRecord& r = device.record;
    const DeviceIdentity& id = device.identity;
    const std::string serial = r.isKestrel != 0 ? id.serialNumber : "";
    if (r.kind != KIND_PLAIN) {
        return Format("%s %d:%d:%d:%d %s %s Version: %s %s", Trimmed(device.typeName).c_str(), r.hostAdapter,
                      r.channel, r.target, r.lun, id.vendor.c_str(), id.product.c_str(), id.revision.c_str(),
                      serial.c_str());
    }
    if (ide) {
        return Format("Target: %d %s %s Version: %s", r.target, id.vendor.c_str(), id.product.c_str(),
                      id.revision.c_str());
    }
    return Format("%s %d:%d:%d %s %s Version: %s %s", Trimmed(device.typeName).c_str(), r.hostAdapter, r.target,
                  r.lun, id.vendor.c_str(), id.product.c_str(), id.revision.c_str(), serial.c_str());
}

}  // namespace

// A failed or aborted drive stands out from the lines that passed.
void StatusDisplay::MarkOutcome(QTreeWidgetItem* line, TestState state) const
{
    switch (state) {
    case TEST_FAILED:
        line->setIcon(1, m_failedIcon);
        line->setForeground(1, QColor(0xB0, 0x00, 0x00));
        break;
    case TEST_ABORTED:
        line->setIcon(1, m_abortedIcon);
        line->setForeground(1, QColor(0x90, 0x50, 0x00));
        break;
    case TEST_PASSED:
        line->setIcon(1, m_passedIcon);
        line->setForeground(1, line->foreground(0));
        break;
    default:
        line->setIcon(1, QIcon());
        line->setForeground(1, line->foreground(0));
        break;
    }
}

namespace {

QTreeWidgetItem* Child(QTreeWidgetItem* parent, const QString& text)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == text) {
            return parent->child(i);
        }
    }
    return new QTreeWidgetItem(parent, QStringList{text});
}

}  // namespace

StatusDisplay::StatusDisplay(RunState& state, QWidget* parent)
    : QWidget(parent), m_state(state), m_tree(new QTreeWidget(this)), m_progress(new QProgressBar(this)),
      m_elapsed(new QLabel(this)), m_summary(new QLabel(this)), m_abort(new QPushButton(tr("&Abort"), this)),
      m_failedIcon(style()->standardIcon(QStyle::SP_MessageBoxCritical)),
      m_abortedIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning)),
      m_passedIcon(style()->standardIcon(QStyle::SP_DialogApplyButton))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Device(s) Testing:"), this));
    m_tree->setObjectName("statusTree");
    m_tree->setColumnCount(2);
    m_tree->setHeaderLabels({tr("Device"), tr("Status")});
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    layout->addWidget(m_tree, 1);
    m_summary->setObjectName("statusSummary");
    layout->addWidget(m_summary);
    auto* bottom = new QHBoxLayout;
    m_progress->setObjectName("statusProgress");
    m_elapsed->setObjectName("statusElapsed");
    m_abort->setObjectName("statusAbort");
    bottom->addWidget(m_progress, 1);
    bottom->addWidget(m_elapsed);
    bottom->addWidget(m_abort);
    layout->addLayout(bottom);
    connect(m_abort, &QPushButton::clicked, this, &StatusDisplay::AbortRequested);
    Refresh();
}

void StatusDisplay::Show(DeviceSelection& selection, const std::vector<ScannedAdapter>& scan)
{
    m_summary->clear();
    // One layout for the whole tree, not one per line.
    m_tree->setUpdatesEnabled(false);
    m_tree->header()->setSectionResizeMode(QHeaderView::Interactive);
    m_tree->clear();
    m_lines.clear();
    for (DeviceRecord* record : selection.Records()) {
        const ScannedDevice* device = FindScanned(scan, *record);
        if (device == nullptr) {
            continue;
        }
        bool raid = false;
        const QString adapterText = QString::fromStdString(AdapterText(record->hostAdapter, raid));
        QTreeWidgetItem* adapter = nullptr;
        for (int i = 0; i < m_tree->topLevelItemCount() && adapter == nullptr; ++i) {
            if (m_tree->topLevelItem(i)->text(0) == adapterText) {
                adapter = m_tree->topLevelItem(i);
            }
        }
        if (adapter == nullptr) {
            adapter = new QTreeWidgetItem(m_tree, QStringList{adapterText});
        }
        QTreeWidgetItem* parent = raid ? Child(adapter, QString("Channel %1").arg(record->channel)) : adapter;
        const bool ide = device->text.rfind("Target: ", 0) == 0;
        auto* line = new QTreeWidgetItem(parent, QStringList{QString::fromStdString(DriveText(*device, ide)),
                                                              QString::fromStdString(record->statusText)});
        line->setToolTip(0, line->text(0));
        line->setToolTip(1, line->text(1));
        MarkOutcome(line, record->state);
        m_lines.emplace_back(record, line);
    }
    m_tree->expandAll();
    m_tree->setUpdatesEnabled(true);
    Refresh();  // which hands the columns back to their text
}

void StatusDisplay::Refresh()
{
    // Columns follow their text once per refresh, not once per changed line.
    QHeaderView* header = m_tree->header();
    header->setSectionResizeMode(QHeaderView::Interactive);
    for (auto& [record, line] : m_lines) {
        if (record->changed != 0) {
            record->changed = 0;
            line->setText(1, QString::fromStdString(record->statusText));
            // The whole verdict is one hover away, however narrow the column.
            line->setToolTip(1, line->text(1));
            MarkOutcome(line, record->state);
        }
    }
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_progress->setRange(0, m_state.progressRange.load());
    m_progress->setValue(m_state.progressPosition.load());
    m_elapsed->setText(QString::fromStdString(m_state.elapsedText));
    m_abort->setEnabled(m_state.Abortable());
}

void StatusDisplay::ShowSummary()
{
    std::vector<const DeviceRecord*> records;
    for (const auto& [record, line] : m_lines) {
        records.push_back(record);
    }
    m_summary->setText(records.empty() ? QString() : QString::fromStdString(RunSummary(records)));
}
