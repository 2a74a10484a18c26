#include "installer/COrbInstaller.h"

#include "platform/Files.h"
#include "platform/Kernel.h"
#include "platform/Library.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/System.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr const char* kCopyFailed = "Failed to copy \n%s\nTo\n%s";
constexpr const char* kRenameFailed = "Failed to write \n%s\nTo\n%s";
constexpr const char* kWininit = "wininit.ini";
constexpr const char* kVxdKey = "System\\CurrentControlSet\\Services\\VxD\\ORBSTB32";
constexpr const char* kAspiEnumKey = "System\\CurrentControlSet\\Services\\VxD\\ASPIENUM";
constexpr const char* kWarnVerKey = "System\\CurrentControlSet\\control\\SessionManager\\WarnVerDLLs";
constexpr std::uint32_t kWinAspiId = 2;
constexpr std::uint32_t kAspiEnumId = 1;

template <class... Args>
std::string Format(const char* format, Args... args)
{
    const int length = std::snprintf(nullptr, 0, format, args...);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, args...);
    return text;
}

// The warning shows under the system's default caption.
void Warn(const char* format, const std::string& first, const std::string& second)
{
    MessageBoxA(nullptr, Format(format, first.c_str(), second.c_str()).c_str(), nullptr, MB_OK | MB_ICONWARNING);
}

std::string Folder(UINT (*query)(LPSTR, UINT))
{
    char folder[4096];
    const UINT length = query(folder, sizeof folder);
    return length > 0 && length < sizeof folder ? std::string(folder) : std::string();
}

// The program's folder, its separator kept; empty when the path has none.
// Host paths separate folders with '/', Windows ones with '\'.
std::string SourceDirectory()
{
    char path[4096];
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    const std::string program(path, length > 0 && length < sizeof path ? length : 0);
    const std::size_t last = program.find_last_of("\\/");
    return last == std::string::npos ? std::string() : program.substr(0, last + 1);
}

// One handle on the instance name for the life of the program.
class InstanceName {
public:
    InstanceName() : m_Handle(CreateSemaphoreA(nullptr, 0, 1, COrbInstaller::kSemaphoreName))
    {
        m_Existed = m_Handle != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    }
    ~InstanceName()
    {
        if (m_Handle != nullptr) {
            CloseHandle(m_Handle);
        }
    }
    InstanceName(const InstanceName&) = delete;
    InstanceName& operator=(const InstanceName&) = delete;
    bool Existed() const { return m_Existed; }

private:
    HANDLE m_Handle;
    bool m_Existed = false;
};

// A key to write values into; nothing is written when it cannot be had.
class WritableKey {
public:
    WritableKey(const char* path, bool create)
    {
        const LSTATUS opened = create ? RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                                        KEY_ALL_ACCESS, nullptr, &m_Key, nullptr)
                                      : RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_ALL_ACCESS, &m_Key);
        if (opened != ERROR_SUCCESS) {
            m_Key = nullptr;
        }
    }
    ~WritableKey()
    {
        if (m_Key != nullptr) {
            RegCloseKey(m_Key);
        }
    }
    WritableKey(const WritableKey&) = delete;
    WritableKey& operator=(const WritableKey&) = delete;
    explicit operator bool() const { return m_Key != nullptr; }

    void Set(const char* name, DWORD type, const void* data, DWORD size)
    {
        RegSetValueExA(m_Key, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    void SetByte(const char* name, BYTE value) { Set(name, REG_BINARY, &value, 1); }
    void SetString(const char* name, const char* value)
    {
        Set(name, REG_SZ, value, static_cast<DWORD>(std::strlen(value) + 1));
    }

private:
    HKEY m_Key = nullptr;
};

}  // namespace

const char* DestinationString(std::uint32_t id)
{
    switch (id) {
    case kDestIoSubsys:
        return "IOSUBSYS\\";
    case kDestSystem:
        return "SYSTEM\\";
    case kDestSystem32:
        return "SYSTEM32\\";
    case kDestDrivers:
        return "SYSTEM32\\DRIVERS\\";
    default:
        return "";
    }
}

int OperatingSystemKind()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) {
        return -1;
    }
    if (info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) {
        return info.dwMinorVersion == 0 ? 0 : 1;
    }
    if (info.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        return -1;
    }
    if (info.dwMajorVersion <= 4) {
        return 2;
    }
    return info.dwMajorVersion == 5 && info.dwMinorVersion == 0 ? 3 : 4;
}

std::string FileVersionText(const std::string& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0) {
        return "None";
    }
    std::vector<BYTE> block(size);
    LPVOID fixed = nullptr;
    UINT length = 0;
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data()) ||
        !VerQueryValueA(block.data(), "\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO)) {
        return "None";
    }
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
    return Format("%d.%d.%d.%d", static_cast<int>(info->dwFileVersionMS >> 16),
                  static_cast<int>(info->dwFileVersionMS & 0xFFFF), static_cast<int>(info->dwFileVersionLS >> 16),
                  static_cast<int>(info->dwFileVersionLS & 0xFFFF));
}

