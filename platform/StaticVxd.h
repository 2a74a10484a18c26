// The suite's transfer-buffer driver, "\\.\ORBSTB32.VXD". Windows 9x loads
// a static VxD at its start when the VxD's key names a file of the system
// folder; here the driver answers once both are in place, on Windows 9x only.
#pragma once

#include "platform/DeviceNamespace.h"

#include <memory>
#include <string>

namespace harrow::platform {

// Null when name is not an installed static VxD of ours.
std::unique_ptr<Device> OpenStaticVxd(const std::string& name);

}  // namespace harrow::platform
