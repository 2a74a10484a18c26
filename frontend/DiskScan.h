#pragma once

#include "frontend/DeviceQueries.h"
#include "frontend/DeviceRecord.h"

#include <vector>

// Every disk (peripheral type 0) the device listing would show, in its order.
std::vector<DeviceRecord> ListedDisks();

// The record of a LUN the listing probes on the adapter.
DeviceRecord ListedRecord(const AdapterInfo& adapter, int target, int lun);
