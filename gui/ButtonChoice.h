#pragma once

class QButtonGroup;

// Checks the button with this id, or none when no button has it.
void SetCheckedId(QButtonGroup* group, int id);
// Enables or disables every button of the group.
void EnableButtons(QButtonGroup* group, bool enabled);
