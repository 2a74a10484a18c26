#pragma once

#include <cstdint>

// Status of a device or of the computer system; every object starts initialising.
enum DevStatus_t : std::int32_t {
    DEV_STATUS_INITIALIZING = 1,
};
