#pragma once

#include <cmath>
#include <cstdint>

// The megabytes both programs show for a drive: block length times last LBA
// over 2^20, rounded to the nearest as printf's "%0.0f" rounds.
inline double CapacityMegabytes(std::uint64_t lastLba, std::uint32_t blockLength)
{
    return static_cast<double>(blockLength) * static_cast<double>(lastLba) / 1048576.0;
}

inline long RoundedMegabytes(std::uint64_t lastLba, std::uint32_t blockLength)
{
    return static_cast<long>(std::nearbyint(CapacityMegabytes(lastLba, blockLength)));
}
