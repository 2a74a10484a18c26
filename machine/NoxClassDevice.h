// "\\.\NOXCLASS": the Nox class driver's control device, present when some
// port of the machine is driven by the Nox driver. It tells the Nox library
// which ports it serves; the library reaches their units through the ports.
#pragma once

#include "platform/DeviceNamespace.h"
#include "platform/WinTypes.h"

#include <vector>

namespace harrow::machine {

constexpr const char* kNoxClassDevice = "NOXCLASS";

// Answers a DWORD count followed by that many entries.
constexpr DWORD IOCTL_NOX_GET_PORTS = 0x9C406004;

#pragma pack(push, 1)
struct NoxPortEntry {
    DWORD port;
    BYTE buses;
    BYTE initiatorId;
    BYTE hidden;
    BYTE pseudo;  // the driver lists its pseudo device on this port
};
#pragma pack(pop)
static_assert(sizeof(NoxPortEntry) == 8);

class NoxClassDevice final : public platform::Device {
public:
    explicit NoxClassDevice(std::vector<NoxPortEntry> ports);

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override;

private:
    std::vector<NoxPortEntry> m_ports;
};

}  // namespace harrow::machine
