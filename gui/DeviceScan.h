#pragma once

#include "frontend/DeviceQueries.h"
#include "frontend/DeviceRecord.h"

#include <string>
#include <vector>

// What one bus scan found, in tree order.
struct ScannedDevice {
    std::string text;
    DeviceRecord record;
    DeviceIdentity identity;
    std::string typeName;
};

struct ScannedChannel {
    std::string text;
    std::vector<ScannedDevice> devices;
};

struct ScannedAdapter {
    std::string text;
    bool raid = false;
    // A RAID controller's drives hang under its channels, any other's directly.
    std::vector<ScannedChannel> channels;
    std::vector<ScannedDevice> devices;
};

// Rescans every host adapter of the computer system and probes its devices.
std::vector<ScannedAdapter> ScanDevices();

// The adapter line of the device tree and the status display.
std::string AdapterText(int adapter, bool& raid);

// The scanned device at the record's address, or null.
const ScannedDevice* FindScanned(const std::vector<ScannedAdapter>& scan, const DeviceRecord& record);
