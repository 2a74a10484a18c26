// A port's own device, "\\.\SCSIn:": the bus list, capabilities, rescan and
// pass-through addressed by PathId, TargetId and Lun.
#pragma once

#include "machine/SimulatedPort.h"
#include "platform/DeviceNamespace.h"

#include <memory>

namespace harrow::machine {

class ScsiPortDevice final : public platform::Device {
public:
    explicit ScsiPortDevice(std::shared_ptr<SimulatedPort> port);

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override;

private:
    BOOL PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error);

    std::shared_ptr<SimulatedPort> m_port;
};

}  // namespace harrow::machine
