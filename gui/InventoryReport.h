#pragma once

#include "frontend/DeviceRecord.h"

#include <string>
#include <vector>

constexpr const char* kInventoryHeader = "HA:Ta:Lu,Serial#,Product ID,Vendor,Blocks,Rev,SCSI fw,Servo fw,POH,Last DST,Global ID\n";

// One drive's row, the maker's columns only for the maker's drives.
std::string InventoryRow(DeviceRecord& record);

// Writes the header and one row per drive; false when the file cannot be
// written, with *reason set when it was refused or could not be opened.
bool WriteInventory(const std::string& fileName, const std::vector<DeviceRecord*>& records, std::string* reason);
