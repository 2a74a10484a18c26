#pragma once

#include "frontend/DiskSelfTest.h"
#include "frontend/DriveHealth.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

// The --json members of the health commands (docs/json.md). A figure the
// drive did not give is left out, as in the text.
nlohmann::json HealthJson(const HealthReport& report);
nlohmann::json SelfTestJson(const SelfTestOutcome& outcome, const std::vector<std::string>& lines);
