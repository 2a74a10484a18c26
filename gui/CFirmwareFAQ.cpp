#include "gui/CFirmwareFAQ.h"

#include "frontend/ResourceText.h"
#include "gui/Resources.h"

#include <QLabel>
#include <QVBoxLayout>

CFirmwareFAQ::CFirmwareFAQ(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromStdString(ResourceText(RES_FIRMWARE_FAQ)), this);
    text->setObjectName("faqText");
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(text);
    layout->addStretch(1);
}
