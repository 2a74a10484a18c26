#include "platform/System.h"

#include "platform/HostPath.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <pwd.h>
#include <unistd.h>

namespace {

constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;

struct WindowsVersion {
    const char* name;  // as HARROW_WINVER spells it
    DWORD major;
    DWORD minor;
    DWORD build;
    DWORD platform;
    const char* servicePack;
};

// Windows 9x keeps its major and minor version in the build number's high word.
constexpr DWORD NineXBuild(DWORD major, DWORD minor, DWORD build) { return major << 24 | minor << 16 | build; }

constexpr WindowsVersion kVersions[] = {
    {"95", 4, 0, NineXBuild(4, 0, 950), VER_PLATFORM_WIN32_WINDOWS, ""},
    {"98", 4, 10, NineXBuild(4, 10, 1998), VER_PLATFORM_WIN32_WINDOWS, ""},
    {"me", 4, 90, NineXBuild(4, 90, 3000), VER_PLATFORM_WIN32_WINDOWS, ""},
    {"nt4", 4, 0, 1381, VER_PLATFORM_WIN32_NT, "Service Pack 6"},
    {"2000", 5, 0, 2195, VER_PLATFORM_WIN32_NT, "Service Pack 4"},
    {"xp", 5, 1, 2600, VER_PLATFORM_WIN32_NT, "Service Pack 3"},
};
constexpr const WindowsVersion& kDefaultVersion = kVersions[4];

const WindowsVersion& ChosenVersion()
{
    const char* wanted = std::getenv("HARROW_WINVER");
    if (wanted == nullptr || *wanted == '\0') {
        return kDefaultVersion;
    }
    std::string name(wanted);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const WindowsVersion& version : kVersions) {
        if (name == version.name) {
            return version;
        }
    }
    static std::once_flag told;
    std::call_once(told, [wanted] {
        std::fprintf(stderr, "harrow: HARROW_WINVER=%s is not one of 95, 98, me, nt4, 2000, xp; using 2000\n", wanted);
    });
    return kDefaultVersion;
}

std::string DataHome()
{
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        return xdg;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::string(home) + "/.local/share";
    }
    const passwd* user = ::getpwuid(::getuid());
    return user != nullptr ? std::string(user->pw_dir) + "/.local/share" : std::string();
}

// Win32 semantics for folder queries: the length without the terminator, or
// the size needed with it when the buffer is too small; 0 on failure.
UINT CopyFolder(const std::string& folder, LPSTR buffer, UINT size)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "harrow: cannot make the folder %s: %s\n", folder.c_str(), error.message().c_str());
        SetLastError(ERROR_PATH_NOT_FOUND);
        return 0;
    }
    if (buffer == nullptr || size < folder.size() + 1) {
        return static_cast<UINT>(folder.size() + 1);
    }
    std::memcpy(buffer, folder.c_str(), folder.size() + 1);
    return static_cast<UINT>(folder.size());
}

std::string WindowsFolder()
{
    if (const char* folder = std::getenv("HARROW_WINDIR"); folder != nullptr && *folder != '\0') {
        return folder;
    }
    return DataHome() + "/harrow/windows";
}

std::string SystemFolder()
{
    std::string windows = WindowsFolder();
    return windows + (windows.ends_with('/') ? "system" : "/system");
}

// The folders every Windows 9x installation has and installers copy into.
bool MakeWindowsLayout()
{
    std::string folder = SystemFolder() + "/IOSUBSYS";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "harrow: cannot make the folder %s: %s\n", folder.c_str(), error.message().c_str());
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

// The version block of our binaries; only VerQueryValueA reads inside it.
struct VersionBlock {
    char magic[8];
    VS_FIXEDFILEINFO fixed;
    DWORD translation;
    char fileVersion[24];
};
constexpr char kVersionMagic[8] = "HARROWV";

