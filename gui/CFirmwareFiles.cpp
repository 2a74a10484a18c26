#include "gui/CFirmwareFiles.h"

#include "frontend/DeviceQueries.h"
#include "frontend/TextFormat.h"
#include "frontend/ResourceText.h"
#include "gui/DeviceSelection.h"
#include "gui/FirmwareDownload.h"
#include "gui/Resources.h"
#include "platform/System.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CFirmwareFiles::CFirmwareFiles(DeviceSelection& selection, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_file(new QLineEdit(this)), m_parts(new QLabel(this)),
      m_targets(new QLabel(this))
{
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Choose the firmware file to load into the selected drives: a \".kst\" file is "
                                "checked against each drive's product first, a \".lod\" file is sent as it is."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* row = new QHBoxLayout;
    m_file->setObjectName("firmwareFile");
    m_file->setPlaceholderText("*.kst; *.lod");
    auto* browse = new QPushButton(tr("&Browse..."), this);
    browse->setObjectName("browseFirmware");
    row->addWidget(m_file, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    m_parts->setObjectName("fileParts");
    layout->addWidget(m_parts);
    layout->addWidget(new QLabel(tr("Selected drives:"), this));
    m_targets->setObjectName("firmwareTargets");
    m_targets->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_targets);
    layout->addStretch(1);

    connect(browse, &QPushButton::clicked, this, &CFirmwareFiles::Browse);
    connect(m_file, &QLineEdit::textChanged, this, [this] { SetFileName(FileName()); });
}

void CFirmwareFiles::Enter()
{
    // What the scan read, trimmed: showing the page sends the drives nothing.
    QStringList lines;
    for (const DeviceRecord* record : m_selection.Records()) {
        const DeviceIdentity& identity = m_selection.FactsOf(*record).identity;
        lines << QString::fromStdString(Format("Target: %d %s %s, Version: %s", record->target,
                                               identity.vendor.c_str(), identity.product.c_str(),
                                               identity.revision.c_str()));
    }
    m_targets->setText(lines.join('\n'));
}

std::string CFirmwareFiles::FileName() const { return m_file->text().toStdString(); }

void CFirmwareFiles::SetFileName(const std::string& path)
{
    const QString text = QString::fromStdString(path);
    if (m_file->text() != text) {
        m_file->setText(text);
    }
    const QFileInfo info(text);
    m_parts->setText(path.empty() ? QString()
                                  : tr("Folder: %1\nName: %2\nExtension: %3")
                                        .arg(info.path(), info.completeBaseName(), info.suffix()));
    if (info.exists() && !IsRegularFile(path)) {
        m_parts->setText(m_parts->text() + tr("\nNot a regular file: it cannot be downloaded."));
    }
}

void CFirmwareFiles::Browse()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Firmware File"), m_file->text(),
                                                      tr("Firmware Files (*.kst *.lod *.KST *.LOD)"));
    if (!path.isEmpty()) {
        PickFile(path.toStdString());
    }
}

bool CFirmwareFiles::PickFile(const std::string& path)
{
    // A FIFO or a device would hang whoever opens it: refused before anything does.
    if (!IsRegularFile(path)) {
        const std::string text = path + " is not a regular file and cannot be downloaded.";
        MessageBoxA(nullptr, text.c_str(), ResourceText(RES_APP_TITLE).c_str(), MB_OK | MB_ICONWARNING);
        return false;
    }
    SetFileName(path);
    return true;
}
