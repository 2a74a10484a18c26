#include "gui/CSupportRMA.h"

#include "frontend/ResourceText.h"
#include "frontend/RmaForm.h"
#include "gui/LogFolder.h"
#include "gui/Resources.h"
#include "platform/OutputFile.h"
#include "platform/System.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

namespace {

// The console's input buffers hold 79 characters and the line end.
constexpr int kFieldChars = 79;

void Box(const char* text, UINT icon)
{
    MessageBoxA(nullptr, text, ResourceText(RES_APP_TITLE).c_str(), MB_OK | icon);
}

}  // namespace

CSupportRMA::CSupportRMA(DeviceSelection& selection, QWidget* parent)
    : WizardPage(parent), m_selection(selection), m_drive(new QLabel(this)), m_name(new QLineEdit(this)),
      m_phone(new QLineEdit(this)), m_email(new QLineEdit(this))
{
    m_drive->setObjectName("rmaDrive");
    m_drive->setWordWrap(true);
    const std::pair<QLineEdit*, const char*> fields[] = {{m_name, "contactName"}, {m_phone, "contactPhone"},
                                                         {m_email, "contactEmail"}};
    for (const auto& [field, name] : fields) {
        field->setObjectName(name);
        field->setMaxLength(kFieldChars);
    }
    auto* write = new QPushButton(tr("&Write Return Form"), this);
    write->setObjectName("writeForm");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_drive);
    auto* form = new QFormLayout;
    form->addRow(tr("Contact name:"), m_name);
    form->addRow(tr("Contact phone number:"), m_phone);
    form->addRow(tr("Contact e-mail:"), m_email);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(write);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    auto* note = new QLabel(tr("The form is appended to %1, with the drive's product and serial number and the "
                               "instructions for returning it.")
                                .arg(QString::fromStdString(LogFolderShown() + kRmaFileName)),
                            this);
    note->setWordWrap(true);
    layout->addWidget(note);
    layout->addStretch(1);
    connect(write, &QPushButton::clicked, this, &CSupportRMA::WriteForm);
}

void CSupportRMA::Enter()
{
    const std::vector<DeviceRecord*> records = m_selection.Records();
    m_drive->setText(records.empty() ? tr("No drive is selected: the form is written without product and serial "
                                          "number.")
                                     : tr("Return form for the drive at %1:%2:%3.")
                                           .arg(records.front()->hostAdapter)
                                           .arg(records.front()->target)
                                           .arg(records.front()->lun));
}

bool CSupportRMA::WriteForm()
{
    const std::string header = RmaHeader();
    const std::string fileName = InLogFolder(kRmaFileName);
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(fileName, harrow::platform::OutputMode::Append, &reason);
    if (!file) {
        Box(("Error opening RMA file rmalog.txt\n" + fileName + ": " + reason).c_str(), MB_ICONERROR);
        return false;
    }
    const std::vector<DeviceRecord*> records = m_selection.Records();
    const DeviceRecord none;
    const RmaContact contact{m_name->text().toStdString() + "\n", m_phone->text().toStdString() + "\n",
                             m_email->text().toStdString() + "\n"};
    if (!PrintRmaForm(file.get(), header, records.empty() ? none : *records.front(), contact)) {
        Box("Error writing RMA file rmalog.txt", MB_ICONERROR);
        return false;
    }
    Box(("The return form was appended to " + LogFolderShown() + kRmaFileName + ".").c_str(), MB_ICONINFORMATION);
    return true;
}
