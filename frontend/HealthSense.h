#pragma once

#include "core/types/SenseView.h"
#include "frontend/DeviceRecord.h"

#include <cstdint>
#include <string>

struct SenseCodes;

// Room for sense data of either format (SPC-4 4.5) from REQUEST SENSE.
constexpr std::uint8_t kSenseReplyBytes = 252;

// Key, ASC and ASCQ of sense data.
SenseCodes CodesOf(const SenseView& sense);

// "HA:TAR:LUN", or the longer forms of drives behind RAID controllers.
std::string DeviceAddressText(const DeviceRecord& record);
