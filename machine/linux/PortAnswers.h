// What a port device tells about itself: the bus list of
// IOCTL_SCSI_GET_INQUIRY_DATA and the device map Windows writes at boot.
#pragma once

#include "machine/linux/SysfsTopology.h"
#include "platform/DeviceNamespace.h"

#include <cstdint>
#include <vector>

namespace harrow::machine {

// Windows' choice for a port that does not name its own initiator.
constexpr std::uint8_t kDefaultInitiatorId = 7;

// SCSI_ADAPTER_BUS_INFO with one SCSI_INQUIRY_DATA chain per bus.
std::vector<std::uint8_t> BuildBusInfo(const SysfsHost& host);

// "Scsi Port N" and its buses, initiators, targets and logical units.
std::vector<platform::RegistryKey> BuildDeviceMap(const SysfsTopology& topology);

}  // namespace harrow::machine
