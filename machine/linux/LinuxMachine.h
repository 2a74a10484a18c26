// This computer's SCSI hosts: the device map and bus lists from sysfs,
// pass-through requests as SG_IO on the matching /dev/sg node.
#pragma once

#include "platform/DeviceNamespace.h"

#include <memory>

namespace harrow::machine {

std::unique_ptr<platform::Machine> MakeLinuxMachine();

}  // namespace harrow::machine
