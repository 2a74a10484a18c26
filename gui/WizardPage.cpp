#include "gui/WizardPage.h"

void WizardPage::Enter() {}

void WizardPage::AbortRun() {}
