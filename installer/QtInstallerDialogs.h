// The installer's dialogs on screen. Without a person at them (--yes) each
// dialog is still made and shown, its affirmative button pressed for the
// user, and its texts written to standard output.
#pragma once

#include "installer/InstallerDialogs.h"

#include <memory>

class CUpdatingDialog;

class QtInstallerDialogs final : public InstallerDialogs {
public:
    explicit QtInstallerDialogs(bool pressForUser);
    ~QtInstallerDialogs() override;

    bool AskToInstall(const std::string& versions) override;
    void ShowUpdating() override;
    void CloseUpdating() override;
    void ShowComplete() override;

private:
    bool m_PressForUser;
    std::unique_ptr<CUpdatingDialog> m_Updating;
};

// Shows the platform's message boxes as Qt message boxes.
void UseQtMessageBoxes();
