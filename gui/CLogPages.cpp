#include "gui/CLogPages.h"

#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/DriveWorker.h"
#include "gui/GrownDefectReport.h"
#include "gui/GuiLog.h"
#include "gui/HealthPanel.h"
#include "gui/InventoryReport.h"
#include "gui/ReportQueries.h"
#include "gui/Resources.h"
#include "platform/System.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

constexpr std::uint8_t kNotAvailable = 0xFF;
constexpr std::size_t kSelfTestEntryBytes = 20;
constexpr std::size_t kLogHeaderBytes = 4;

std::size_t PageLength(const LogPageBuffer& page)
{
    return std::min<std::size_t>(BigEndian(page.data(), 2, 2), kLogPageBytes - kLogHeaderBytes);
}

const char* SelfTestResultName(int result)
{
    switch (result) {
    case 0x0: return "Completed without error";
    case 0x1: return "Aborted by the host";
    case 0x2: return "Aborted by a reset";
    case 0x3: return "Ended by an unknown error";
    case 0x4: return "Failed in an unknown segment";
    case 0x5: return "Failed in the first segment";
    case 0x6: return "Failed in the second segment";
    case 0x7: return "Failed in another segment";
    case 0xF: return "In progress";
    default: return "Reserved result";
    }
}

void Box(const std::string& text, UINT icon)
{
    MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(), MB_OK | icon);
}

// The folder the program's log file is written in, ending in a separator.
std::string LogFolder()
{
    const std::filesystem::path folder = std::filesystem::path(GetLogSettings().logFileName).parent_path();
    return folder.empty() ? std::string() : (folder / "").string();
}

}  // namespace

CLogPages::CLogPages(DeviceSelection& selection, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_drive(new QLabel(this)), m_supported(new QListWidget(this)),
      m_temperature(new QLabel(this)), m_reference(new QLabel(this)), m_powerOn(new QLabel(this)),
      m_selfTests(new QListWidget(this)), m_health(new HealthPanel(this)),
      m_defects(new QPushButton(tr("&Grown Defect Report"), this)),
      m_inventory(new QPushButton(tr("&Inventory Report..."), this))
{
    m_drive->setObjectName("driveText");
    m_supported->setObjectName("supportedPages");
    m_temperature->setObjectName("currentTemperature");
    m_reference->setObjectName("referenceTemperature");
    m_powerOn->setObjectName("powerOnTime");
    m_selfTests->setObjectName("selfTestResults");
    m_defects->setObjectName("defectReport");
    m_inventory->setObjectName("inventoryReport");

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_drive);
    layout->addWidget(new QLabel(tr("Supported log pages:"), this));
    layout->addWidget(m_supported, 1);
    auto* form = new QFormLayout;
    form->addRow(tr("Current temperature:"), m_temperature);
    form->addRow(tr("Reference temperature:"), m_reference);
    form->addRow(tr("Power-on time (hours:minutes):"), m_powerOn);
    layout->addLayout(form);
    layout->addWidget(new QLabel(tr("Self-test results, newest first:"), this));
    layout->addWidget(m_selfTests, 1);
    layout->addWidget(m_health, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_defects);
    buttons->addWidget(m_inventory);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(m_defects, &QPushButton::clicked, this, &CLogPages::WriteDefectReport);
    connect(m_inventory, &QPushButton::clicked, this, &CLogPages::AskForInventory);
}

QString CLogPages::PageName(int code)
{
    switch (code) {
    case 0x01: return tr("Buffer Over-run/Under-run");
    case 0x02: return tr("Write Error Counter");
    case 0x03: return tr("Read Error Counter");
    case 0x04: return tr("Read Reverse Error Counter");
    case 0x05: return tr("Verify Error Counter");
    case 0x06: return tr("Non-Medium Error");
    case 0x07: return tr("Last n Error Events");
    case 0x0B: return tr("Last n Deferred Errors");
    case 0x0D: return tr("Temperature");
    case 0x0E: return tr("Start-Stop Cycle Counter");
    case 0x0F: return tr("Application Client");
    case 0x10: return tr("Self-Test Results");
    case 0x37: return tr("Cache Statistics");
    case 0x3E: return tr("Factory Log");
    default: return code >= 0x31 && code <= 0x3F ? tr("Vendor Specific") : tr("Other Page");
    }
}

void CLogPages::Enter()
{
    m_supported->clear();
    m_selfTests->clear();
    m_temperature->setText("0 C");
    m_reference->setText("0 C");
    m_powerOn->setText("00:00");
    m_temperatureListed = false;
    const std::vector<DeviceRecord*> records = m_selection.Records();
    m_defects->setEnabled(!records.empty());
    m_inventory->setEnabled(!records.empty());
    m_health->Clear();
    if (records.empty()) {
        m_drive->setText(tr("No device is selected. Tick drives on the Devices page first."));
        return;
    }
    DeviceRecord& drive = *records.front();
    m_drive->setText(tr("Drive at %1:%2:%3: reading its log pages...")
                         .arg(drive.hostAdapter)
                         .arg(drive.target)
                         .arg(drive.lun));
    m_defects->setEnabled(false);
    if (m_reader.joinable()) {
        m_reader.join();
    }
    // The drive is read on a thread of its own; the window shows what it read.
    const int generation = ++m_generation;
    m_reading = true;
    m_reader = std::thread([this, generation, copy = drive]() mutable {
        LowerThreadPriority();
        auto read = std::make_shared<Read>();
        read->supported = ReadLogPage(copy, kLogSupportedPages, read->supportedPage);
        read->temperature = ReadLogPage(copy, kLogTemperature, read->temperaturePage);
        read->powerOn = PowerOnMinutes(copy, read->minutes);
        read->selfTests = ReadLogPage(copy, kLogSelfTestResults, read->selfTestPage);
        read->health = HealthPanel::ReadReport(copy);
        read->record = std::move(copy);
        QMetaObject::invokeMethod(
            this, [this, generation, read] { Show(generation, *read); }, Qt::QueuedConnection);
    });
}

