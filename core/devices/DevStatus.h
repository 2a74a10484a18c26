#pragma once

#include <cstdint>

// Status of a device or of the computer system; every object starts initialising.
enum DevStatus_t : std::int32_t {
    DEV_STATUS_INITIALIZING = 1,
    // The registry could not say how to reach the adapters; a fixed transport may.
    DEV_STATUS_NOT_CONFIGURED = 2,
};
