// "\\.\PhysicalDriveK", TapeK, CdRomK, MediaChangerK: one logical unit as its
// Windows class driver shows it, bound to that unit for the handle's life.
#pragma once

#include "machine/linux/LinuxHostAccess.h"
#include "platform/DeviceNamespace.h"

#include <memory>

namespace harrow::machine {

class LinuxClassDevice final : public platform::Device {
public:
    // unit: where the kernel has it; port: where Windows callers see it.
    LinuxClassDevice(std::shared_ptr<const LinuxHostAccess> access, const SysfsUnit& unit, unsigned port);

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override;

private:
    BOOL Address(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const;

    std::shared_ptr<const LinuxHostAccess> m_access;
    UnitAddress m_address;
    PortPath m_path;
    unsigned m_port;
};

}  // namespace harrow::machine
