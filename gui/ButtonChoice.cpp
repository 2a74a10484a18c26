#include "gui/ButtonChoice.h"

#include <QAbstractButton>
#include <QButtonGroup>

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