CLogPages::~CLogPages()
{
    if (m_reader.joinable()) {
        m_reader.join();
    }
}

void CLogPages::Show(int generation, const Read& read)
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (generation != m_generation || records.empty()) {
        return;
    }
    m_reading = false;
    DeviceRecord& drive = *records.front();
    // A failed LOG SENSE marked the reader's copy failed.
    drive.state = read.record.state;
    m_drive->setText(tr("Drive at %1:%2:%3").arg(drive.hostAdapter).arg(drive.target).arg(drive.lun));
    ShowSupportedPages(drive, read.supported, read.supportedPage);
    ShowTemperatures(drive, read.temperature, read.temperaturePage);
    ShowPowerOnTime(drive, read.powerOn, read.minutes);
    ShowSelfTests(read.selfTests, read.selfTestPage);
    m_health->Show(*read.health);
    m_defects->setEnabled(true);
}

void CLogPages::ShowSupportedPages(DeviceRecord& drive, bool read, const LogPageBuffer& page)
{
    if (!read) {
        m_supported->addItem("Log Sense Command Failed");
        LogLine("Log Sense Command Failed", &drive, kGuiWithAddress);
        return;
    }
    const std::size_t length = PageLength(page);
    for (std::size_t i = 0; i < length; ++i) {
        const int code = page[kLogHeaderBytes + i];
        if (code == 0) {
            continue;
        }
        m_temperatureListed = m_temperatureListed || code == kLogTemperature;
        const std::string text = Format("0x%2.2X   ", code) + PageName(code).toStdString();
        m_supported->addItem(QString::fromStdString(text));
        LogLine(text, &drive, kGuiWithAddress);
    }
}

void CLogPages::ShowTemperatures(DeviceRecord& drive, bool read, const LogPageBuffer& page)
{
    if (!read) {
        m_temperature->clear();
        m_reference->clear();
        return;
    }
    const std::pair<QLabel*, std::size_t> fields[] = {{m_temperature, 9}, {m_reference, 15}};
    const char* names[] = {"Current Drive Temperature = ", "Reference Drive Temperature = "};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint8_t degrees = page[fields[i].second];
        if (degrees == kNotAvailable) {
            fields[i].first->clear();
            continue;
        }
        const std::string text = Format("%d C", degrees);
        fields[i].first->setText(QString::fromStdString(text));
        LogLine(names[i] + text, &drive, kGuiWithAddress);
    }
}

void CLogPages::ShowPowerOnTime(DeviceRecord& drive, bool read, std::uint32_t minutes)
{
    if (!read) {
        return;
    }
    const std::string text = Format("%2.2d:%2.2d", static_cast<int>(minutes / 60), static_cast<int>(minutes % 60));
    m_powerOn->setText(QString::fromStdString(text));
    LogLine("Power On Time = " + text, &drive, kGuiWithAddress);
}

void CLogPages::ShowSelfTests(bool read, const LogPageBuffer& page)
{
    if (!read) {
        return;
    }
    const std::size_t entries = PageLength(page) / kSelfTestEntryBytes;
    if (entries == 0) {
        m_selfTests->addItem("DST has never been performed");
    }
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint8_t* value = page.data() + kLogHeaderBytes + i * kSelfTestEntryBytes + 4;
        m_selfTests->addItem(QString::fromStdString(Format("%2zu  %s, segment %d, at %d hours", i + 1,
                                                           SelfTestResultName(value[0] & 0x0F), value[1],
                                                           static_cast<int>(BigEndian(value, 2, 2)))));
    }
}

void CLogPages::WriteDefectReport()
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty()) {
        return;
    }
    std::optional<std::string> temperature;
    // A drive that lists the page but has no reading gets the plain first line.
    if (m_temperatureListed && !m_temperature->text().isEmpty()) {
        temperature = m_temperature->text().toStdString();
    }
    const std::string file = AppendGrownDefectReport(*records.front(), LogFolder(), temperature);
    if (file.empty()) {
        Box("The grown defect report could not be written: the drive gave no serial number or no defect list, or "
            "the file could not be opened.",
            MB_ICONERROR);
        return;
    }
    Box("The grown defect report was appended to " + file + ".", MB_ICONINFORMATION);
}

void CLogPages::AskForInventory()
{
    QFileDialog dialog(this, tr("Inventory Report"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("csv");
    dialog.setNameFilter(tr("All Files (*.csv)"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        WriteInventoryReport(dialog.selectedFiles().front());
    }
}

bool CLogPages::WriteInventoryReport(const QString& fileName)
{
    std::string reason;
    if (!WriteInventory(fileName.toStdString(), m_selection.Records(), &reason)) {
        Box("The inventory report could not be written to " + fileName.toStdString() +
                (reason.empty() ? "." : ": " + reason + "."),
            MB_ICONERROR);
        return false;
    }
    Box("The inventory report was written to " + fileName.toStdString() + ".", MB_ICONINFORMATION);
    return true;
}
