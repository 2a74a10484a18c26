// A machine of real remote SCSI targets reached over iSCSI: each target named
// in HARROW_MACHINE ("iscsi://HOST[:PORT]/IQN ...") is one port "\\.\SCSIn:",
// in the order given.
#pragma once

#include "machine/iscsi/IscsiPort.h"
#include "platform/DeviceNamespace.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace harrow::machine {

// Connection and login together never take longer than this.
constexpr std::chrono::milliseconds kIscsiLoginTimeout{5000};

class IscsiMachine final : public platform::Machine {
public:
    // Logs in to every target and lists its LUNs. Throws IscsiSpecError for
    // a malformed text; a target that cannot be reached becomes a port
    // without devices, and its problem is written to standard error.
    explicit IscsiMachine(const std::string& targetList, std::chrono::milliseconds loginTimeout = kIscsiLoginTimeout);

    std::unique_ptr<platform::Device> Open(const std::string& name, DWORD access, DWORD* error) override;
    std::vector<platform::RegistryKey> DeviceMap() const override;

    const IscsiPort& Port(std::size_t number) const { return *m_ports.at(number); }
    std::size_t PortCount() const { return m_ports.size(); }

private:
    std::vector<std::shared_ptr<IscsiPort>> m_ports;
};

std::unique_ptr<platform::Machine> MakeIscsiMachine(const std::string& targetList);

}  // namespace harrow::machine
