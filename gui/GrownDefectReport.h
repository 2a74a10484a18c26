#pragma once

#include "frontend/DeviceRecord.h"

#include <optional>
#include <string>

// Appends the grown defect list, in bytes-from-index and physical-sector
// form, to "<folder><serial number>.log". The temperature, when given, goes
// into the first line. Returns the file written, or "" when the drive has no
// serial number, the file cannot be opened or the drive gives no defect list.
std::string AppendGrownDefectReport(const DeviceRecord& record, const std::string& folder,
                                    const std::optional<std::string>& temperature);