int COrbInstaller::Run()
{
    // The name stays taken until the program ends, so a second start while
    // this one runs is turned away.
    const InstanceName instance;
    if (instance.Existed()) {
        return 0;
    }
    return RunAlone();
}

int COrbInstaller::RunAlone()
{
    m_SourceDir = SourceDirectory();
    if (m_SourceDir.empty()) {
        return 0;
    }
    const int kind = OperatingSystemKind();
    if (kind != 0 && kind != 1) {
        return 1;
    }
    m_WindowsDir = Folder(GetWindowsDirectoryA);
    m_SystemDir = Folder(GetSystemDirectoryA);
    if (!CopyVxd()) {
        return 0;
    }
    RegisterVxd();
    if (m_Dialogs.AskToInstall(VersionLine())) {
        Install();
    }
    return 1;
}

bool COrbInstaller::CopyVxd()
{
    const std::string source = Format("%sorbstb32.vxd", m_SourceDir.c_str());
    const std::string target = Format("%s\\system\\orbstb32.vxd", m_WindowsDir.c_str());
    if (m_WindowsDir.empty() || !CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        Warn(kCopyFailed, source, target);
        return false;
    }
    return true;
}

void COrbInstaller::RegisterVxd()
{
    WritableKey key(kVxdKey, true);
    if (!key) {
        return;
    }
    key.SetByte("Start", 0x00);
    key.SetByte("AllocAtBoot", 0x00);
    key.SetByte("ISA", 0x01);
    const DWORD maxPages = 128;
    key.Set("MaxPages", REG_DWORD, &maxPages, sizeof maxPages);
    key.SetString("StaticVxD", "ORBSTB32.VXD");
}

std::string COrbInstaller::VersionLine() const
{
    const std::string installed = FileVersionText(Format("%s\\%s", m_SystemDir.c_str(), "WNASPI32.DLL"));
    // The source folder already ends with its separator.
    const std::string offered = FileVersionText(Format("%s%s", m_SourceDir.c_str(), "WNASPI32.DLL"));
    return Format("Current Version - %s     New Version - %s", installed.c_str(), offered.c_str());
}

void COrbInstaller::Install()
{
    m_Dialogs.ShowUpdating();
    for (std::size_t i = 0; i < kWin9xFileCount; ++i) {
        if (!InstallFile(kInstallFiles[i])) {
            m_Dialogs.CloseUpdating();
            return;
        }
    }
    m_Dialogs.CloseUpdating();
    m_Dialogs.ShowComplete();
}

std::string COrbInstaller::TargetDirectory(const InstallFile_s& file) const
{
    if (file.destination == kDestIoSubsys) {
        return Format("%s\\%s", m_SystemDir.c_str(), DestinationString(kDestIoSubsys));
    }
    return Format("%s\\", m_SystemDir.c_str());
}

bool COrbInstaller::InstallFile(const InstallFile_s& file)
{
    const std::string target = TargetDirectory(file);
    const std::string source = Format("%s%s", m_SourceDir.c_str(), file.sourceName);
    const std::string temporary = Format("%s%s", target.c_str(), file.temporaryName);
    const std::string installed = Format("%s%s", target.c_str(), file.installedName);
    if (!CopyFileA(source.c_str(), temporary.c_str(), FALSE)) {
        Warn(kCopyFailed, source, temporary);
        return false;
    }
    // Fails when a backup exists: the file found before the first run is kept.
    CopyFileA(installed.c_str(), Format("%s%s", target.c_str(), file.backupName).c_str(), TRUE);
    if (!ScheduleRename(installed, temporary)) {
        return false;
    }
    if (file.id == kWinAspiId) {
        RegisterWithVersionChecker(temporary);
    }
    if (file.id == kAspiEnumId) {
        RegisterAspiEnum();
    }
    return true;
}

// A copy whose rename never reached "wininit.ini" would never be installed.
bool COrbInstaller::ScheduleRename(const std::string& installed, const std::string& temporary)
{
    if (!WritePrivateProfileStringA("Rename", "NUL", installed.c_str(), kWininit) ||
        !WritePrivateProfileStringA("Rename", installed.c_str(), temporary.c_str(), kWininit)) {
        Warn(kRenameFailed, installed + "=" + temporary, harrow::platform::ProfilePath(kWininit));
        return false;
    }
    return true;
}

void COrbInstaller::RegisterWithVersionChecker(const std::string& temporary)
{
    WIN32_FIND_DATAA entry{};
    HANDLE find = FindFirstFileA(temporary.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    FindClose(find);
    std::snprintf(entry.cFileName, sizeof entry.cFileName, "%s", "winaspi.dll");
    std::snprintf(entry.cAlternateFileName, sizeof entry.cAlternateFileName, "%s", "WINASPI.DLL");
    WritableKey key(kWarnVerKey, false);
    if (key) {
        key.Set("WINASPI.DLL", REG_BINARY, &entry, sizeof entry);
    }
}

void COrbInstaller::RegisterAspiEnum()
{
    WritableKey key(kAspiEnumKey, true);
    if (!key) {
        return;
    }
    key.SetByte("Start", 0x00);
    key.SetString("StaticVxD", "ASPIENUM.VXD");
}
