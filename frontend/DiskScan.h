#pragma once

#include "frontend/DeviceRecord.h"

#include <vector>

// Every disk (peripheral type 0) the device listing would show, in its order.
std::vector<DeviceRecord> ListedDisks();
