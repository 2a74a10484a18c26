// The machine of this computer's SCSI hosts, read from a sysfs tree, with
// commands carried by an SG_IO call. The roots and the call are parameters so
// the machine can run against a prepared tree.
#pragma once

#include "machine/linux/LinuxHostAccess.h"
#include "platform/DeviceNamespace.h"

#include <filesystem>
#include <memory>

namespace harrow::machine {

class SysfsMachine final : public platform::Machine {
public:
    SysfsMachine(std::filesystem::path sysRoot, std::filesystem::path devRoot, SgIoCall sgIo);

    // "SCSIn:" for host n; "PhysicalDriveK", "TapeK", "CdRomK" and
    // "MediaChangerK" for the K-th unit of that class in H:C:T:L order.
    std::unique_ptr<platform::Device> Open(const std::string& name, DWORD access, DWORD* error) override;
    std::vector<platform::RegistryKey> DeviceMap() const override;

private:
    std::shared_ptr<const LinuxHostAccess> m_access;
};

}  // namespace harrow::machine
