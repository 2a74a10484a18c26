// Installs the ASPI layer and the transfer-buffer VxD on Windows 9x: copies
// the files beside the installed ones and schedules their replacement for
// the next start of Windows in "wininit.ini".
#pragma once

#include "installer/InstallerDialogs.h"
#include "installer/FileTable.h"

#include <string>

// Operating-system kinds: 0 Windows 95, 1 Windows 98 and ME, 2 NT 4 and
// earlier, 3 Windows 2000, 4 later NT; -1 any other.
int OperatingSystemKind();

// "%d.%d.%d.%d" of a file's fixed file version, "None" without one.
std::string FileVersionText(const std::string& path);

class COrbInstaller {
public:
    static constexpr const char* kSemaphoreName = "Orb 32-Bit Driver Installer";

    explicit COrbInstaller(InstallerDialogs& dialogs) : m_Dialogs(dialogs) {}

    // The whole program; returns its exit code.
    int Run();

private:
    int RunAlone();
    bool CopyVxd();
    void RegisterVxd();
    std::string VersionLine() const;
    void Install();
    bool InstallFile(const InstallFile_s& file);
    bool ScheduleRename(const std::string& installed, const std::string& temporary);
    void RegisterWithVersionChecker(const std::string& temporary);
    void RegisterAspiEnum();
    std::string TargetDirectory(const InstallFile_s& file) const;

    InstallerDialogs& m_Dialogs;
    std::string m_SourceDir;  // ends with its separator
    std::string m_SystemDir;
    std::string m_WindowsDir;
};
