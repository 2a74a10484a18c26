// What the installer shows a person: its three dialogs.
#pragma once

#include <string>

class InstallerDialogs {
public:
    virtual ~InstallerDialogs() = default;

    // Dialog 103 with its version line; true when the user chose to install.
    virtual bool AskToInstall(const std::string& versions) = 0;
    // Dialog 101, shown without buttons while copying.
    virtual void ShowUpdating() = 0;
    virtual void CloseUpdating() = 0;
    // Dialog 102, until the user presses OK.
    virtual void ShowComplete() = 0;
};
