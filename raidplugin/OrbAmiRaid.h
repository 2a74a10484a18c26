// The exports of "ORBAMIRAID.DLL": AMI MegaRAID controllers found in the
// SCSI device map, and single commands passed through to the drives behind
// them. Results are Error_t codes.
#pragma once

#include "core/transport/RaidRequest.h"
#include "raidplugin/MegaRaidPassThrough.h"

#include <cstdint>

extern "C" {
std::int32_t fnAMIRaidInit();
std::int32_t AdapterCount(int* count);
std::int32_t HaInquiry(int adapter, char* channels, char* identity, char* ownId);
std::int32_t GetDevType(RaidRequest* request, char* peripheral);
std::int32_t DoCommand(RaidRequest* request);
}

// Closes every controller handle (the last detach).
void CloseControllers();
