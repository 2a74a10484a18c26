#include "gui/CSupport.h"

#include "gui/CHyperLink.h"

#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

CSupport::CSupport(QWidget* parent) : WizardPage(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Kestrel technical support answers questions about your drive, its diagnostics and "
                                "its firmware. Have the drive's model and serial number at hand; the Log Pages "
                                "page shows them, and the Return Material Form page prepares a return."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    auto* web = new CHyperLink(tr("Kestrel support on the web"), "https://support.kestrel-drives.example/", this);
    auto* mail = new CHyperLink("support@kestrel-drives.example", "mailto:support@kestrel-drives.example", this);
    auto* returns = new CHyperLink(tr("Return procedures and packaging"),
                                   "https://support.kestrel-drives.example/returns", this);
    web->setObjectName("webLink");
    mail->setObjectName("mailLink");
    returns->setObjectName("returnsLink");
    form->addRow(tr("Web:"), web);
    form->addRow(tr("E-mail:"), mail);
    form->addRow(tr("Returns:"), returns);
    form->addRow(tr("Telephone:"), new QLabel(tr("+1 800 555 0199 (Monday to Friday, 8:00 to 17:00)"), this));
    layout->addLayout(form);
    layout->addStretch(1);
}
