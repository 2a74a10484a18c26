#include "gui/CRescanIdentPg.h"

#include "frontend/InitSystem.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Each device item keeps the index of its record in the scan, in tree order.
constexpr int RECORD_ROLE = Qt::UserRole;

void AddDevices(QTreeWidgetItem* parent, const std::vector<ScannedDevice>& devices, int& index)
{
    for (const ScannedDevice& device : devices) {
        auto* item = new QTreeWidgetItem(parent, QStringList{QString::fromStdString(device.text)});
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setData(0, RECORD_ROLE, index++);
    }
}

}  // namespace

CRescanIdentPg::CRescanIdentPg(DeviceSelection& selection, RunState& state, const std::string& productName,
                               QWidget* parent)
    : QWidget(parent), m_selection(selection), m_state(state), m_productName(productName),
      m_tree(new QTreeWidget(this)), m_note(new QLabel(this)), m_rescan(new QPushButton(tr("&Rescan"), this))
{
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Tick the devices to work on. Rescan finds devices added or removed."), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_tree->setObjectName("deviceTree");
    m_tree->setHeaderHidden(true);
    m_tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tree->header()->setStretchLastSection(false);
    layout->addWidget(m_tree, 1);
    auto* bottom = new QHBoxLayout;
    m_note->setObjectName("deviceNote");
    bottom->addWidget(m_note, 1);
    m_rescan->setObjectName("rescanButton");
    bottom->addWidget(m_rescan);
    layout->addLayout(bottom);
    connect(m_rescan, &QPushButton::clicked, this, &CRescanIdentPg::Scan);
}

void CRescanIdentPg::Scan()
{
    if (m_state.Busy()) {
        return;
    }
    m_state.activity = ACTIVITY_RESCAN;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (!m_systemTried) {
        m_systemTried = true;
        m_systemReady = InitSystem(m_productName);
    }
    m_scan.clear();
    if (m_systemReady) {
        m_scan = ScanDevices();
    }
    Fill();
    QApplication::restoreOverrideCursor();
    m_state.activity = ACTIVITY_NONE;
    emit ScanFinished();
}

void CRescanIdentPg::Fill()
{
    m_tree->clear();
    int index = 0;
    for (const ScannedAdapter& adapter : m_scan) {
        auto* item = new QTreeWidgetItem(m_tree, QStringList{QString::fromStdString(adapter.text)});
        AddDevices(item, adapter.devices, index);
        for (const ScannedChannel& channel : adapter.channels) {
            auto* channelItem = new QTreeWidgetItem(item, QStringList{QString::fromStdString(channel.text)});
            AddDevices(channelItem, channel.devices, index);
        }
    }
    m_tree->expandAll();
    if (!m_systemReady) {
        m_note->setText(tr("The device tree could not be initialized."));
    } else {
        m_note->setText(index == 0 ? tr("No device was found.") : tr("%n device(s) found.", nullptr, index));
    }
}

void CRescanIdentPg::BuildSelection()
{
    std::vector<DeviceRecord*> records;
    for (ScannedAdapter& adapter : m_scan) {
        for (ScannedDevice& device : adapter.devices) {
            records.push_back(&device.record);
        }
        for (ScannedChannel& channel : adapter.channels) {
            for (ScannedDevice& device : channel.devices) {
                records.push_back(&device.record);
            }
        }
    }
    std::vector<const DeviceRecord*> ticked;
    for (QTreeWidgetItemIterator it(m_tree); *it != nullptr; ++it) {
        const QVariant index = (*it)->data(0, RECORD_ROLE);
        if (!index.isValid()) {
            continue;
        }
        DeviceRecord* record = records.at(static_cast<std::size_t>(index.toInt()));
        record->selected = (*it)->checkState(0) == Qt::Checked ? 1 : 0;
        if (record->selected == 1) {
            ticked.push_back(record);
        }
    }
    if (const std::size_t left = m_selection.Build(ticked); left != 0) {
        m_note->setText(tr("Only the first %1 ticked devices are used; %2 left out.")
                            .arg(DeviceSelection::CAPACITY)
                            .arg(left));
    }
}
