#include "gui/CFirmwareDnld.h"

#include "frontend/DeviceQueries.h"
#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/CFirmwareFiles.h"
#include "gui/DeviceSelection.h"
#include "gui/ElapsedText.h"
#include "gui/FirmwareDownload.h"
#include "gui/GuiLog.h"
#include "gui/PumpWait.h"
#include "gui/Resources.h"
#include "gui/RunState.h"
#include "platform/System.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr DWORD kWaitStepMs = 2000;
constexpr const char* kSupportText = "Upgrade failed please contact your technical support representative.  "
                                     "Click the utility support button for contact information.";

void LogIdentity(DeviceRecord& record)
{
    DeviceIdentity identity;
    ReadIdentity(record, identity);
    LogLine(Format("Vendor: %s, Product: %s, Version: %s", identity.vendor.c_str(), identity.product.c_str(),
                   identity.revision.c_str()),
            &record, kGuiWithAddress);
}

}  // namespace

CFirmwareDnld::CFirmwareDnld(DeviceSelection& selection, RunState& state, const CFirmwareFiles& files,
                             QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_state(state), m_files(files),
      m_start(new QPushButton(tr("&Start Download"), this)), m_status(new QLabel(this)), m_results(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Loads the chosen firmware file into every selected drive. Do not switch off "
                                "the drives or the computer while a download runs."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_start->setObjectName("startDownload");
    layout->addWidget(m_start, 0, Qt::AlignLeft);
    m_status->setObjectName("downloadStatus");
    m_results->setObjectName("downloadResults");
    m_results->setWordWrap(true);
    layout->addWidget(m_status);
    layout->addWidget(m_results);
    layout->addStretch(1);
    connect(m_start, &QPushButton::clicked, this, &CFirmwareDnld::StartDownload);
}

bool CFirmwareDnld::MayStart(const std::string& path)
{
    const std::string title = ResourceText(RES_APP_TITLE);
    if (!IsKstFile(path) && !IsLodFile(path)) {
        MessageBoxA(nullptr, "Please select a firmware file to download!", title.c_str(), MB_OK | MB_ICONWARNING);
        return false;
    }
    if (!IsRegularFile(path)) {
        MessageBoxA(nullptr, Format("%s is not a regular file and cannot be downloaded.", path.c_str()).c_str(),
                    title.c_str(), MB_OK | MB_ICONWARNING);
        return false;
    }
    if (m_selection.Empty()) {
        m_status->setText("No devices selected go back and select device(s)");
        MessageBoxA(nullptr, ResourceText(RES_NO_DEVICES_TEXT).c_str(), ResourceText(RES_NO_DEVICES_CAPTION).c_str(),
                    MB_OK | MB_ICONWARNING);
        return false;
    }
    // A download changes the drives for good: nothing is sent before the user agrees, and
    // the question names the file and every drive it will and will not reach.
    return MessageBoxA(nullptr, Question(path).c_str(), title.c_str(), MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) ==
           IDYES;
}

std::string CFirmwareDnld::Question(const std::string& path)
{
    std::string reached;
    std::string refused;
    const std::string revision = KstRevision(path);
    for (DeviceRecord* record : m_selection.Records()) {
        const std::string line = "\n    " + m_selection.Describe(*record);
        const bool matches = IsLodFile(path) || ProductMatches(path, m_selection.FactsOf(*record).identity.product);
        (matches ? reached : refused) += line;
    }
    std::string text = ResourceText(RES_DOWNLOAD_QUESTION) + "\n\nFile: " + path;
    if (!revision.empty()) {
        text += " (revision " + revision + ")";
    }
    text += "\nDrives to download:" + (reached.empty() ? std::string("\n    none") : reached);
    if (!refused.empty()) {
        text += "\nNot reached (the file is made for another product):" + refused;
    }
    return text;
}

void CFirmwareDnld::StartDownload()
{
    const std::string path = m_files.FileName();
    if (m_state.Busy() || !MayStart(path)) {
        return;
    }
    m_state.activity = ACTIVITY_FIRMWARE;
    m_state.progressPosition = 0;
    m_start->setEnabled(false);
    m_results->clear();
    m_status->setText(tr("Downloading..."));
    m_drives.clear();
    m_clock.start();
    m_state.elapsedText = ElapsedText(0);
    emit RunStarted();
    for (DeviceRecord* record : m_selection.Records()) {
        StartDrive(*record, path);
        emit RunChanged();
    }
    WaitForDownloads();
    ReportOutcomes();
    RecordAfter();
    PumpWait(kWaitStepMs);
    for (const Drive& drive : m_drives) {
        emit IdentityChanged(drive.record);
    }
    const bool allPassed = std::all_of(m_drives.begin(), m_drives.end(),
                                       [](const Drive& d) { return d.record->state == TEST_PASSED; });
    m_drives.clear();
    m_status->setText(tr("Download finished."));
    // A drive that failed did not get all the way.
    m_state.progressPosition = allPassed ? 100 : std::min(m_state.progressPosition.load(), 99);
    m_state.activity = ACTIVITY_NONE;
    m_start->setEnabled(true);
    emit RunFinished();
}

void CFirmwareDnld::StartDrive(DeviceRecord& record, const std::string& path)
{
    DeviceIdentity identity;
    ReadIdentity(record, identity);
    const bool headerless = IsLodFile(path);
    if (!headerless && !ProductMatches(path, identity.product)) {
        LogLine("Download File - DOES NOT MATCH PRODUCT!", &record, kGuiWithAddress);
        PublishStatus(record, TEST_NONE, "Download File - DOES NOT MATCH PRODUCT!");
        return;
    }
    LogLine("Downloading", &record, kGuiWithAddress);
    LogLine(Format("Vendor: %s, Product: %s, Version: %s", identity.vendor.c_str(), identity.product.c_str(),
                   identity.revision.c_str()),
            &record, kGuiWithAddress);
    LogModePages(record, "PreDownload Mode Page Settings :");
    const std::string vendor = identity.vendor.substr(0, identity.vendor.find_last_not_of(' ') + 1);
    const DownloadJob job{path, headerless, vendor != "IBM", identity.revision,
                          headerless ? std::string() : KstRevision(path)};
    auto download = [job](DeviceRecord& copy, const std::atomic<bool>&) { DownloadFirmware(copy, job); };
    m_drives.push_back(Drive{&record, std::make_unique<DriveWorker>(record, download)});
    if (record.kind != KIND_PLAIN) {
        // A drive behind a RAID controller is downloaded before the next drive starts.
        while (!m_drives.back().worker->Finished()) {
            PumpWait(kWaitStepMs);
            TakeChanges();
        }
    }
}

void CFirmwareDnld::WaitForDownloads()
{
    auto running = [this] {
        return std::any_of(m_drives.begin(), m_drives.end(), [](const Drive& d) { return !d.worker->Finished(); });
    };
    while (running()) {
        PumpWait(kWaitStepMs);
        TakeChanges();
    }
    TakeChanges();
}

void CFirmwareDnld::TakeChanges()
{
    int done = 0;
    for (Drive& drive : m_drives) {
        drive.worker->TakeChange(*drive.record);
        done += drive.worker->Finished() && drive.worker->Outcome().state == TEST_PASSED ? 1 : 0;
        drive.record->changed = 1;
    }
    m_state.progressPosition = m_drives.empty() ? 100 : done * 100 / static_cast<int>(m_drives.size());
    m_state.elapsedText = ElapsedText(m_clock.elapsed());
    emit RunChanged();
}

void CFirmwareDnld::ReportOutcomes()
{
    QStringList lines;
    for (Drive& drive : m_drives) {
        DeviceRecord& record = *drive.record;
        const DeviceRecord outcome = drive.worker->Outcome();
        PublishStatus(record, outcome.state, outcome.statusText);
        const bool passed = outcome.state == TEST_PASSED;
        LogLine(passed ? "Target PASSED" : "Target FAILED", &record, kGuiWithAddress);
        lines << QString::fromStdString(Format("Target %d: %s", record.target, passed ? "PASSED" : "FAILED"));
        if (!passed) {
            LogLine(kSupportText, &record, kGuiWithAddress);
            lines << kSupportText;
        }
    }
    m_results->setText(lines.join('\n'));
}

void CFirmwareDnld::RecordAfter()
{
    LogStamped("PostDownload Inquiry and Mode Pages:");
    for (Drive& drive : m_drives) {
        LogIdentity(*drive.record);
        LogModePages(*drive.record, "PostDownload Mode Page Settings :");
        LogLine(" \n", drive.record, kGuiWithAddress);
    }
}
