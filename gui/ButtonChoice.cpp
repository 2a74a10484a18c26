#include "gui/ButtonChoice.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

void SetCheckedId(QButtonGroup* group, int id)
{
    // An exclusive group will not let its last checked button go.
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons()) {
        button->setChecked(group->id(button) == id);
    }
    group->setExclusive(true);
}

void EnableButtons(QButtonGroup* group, bool enabled)
{
    for (QAbstractButton* button : group->buttons()) {
        button->setEnabled(enabled);
    }
}

void AddApplyFooter(QVBoxLayout* layout, QPushButton* apply, QLabel* note)
{
    apply->setObjectName("applyButton");
    note->setObjectName("pageNote");
    note->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(apply);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    layout->addWidget(note);
    layout->addStretch(1);
}
