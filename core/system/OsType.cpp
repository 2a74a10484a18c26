#include "core/system/OsType.h"

#include "platform/System.h"

OsType_t DetermineOsType()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) {
        return OS_UNKNOWN;
    }
    switch (info.dwPlatformId) {
    case VER_PLATFORM_WIN32_WINDOWS:
        return info.dwMinorVersion == 0 ? OS_WIN95 : OS_WIN98;
    case VER_PLATFORM_WIN32_NT:
        return info.dwMajorVersion <= 4 ? OS_WINNT4 : OS_WIN2000;
    default:
        return OS_UNKNOWN;
    }
}
