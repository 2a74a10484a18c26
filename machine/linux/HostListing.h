// One channel of a kernel SCSI host in the terms a Windows port reports: its
// bus list and its part of the device map.
#pragma once

#include "machine/PortLayout.h"
#include "machine/linux/HostTable.h"

#include <string>
#include <vector>

namespace harrow::machine {

// The kernel's name of a port's site: "host3", or "host3:2" beyond channel 0.
std::string SiteName(const PortSite& site);

// Channel `channel` of host `host` as port `port`: its units on buses of 32
// targets, no initiator ID, and the site's name as the port's device name.
ListedPort ListChannel(const SysfsHost& host, std::uint8_t channel, unsigned port);

// The device map of every port.
std::vector<platform::RegistryKey> BuildDeviceMap(HostTable& hosts);

}  // namespace harrow::machine
