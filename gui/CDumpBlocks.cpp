#include "gui/CDumpBlocks.h"

#include "frontend/BlockCdb.h"
#include "frontend/DeviceQueries.h"
#include "frontend/ResourceText.h"
#include "frontend/TextFormat.h"
#include "gui/DeviceSelection.h"
#include "gui/GuiLog.h"
#include "gui/Resources.h"
#include "platform/OutputFile.h"
#include "platform/System.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr std::uint64_t kChunkBlocks = 128;
constexpr long kReadTimeoutSeconds = 2;

int Box(const std::string& text, UINT type)
{
    return MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(), type);
}

bool ParseBlock(const QLineEdit* field, std::uint64_t& value)
{
    bool ok = false;
    value = field->text().trimmed().toULongLong(&ok);
    return ok;
}

// The blocks to read: whole chunks from the start until the end is covered,
// none past the drive's last block.
std::uint64_t BlocksToRead(std::uint64_t start, std::uint64_t end, std::uint64_t driveBlocks)
{
    const std::uint64_t chunks = (end - start + kChunkBlocks - 1) / kChunkBlocks;
    return std::min(chunks * kChunkBlocks, driveBlocks - start);
}

}  // namespace

CDumpBlocks::CDumpBlocks(DeviceSelection& selection, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_file(new QLineEdit(this)), m_start(new QLineEdit("0", this)),
      m_end(new QLineEdit(this)), m_dump(new QPushButton(tr("&Dump Blocks"), this))
{
    m_file->setObjectName("dumpFile");
    m_start->setObjectName("startBlock");
    m_end->setObjectName("endBlock");
    m_dump->setObjectName("dumpButton");
    auto* browse = new QPushButton(tr("&Browse..."), this);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_file, 1);
    fileRow->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(tr("File:"), fileRow);
    form->addRow(tr("Start block:"), m_start);
    form->addRow(tr("End block:"), m_end);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_dump);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addStretch(1);
    connect(browse, &QPushButton::clicked, this, &CDumpBlocks::Browse);
    connect(m_dump, &QPushButton::clicked, this, &CDumpBlocks::Dump);
}

void CDumpBlocks::Browse()
{
    QFileDialog dialog(this, tr("Dump Blocks"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix("bin");
    dialog.setNameFilter(tr("All Files (*.bin)"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        m_file->setText(dialog.selectedFiles().front());
    }
}

bool CDumpBlocks::Dump()
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    if (records.empty()) {
        Box("No device is selected. Tick a drive on the Devices page first.", MB_OK | MB_ICONERROR);
        return false;
    }
    // Blocks are read from disks only: a tape would take READ as a move along its medium.
    if (!m_selection.IsDisk(*records.front())) {
        LogLine("Dump Blocks skipped: not a disk", records.front(), kGuiWithAddress);
        Box("The first selected device is not a disk: " + m_selection.Describe(*records.front()) +
                "\nBlocks are dumped from disks only.",
            MB_OK | MB_ICONERROR);
        return false;
    }
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    if (!ParseBlock(m_start, start) || !ParseBlock(m_end, end) || end <= start) {
        Box("The start and end blocks must be numbers, the end block greater than the start block.",
            MB_OK | MB_ICONERROR);
        return false;
    }
    if (m_file->text().trimmed().isEmpty()) {
        Box("Name the file the blocks are written to.", MB_OK | MB_ICONERROR);
        return false;
    }
    return DumpRange(*records.front(), m_file->text().trimmed().toStdString(), start, end);
}

bool CDumpBlocks::DumpRange(DeviceRecord& drive, const std::string& fileName, std::uint64_t start, std::uint64_t end)
{
    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    if (ReadCapacity(drive, lastLba, blockLength) != 0 || blockLength == 0) {
        Box("The drive's capacity could not be read.", MB_OK | MB_ICONERROR);
        return false;
    }
    const std::uint64_t driveBlocks = lastLba + 1;
    if (start >= driveBlocks) {
        Box(Format("The start block lies beyond the drive's last block %llu.",
                   static_cast<unsigned long long>(driveBlocks - 1)),
            MB_OK | MB_ICONERROR);
        return false;
    }
    const std::uint64_t blocks = BlocksToRead(start, end, driveBlocks);
    const std::string question = Format("%llu bytes will be written to %s.\n\nDo you want to continue?",
                                        static_cast<unsigned long long>(blocks * blockLength), fileName.c_str());
    if (Box(question, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        return false;
    }
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(fileName, harrow::platform::OutputMode::Replace, &reason);
    if (!file) {
        Box("The file " + fileName + " could not be created: " + reason + ".", MB_OK | MB_ICONERROR);
        return false;
    }
    // A chunk of large blocks may be more than the drive takes in one command.
    const std::uint64_t perCommand =
        std::min<std::uint64_t>(kChunkBlocks, MaxTransferBlocks(drive, blockLength, kChunkBlocks * blockLength));
    const bool wide = NeedsCdb16(lastLba);
    std::vector<std::uint8_t> data(perCommand * blockLength);
    const int commands = static_cast<int>((blocks + perCommand - 1) / perCommand);
    QProgressDialog progress(tr("Dumping blocks..."), tr("Stop"), 0, commands, this);
    progress.setWindowModality(Qt::WindowModal);
    for (std::uint64_t lba = start; lba < start + blocks; lba += perCommand) {
        progress.setValue(static_cast<int>((lba - start) / perCommand));
        if (progress.wasCanceled()) {
            Box(lba == start ? "The dump was stopped before any block was written."
                             : Format("The dump was stopped: %s holds blocks %llu to %llu.", fileName.c_str(),
                                      static_cast<unsigned long long>(start), static_cast<unsigned long long>(lba - 1)),
                MB_OK | MB_ICONWARNING);
            return false;
        }
        const auto count = static_cast<std::uint32_t>(std::min(perCommand, start + blocks - lba));
        const CdbAnswer answer =
            SendCdb(drive, ReadBlocks(lba, count, wide), data.data(), count * blockLength, kReadTimeoutSeconds);
        if (!answer.Good()) {
            Box(Format("Reading block %llu failed with error %d.", static_cast<unsigned long long>(lba),
                       answer.outcome),
                MB_OK | MB_ICONERROR);
            return false;
        }
        if (std::fwrite(data.data(), 1, count * blockLength, file.get()) != count * blockLength) {
            Box("The file " + fileName + " could not be written.", MB_OK | MB_ICONERROR);
            return false;
        }
    }
    if (std::fflush(file.get()) != 0) {
        Box("The file " + fileName + " could not be written.", MB_OK | MB_ICONERROR);
        return false;
    }
    Box(Format("Blocks %llu to %llu were written to %s.", static_cast<unsigned long long>(start),
               static_cast<unsigned long long>(start + blocks - 1), fileName.c_str()),
        MB_OK | MB_ICONINFORMATION);
    return true;
}
