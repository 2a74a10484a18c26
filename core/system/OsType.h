#pragma once

#include <cstdint>

// Windows family found at start.
enum OsType_t : std::int32_t {
    OS_UNKNOWN = -1,
    OS_WIN95 = 0,
    OS_WIN98 = 1,
    OS_WINNT4 = 2,
    OS_WIN2000 = 3,
};

OsType_t DetermineOsType();

inline bool IsNtFamily(OsType_t os)
{
    return os == OS_WINNT4 || os == OS_WIN2000;
}

inline bool IsWin9xFamily(OsType_t os)
{
    return os == OS_WIN95 || os == OS_WIN98;
}
