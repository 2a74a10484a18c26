// A class driver's device ("\\.\PhysicalDrive0", "\\.\Tape0", ...): it knows
// its unit's address and sends pass-through requests to it.
#pragma once

#include "machine/SimulatedPort.h"
#include "platform/DeviceNamespace.h"

#include <memory>

namespace harrow::machine {

// The class device name prefix for an INQUIRY peripheral type, or null when
// no class driver claims that type.
const char* ClassNameFor(UCHAR peripheralType);

class ClassDevice final : public platform::Device {
public:
    ClassDevice(std::shared_ptr<SimulatedPort> port, std::shared_ptr<SimulatedUnit> unit);

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override;

private:
    BOOL GetAddress(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const;
    BOOL PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error);

    std::shared_ptr<SimulatedPort> m_port;
    std::shared_ptr<SimulatedUnit> m_unit;
};

}  // namespace harrow::machine
