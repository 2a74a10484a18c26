#pragma once

#include "frontend/DeviceRecord.h"

#include <string>
#include <vector>

// How a run ended over its drives: "3 passed, 1 failed, 1 aborted", with
// ", 1 skipped" when some drive was not worked on.
std::string RunSummary(const std::vector<const DeviceRecord*>& records);
