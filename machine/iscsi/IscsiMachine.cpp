#include "machine/iscsi/IscsiMachine.h"

#include "machine/iscsi/IscsiPortDevice.h"

#include <algorithm>
#include <cctype>
#include <iostream>
#include <optional>

namespace harrow::machine {
namespace {

constexpr std::size_t kMaxPorts = 256;  // port numbers are one byte

// "SCSI3:" in any letter case gives 3; Windows spells the number without
// leading zeros.
std::optional<std::size_t> PortNumberOf(const std::string& name)
{
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const std::string prefix = "scsi";
    if (lower.rfind(prefix, 0) != 0 || lower.size() < prefix.size() + 2 || lower.back() != ':') {
        return std::nullopt;
    }
    const std::string digits = lower.substr(prefix.size(), lower.size() - prefix.size() - 1);
    if (digits.size() > 3 || (digits.size() > 1 && digits[0] == '0') ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    return std::stoul(digits);
}

}  // namespace

IscsiMachine::IscsiMachine(const std::string& targetList, std::chrono::milliseconds loginTimeout)
{
    const std::vector<IscsiTarget> targets = ParseIscsiTargets(targetList);
    if (targets.size() > kMaxPorts) {
        throw IscsiSpecError("HARROW_MACHINE: " + std::to_string(targets.size()) + " iSCSI targets given; at most " +
                             std::to_string(kMaxPorts) + " ports can be numbered");
    }
    for (std::size_t number = 0; number < targets.size(); ++number) {
        auto port = std::make_shared<IscsiPort>(static_cast<int>(number), targets[number], loginTimeout);
        port->Scan();
        if (const std::string problem = port->Problem(); !problem.empty()) {
            std::cerr << "harrow: \\\\.\\SCSI" << number << ": " << problem << '\n';
        }
        m_ports.push_back(std::move(port));
    }
}

std::unique_ptr<platform::Device> IscsiMachine::Open(const std::string& name, DWORD, DWORD* error)
{
    const auto number = PortNumberOf(name);
    if (!number || *number >= m_ports.size()) {
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    *error = ERROR_SUCCESS;
    return std::make_unique<IscsiPortDevice>(m_ports[*number]);
}

std::vector<platform::RegistryKey> IscsiMachine::DeviceMap() const
{
    std::vector<platform::RegistryKey> keys;
    for (const auto& port : m_ports) {
        const auto portKeys = DeviceMapKeys(port->Listing());
        keys.insert(keys.end(), portKeys.begin(), portKeys.end());
    }
    return keys;
}

std::unique_ptr<platform::Machine> MakeIscsiMachine(const std::string& targetList)
{
    return std::make_unique<IscsiMachine>(targetList);
}

}  // namespace harrow::machine
