// A kernel SCSI host in the terms a Windows port reports: its bus list and
// its part of the device map.
#pragma once

#include "machine/PortLayout.h"
#include "machine/linux/HostTable.h"

#include <vector>

namespace harrow::machine {

// Host `host` shown as port `port`: units on their virtual buses, the host's
// initiator ID, and the kernel's name for it ("host3") as the port's device name.
ListedPort ListHost(const SysfsHost& host, unsigned port);

// The device map of every host, each under its port number.
std::vector<platform::RegistryKey> BuildDeviceMap(HostTable& hosts);

}  // namespace harrow::machine
