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
    SysfsMachine(std::filesystem::path sysRoot, std::filesystem::path devRoot, std::shared_ptr<SgIo> io);

    // "SCSIn:" for the n-th host channel present; "PhysicalDriveK", "TapeK", "CdRomK" and
    // "MediaChangerK" for the K-th unit of that class in H:C:T:L order.
    std::unique_ptr<platform::Device> Open(const std::string& name, DWORD access, DWORD* error) override;
    std::vector<platform::RegistryKey> DeviceMap() const override;

    // How often the sysfs tree was read, whole or one host: once at start and
    // once a rescanned port.
    unsigned TopologyReads() const;
    // How often an sg node was opened: once a unit, not once a command.
    unsigned NodeOpens() const;

    // The machine's reading of sysfs, for those who name its units otherwise.
    HostTable& Hosts() const { return *m_hosts; }

private:
    std::shared_ptr<HostTable> m_hosts;
    std::shared_ptr<const LinuxHostAccess> m_access;
};

}  // namespace harrow::machine
