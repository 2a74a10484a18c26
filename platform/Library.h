// Dynamic libraries: LoadLibraryA("NAME.DLL") loads libname.so (stem in lower
// case) from the executable's folder, then the dynamic linker's path. A name
// with a folder ("C:\\WINDOWS\\SYSTEM\\WNASPI32.DLL") loads that file only.
#pragma once

#include "platform/WinTypes.h"

#include <string>

using FARPROC = void (*)();

HMODULE LoadLibraryA(LPCSTR fileName);
BOOL FreeLibrary(HMODULE module);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Null module: the executable. Returns the length written, 0 on failure.
DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

// Numbered strings of a resource library: the library exports
//   extern "C" const char* HarrowResourceString(unsigned id);
// returning null for an id it does not hold. Returns the length copied
// (truncated to size - 1 and terminated), 0 when the string is missing.
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

namespace harrow::platform {

// The shared-object file name that LoadLibraryA looks for: "RESDLL.DLL" -> "libresdll.so".
std::string SharedObjectName(const std::string& dllName);

}  // namespace harrow::platform