VersionBlock OurVersion()
{
    VersionBlock block{};
    std::memcpy(block.magic, kVersionMagic, sizeof kVersionMagic);
    block.fixed.dwSignature = 0xFEEF04BD;
    block.fixed.dwStrucVersion = 0x00010000;
    block.fixed.dwFileVersionMS = HARROW_VERSION_MAJOR << 16 | HARROW_VERSION_MINOR;
    block.fixed.dwFileVersionLS = HARROW_VERSION_PATCH << 16;
    block.fixed.dwProductVersionMS = block.fixed.dwFileVersionMS;
    block.fixed.dwProductVersionLS = block.fixed.dwFileVersionLS;
    block.fixed.dwFileFlagsMask = 0x3F;
    block.fixed.dwFileOS = 0x00040004;  // VOS_NT_WINDOWS32
    block.fixed.dwFileType = 1;         // VFT_APP
    block.translation = 0x04B00409;     // US English, Unicode code page
    std::snprintf(block.fileVersion, sizeof block.fileVersion, "%s", HARROW_VERSION);
    return block;
}

// Our binaries are the ELF files the build makes; other files carry no
// version information.
bool CarriesVersion(LPCSTR fileName)
{
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::ifstream file(harrow::platform::HostPath(fileName), std::ios::binary);
    if (!file) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return false;
    }
    char magic[4] = {};
    file.read(magic, sizeof magic);
    if (file.gcount() != 4 || std::memcmp(magic, "\x7F" "ELF", 4) != 0) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return false;
    }
    return true;
}

bool SameText(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

std::atomic<harrow::platform::MessageBoxHandler> g_messageBoxHandler{nullptr};
std::atomic<harrow::platform::MessagePump> g_messagePump{nullptr};

}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA* info)
{
    if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const WindowsVersion& version = ChosenVersion();
    info->dwMajorVersion = version.major;
    info->dwMinorVersion = version.minor;
    info->dwBuildNumber = version.build;
    info->dwPlatformId = version.platform;
    std::snprintf(info->szCSDVersion, sizeof info->szCSDVersion, "%s", version.servicePack);
    return TRUE;
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size)
{
    return MakeWindowsLayout() ? CopyFolder(WindowsFolder(), buffer, size) : 0;
}

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) { return MakeWindowsLayout() ? CopyFolder(SystemFolder(), buffer, size) : 0; }

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, DWORD* handle)
{
    if (handle != nullptr) {
        *handle = 0;
    }
    return CarriesVersion(fileName) ? sizeof(VersionBlock) : 0;
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD size, LPVOID data)
{
    if (data == nullptr || size < sizeof(VersionBlock)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!CarriesVersion(fileName)) {
        return FALSE;
    }
    VersionBlock block = OurVersion();
    std::memcpy(data, &block, sizeof block);
    return TRUE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length)
{
    if (block == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr ||
        std::memcmp(block, kVersionMagic, sizeof kVersionMagic) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* version = static_cast<VersionBlock*>(const_cast<LPVOID>(block));
    if (SameText(subBlock, "\\")) {
        *buffer = &version->fixed;
        *length = sizeof version->fixed;
    } else if (SameText(subBlock, "\\VarFileInfo\\Translation")) {
        *buffer = &version->translation;
        *length = sizeof version->translation;
    } else if (SameText(subBlock, "\\StringFileInfo\\040904B0\\FileVersion") ||
               SameText(subBlock, "\\StringFileInfo\\040904B0\\ProductVersion")) {
        *buffer = version->fileVersion;
        *length = static_cast<UINT>(std::strlen(version->fileVersion) + 1);
    } else {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    if (harrow::platform::MessageBoxHandler handler = g_messageBoxHandler.load()) {
        return handler(text != nullptr ? text : "", caption != nullptr ? caption : "Error", type);
    }
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
    std::fflush(stderr);
    // Nobody is there to answer: take the affirmative button.
    return (type & 0x0F) == MB_YESNO ? IDYES : IDOK;
}

namespace harrow::platform {

void SetMessageBoxHandler(MessageBoxHandler handler) { g_messageBoxHandler.store(handler); }

void SetMessagePump(MessagePump pump) { g_messagePump.store(pump); }

int PumpMessages(int maxMessages)
{
    MessagePump pump = g_messagePump.load();
    return pump != nullptr ? pump(maxMessages) : 0;
}

}  // namespace harrow::platform
