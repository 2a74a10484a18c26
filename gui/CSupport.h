#pragma once

#include "gui/WizardPage.h"

// How to reach the maker's support, with links the desktop opens.
class CSupport : public WizardPage {
    Q_OBJECT
public:
    explicit CSupport(QWidget* parent = nullptr);
};
