#include "machine/linux/SysfsMachine.h"

#include "machine/linux/LinuxClassDevice.h"
#include "machine/linux/LinuxPortDevice.h"
#include "machine/linux/HostListing.h"

#include <array>
#include <charconv>
#include <optional>
#include <string_view>
#include <strings.h>

namespace harrow::machine {
namespace {

struct ClassName {
    std::string_view stem;
    ClassKind kind;
};
constexpr std::array<ClassName, 4> kClassNames{{{"PhysicalDrive", ClassKind::Disk},
                                                {"Tape", ClassKind::Tape},
                                                {"CdRom", ClassKind::CdRom},
                                                {"MediaChanger", ClassKind::MediaChanger}}};

// The number after a case-insensitive stem, the whole rest being digits
// without leading zeros, as Windows names its devices.
std::optional<unsigned> NumberAfter(std::string_view name, std::string_view stem)
{
    if (name.size() <= stem.size() || ::strncasecmp(name.data(), stem.data(), stem.size()) != 0) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(stem.size());
    if (digits.size() > 1 && digits.front() == '0') {
        return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<unsigned> PortNumber(std::string_view name)
{
    if (!name.ends_with(':')) {
        return std::nullopt;
    }
    return NumberAfter(name.substr(0, name.size() - 1), "SCSI");
}

}  // namespace

SysfsMachine::SysfsMachine(std::filesystem::path sysRoot, std::filesystem::path devRoot, std::shared_ptr<SgIo> io)
    : m_hosts(std::make_shared<HostTable>(sysRoot)),
      m_access(std::make_shared<const LinuxHostAccess>(
          LinuxHostAccess{sysRoot, std::make_shared<SgNodeTable>(sysRoot, std::move(devRoot), std::move(io)), m_hosts}))
{
}

std::unique_ptr<platform::Device> SysfsMachine::Open(const std::string& name, DWORD, DWORD* error)
{
    const auto topology = m_hosts->Topology();
    if (const auto port = PortNumber(name)) {
        const auto site = m_hosts->SiteOfPort(*port);
        if (site && topology->FindHost(site->host) != nullptr) {
            return std::make_unique<LinuxPortDevice>(m_access, *port, *site);
        }
    }
    for (const ClassName& className : kClassNames) {
        const auto index = NumberAfter(name, className.stem);
        if (!index) {
            continue;
        }
        const SysfsUnit* unit = topology->FindClassUnit(className.kind, *index);
        const auto port = unit != nullptr ? m_hosts->PortOfSite({unit->address.host, unit->address.channel})
                                          : std::nullopt;
        if (port) {
            return std::make_unique<LinuxClassDevice>(m_access, *unit, *port);
        }
    }
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

std::vector<platform::RegistryKey> SysfsMachine::DeviceMap() const
{
    return BuildDeviceMap(*m_hosts);
}

unsigned SysfsMachine::TopologyReads() const
{
    return m_hosts->Reads();
}

unsigned SysfsMachine::NodeOpens() const
{
    return m_access->nodes->Opens();
}

}  // namespace harrow::machine
