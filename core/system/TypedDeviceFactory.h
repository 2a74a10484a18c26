#pragma once

#include <memory>

class CGenericDevice;
class SCSIDevice;

// The device class for what the probe found, built from it and initialised.
std::unique_ptr<SCSIDevice> BuildTypedDevice(CGenericDevice& probe);
