#pragma once

class QButtonGroup;
class QLabel;
class QPushButton;
class QVBoxLayout;

// Checks the button with this id, or none when no button has it.
void SetCheckedId(QButtonGroup* group, int id);
// Enables or disables every button of the group.
void EnableButtons(QButtonGroup* group, bool enabled);
// The preference pages' foot: the apply button on its own row, then the page's note.
void AddApplyFooter(QVBoxLayout* layout, QPushButton* apply, QLabel* note);
