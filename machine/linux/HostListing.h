// A kernel SCSI host in the terms a Windows port reports: its bus list and
// its part of the device map.
#pragma once

#include "machine/PortLayout.h"
#include "machine/linux/SysfsTopology.h"

#include <vector>

namespace harrow::machine {

// sysfs does not tell a host's own ID; Windows shows 7 for such ports.
constexpr UCHAR kDefaultInitiatorId = 7;

ListedPort ListHost(const SysfsHost& host);

// The device map of every host.
std::vector<platform::RegistryKey> BuildDeviceMap(const SysfsTopology& topology);

}  // namespace harrow::machine
