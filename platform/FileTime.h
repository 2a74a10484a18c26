// Win32 file time: 100-nanosecond steps since 1601.
#pragma once

#include "platform/WinTypes.h"

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
