// The elapsed time the status display shows.
#pragma once

#include "frontend/TextFormat.h"
#include "platform/Kernel.h"

#include <cstdint>
#include <string>

// "%H:%M:%S" of program time: HARROW_TIME_SCALE runs it faster than the clock.
inline std::string ElapsedText(std::int64_t milliseconds)
{
    const auto seconds =
        static_cast<long long>(static_cast<double>(milliseconds) / 1000.0 / harrow::platform::TimeScale());
    return Format("%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
}
