#pragma once

#include "core/types/Error.h"

#include <cstdint>

// One row of a status translation table. Tables are searched front to back
// and the first matching key wins.
struct ERR_XTBL {
    std::int32_t key;
    Error_t result;
};

// SCSI status byte to Error_t, common to every transport: the target status
// is reported as the raw status byte.
inline constexpr ERR_XTBL kTargetStatusTable[] = {
    {0x00, static_cast<Error_t>(0x00)},  // GOOD
    {0x02, static_cast<Error_t>(0x02)},  // CHECK CONDITION
    {0x04, static_cast<Error_t>(0x04)},  // CONDITION MET
    {0x08, static_cast<Error_t>(0x08)},  // BUSY
    {0x10, static_cast<Error_t>(0x10)},  // INTERMEDIATE
    {0x14, static_cast<Error_t>(0x14)},  // INTERMEDIATE-CONDITION MET
    {0x18, static_cast<Error_t>(0x18)},  // RESERVATION CONFLICT
    {0x22, static_cast<Error_t>(0x22)},  // COMMAND TERMINATED
    {0x28, static_cast<Error_t>(0x28)},  // QUEUE FULL
};
inline constexpr int kTargetStatusRows = sizeof(kTargetStatusTable) / sizeof(kTargetStatusTable[0]);
