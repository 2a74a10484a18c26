// System information and services: Windows version, folders, file version
// information, message boxes and the GUI message pump.
#pragma once

#include "platform/WinTypes.h"

#include <string>

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};

constexpr DWORD VER_PLATFORM_WIN32s = 0;
constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// Windows 2000 (NT 5.0) unless HARROW_WINVER names 95, 98, me, nt4, 2000 or xp.
BOOL GetVersionExA(OSVERSIONINFOA* info);

// HARROW_WINDIR (default $XDG_DATA_HOME/harrow/windows) and its "system"
// folder; both, and "system/IOSUBSYS", are created on first use. Return the length, 0 on failure.
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);

// File version information: every ELF file (our binaries are) carries the
// build's project version, as "\" (the fixed information) and as
// "\StringFileInfo\040904B0\FileVersion"; other files carry none.
struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};
DWORD GetFileVersionInfoSizeA(LPCSTR fileName, DWORD* handle);
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD size, LPVOID data);
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length);

constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONERROR = 0x00000010;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONWARNING = 0x00000030;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr UINT MB_DEFBUTTON2 = 0x00000100;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Console programs: writes caption and text to standard error and answers
// IDOK (or IDYES). A GUI registers its own handler.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

namespace harrow::platform {

using MessageBoxHandler = int (*)(const char* text, const char* caption, UINT type);
void SetMessageBoxHandler(MessageBoxHandler handler);

// The GUI registers a pump that processes at most maxMessages pending events
// and returns how many it processed; console programs have none.
using MessagePump = int (*)(int maxMessages);
void SetMessagePump(MessagePump pump);
// Runs the registered pump; returns 0 without one.
int PumpMessages(int maxMessages);

}  // namespace harrow::platform
