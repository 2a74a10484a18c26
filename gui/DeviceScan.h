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
    int peripheralType = -1;
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

// Rescans every host adapter of the computer system and probes its devices;
// logs what it found. Runs off the window's thread: it only reads drives.
std::vector<ScannedAdapter> ScanDevices();

// Reads the identity of one scanned device again (after a firmware download)
// and rebuilds its tree line; false when the device no longer answers.
bool ReprobeDevice(ScannedDevice& device, bool raidChannel);

// The adapter line of the device tree and the status display.
std::string AdapterText(int adapter, bool& raid);

// The scanned device at the record's address, or null.
const ScannedDevice* FindScanned(const std::vector<ScannedAdapter>& scan, const DeviceRecord& record);
