#include "gui/CRescanIdentPg.h"

#include "frontend/InitSystem.h"
#include "gui/DriveWorker.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// Each device item keeps the index of its record in the scan, in tree order.
constexpr int kRecordRole = Qt::UserRole;

void AddDevices(QTreeWidgetItem* parent, const std::vector<ScannedDevice>& devices, int& index)
{
    for (const ScannedDevice& device : devices) {
        auto* item = new QTreeWidgetItem(parent, QStringList{QString::fromStdString(device.text)});
        item->setToolTip(0, item->text(0));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Unchecked);
        item->setData(0, kRecordRole, index++);
    }
}

}  // namespace

CRescanIdentPg::CRescanIdentPg(DeviceSelection& selection, RunState& state, const std::string& productName,
                               QWidget* parent)
    : QWidget(parent), m_selection(selection), m_state(state), m_productName(productName),
      m_tree(new QTreeWidget(this)), m_note(new QLabel(this)), m_busy(new QProgressBar(this)),
      m_rescan(new QPushButton(tr("&Rescan"), this))
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
    // A scan's length is not known beforehand: the bar only says one goes on.
    m_busy->setObjectName("scanBusy");
    m_busy->setRange(0, 0);
    m_busy->hide();
    bottom->addWidget(m_busy);
    m_rescan->setObjectName("rescanButton");
    bottom->addWidget(m_rescan);
    layout->addLayout(bottom);
    connect(m_rescan, &QPushButton::clicked, this, &CRescanIdentPg::Scan);
}

CRescanIdentPg::~CRescanIdentPg()
{
    if (m_scanner.joinable()) {
        m_scanner.join();
    }
}

void CRescanIdentPg::Scan()
{
    if (m_state.Busy()) {
        return;
    }
    if (m_scanner.joinable()) {
        m_scanner.join();
    }
    m_state.activity = ACTIVITY_RESCAN;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    m_rescan->setEnabled(false);
    m_busy->show();
    m_note->setText(tr("Scanning for devices..."));
    const bool initialise = !m_systemTried;
    m_systemTried = true;
    m_scanner = std::thread([this, initialise] {
        LowerThreadPriority();
        if (initialise) {
            m_systemReady = InitSystem(m_productName);
        }
        std::vector<ScannedAdapter> scan;
        if (m_systemReady) {
            scan = ScanDevices();
        }
        QMetaObject::invokeMethod(
            this, [this, found = std::move(scan)]() mutable { TakeScan(std::move(found)); }, Qt::QueuedConnection);
    });
}

void CRescanIdentPg::TakeScan(std::vector<ScannedAdapter> scan)
{
    m_scan = std::move(scan);
    Fill();
    m_busy->hide();
    m_rescan->setEnabled(true);
    QApplication::restoreOverrideCursor();
    m_state.activity = ACTIVITY_NONE;
    emit ScanFinished();
}

std::vector<ScannedDevice*> CRescanIdentPg::Devices()
{
    std::vector<ScannedDevice*> devices;
    for (ScannedAdapter& adapter : m_scan) {
        for (ScannedDevice& device : adapter.devices) {
            devices.push_back(&device);
        }
        for (ScannedChannel& channel : adapter.channels) {
            for (ScannedDevice& device : channel.devices) {
                devices.push_back(&device);
            }
        }
    }
    return devices;
}

void CRescanIdentPg::Reprobe(const DeviceRecord& record)
{
    const std::vector<ScannedDevice*> devices = Devices();
    for (std::size_t index = 0; index < devices.size(); ++index) {
        ScannedDevice& device = *devices[index];
        const DeviceRecord& r = device.record;
        if (r.kind != record.kind || r.hostAdapter != record.hostAdapter || r.channel != record.channel ||
            r.target != record.target || r.lun != record.lun) {
            continue;
        }
        if (!ReprobeDevice(device, r.kind != KIND_PLAIN)) {
            return;
        }
        const QString text = QString::fromStdString(device.text);
        for (QTreeWidgetItemIterator it(m_tree); *it != nullptr; ++it) {
            if ((*it)->data(0, kRecordRole) == QVariant(static_cast<int>(index))) {
                (*it)->setText(0, text);
                (*it)->setToolTip(0, text);
            }
        }
        return;
    }
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
    const std::vector<ScannedDevice*> devices = Devices();
    std::vector<const DeviceRecord*> ticked;
    std::vector<DeviceFacts> facts;
    for (QTreeWidgetItemIterator it(m_tree); *it != nullptr; ++it) {
        const QVariant index = (*it)->data(0, kRecordRole);
        if (!index.isValid()) {
            continue;
        }
        ScannedDevice* device = devices.at(static_cast<std::size_t>(index.toInt()));
        DeviceRecord* record = &device->record;
        record->selected = (*it)->checkState(0) == Qt::Checked ? 1 : 0;
        if (record->selected == 1) {
            ticked.push_back(record);
            facts.push_back(DeviceFacts{device->peripheralType, device->identity});
        }
    }
    if (const std::size_t left = m_selection.Build(ticked, facts); left != 0) {
        m_note->setText(tr("Only the first %1 ticked devices are used; %2 left out.")
                            .arg(DeviceSelection::kCapacity)
                            .arg(left));
    }
}
