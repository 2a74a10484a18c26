#include "gui/PlaceholderPage.h"

#include <QLabel>
#include <QVBoxLayout>

PlaceholderPage::PlaceholderPage(const QString& what, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(tr("%1 is not available yet.").arg(what), this);
    label->setObjectName("notAvailable");
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addStretch(1);
}
