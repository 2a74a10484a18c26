#include "cli/LinuxDeviceNames.h"

#include "cli/CommandLine.h"
#include "machine/linux/HostTable.h"
#include "machine/linux/SysfsMachine.h"
#include "machine/linux/SysfsTopology.h"
#include "platform/DeviceNamespace.h"

#include <cstdlib>
#include <cstring>
#include <system_error>

namespace fs = std::filesystem;
using harrow::machine::HostTable;
using harrow::machine::SysfsHost;
using harrow::machine::SysfsTopology;
using harrow::machine::SysfsUnit;

namespace {

// As many hops as the kernel follows before ELOOP.
constexpr int kMaxLinkHops = 40;

fs::path UnitDir(const fs::path& sysRoot, const SysfsUnit& unit)
{
    const auto& a = unit.address;
    return sysRoot / "bus" / "scsi" / "devices" /
           (std::to_string(a.host) + ':' + std::to_string(a.channel) + ':' + std::to_string(a.target) + ':' +
            std::to_string(a.lun));
}

std::vector<std::string> BlockNodes(const fs::path& unitDir)
{
    std::vector<std::string> nodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(unitDir / "block", ec)) {
        nodes.push_back(kDevPrefix + entry.path().filename().string());
    }
    return nodes;
}

// The path a /dev name ends at after its links, inside devRoot; empty when a
// link leaves /dev or loops.
fs::path FollowLinks(const fs::path& devRoot, const std::string& devName)
{
    fs::path path = devRoot / devName.substr(std::strlen(kDevPrefix));
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code ec;
        if (!fs::is_symlink(path, ec)) {
            return path.lexically_normal();
        }
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            return {};
        }
        if (target.is_absolute()) {
            const std::string text = target.string();
            if (!text.starts_with(kDevPrefix)) {
                return {};
            }
            path = devRoot / text.substr(std::strlen(kDevPrefix));
        } else {
            path = (path.parent_path() / target).lexically_normal();
        }
    }
    return {};
}

}  // namespace

LinuxDeviceNames LinuxDeviceNames::Read(const fs::path& sysRoot, const fs::path& devRoot)
{
    HostTable table(sysRoot);
    return Of(table, devRoot);
}

LinuxDeviceNames LinuxDeviceNames::Of(HostTable& table, const fs::path& devRoot)
{
    LinuxDeviceNames names;
    names.m_devRoot = devRoot.lexically_normal();
    const fs::path& sysRoot = table.SysRoot();
    // The machine's own numbering: a port per host channel, the kernel's target and LUN.
    const auto topology = table.Topology();
    for (const SysfsHost& host : topology->Hosts()) {
        for (const SysfsUnit& unit : host.units) {
            const auto port = table.PortOfSite({unit.address.host, unit.address.channel});
            if (!port) {
                continue;
            }
            LinuxUnitNodes nodes;
            nodes.host = unit.address.host;
            nodes.channel = unit.address.channel;
            nodes.target = unit.address.target;
            nodes.lun = unit.address.lun;
            nodes.port = static_cast<int>(*port);
            nodes.blockNodes = BlockNodes(UnitDir(sysRoot, unit));
            const auto sg = SysfsTopology::ReadSgName(sysRoot, unit.address);
            if (sg && !sg->empty()) {
                nodes.genericNode = kDevPrefix + *sg;
            }
            names.m_units.push_back(std::move(nodes));
        }
    }
    return names;
}

const LinuxUnitNodes* LinuxDeviceNames::Resolve(const std::string& devName) const
{
    if (!devName.starts_with(kDevPrefix)) {
        return nullptr;
    }
    const fs::path path = FollowLinks(m_devRoot, devName);
    if (path.empty() || path.parent_path() != m_devRoot) {
        return nullptr;
    }
    const std::string node = kDevPrefix + path.filename().string();
    for (const LinuxUnitNodes& unit : m_units) {
        if (unit.genericNode == node) {
            return &unit;
        }
        for (const std::string& block : unit.blockNodes) {
            if (block == node) {
                return &unit;
            }
        }
    }
    return nullptr;
}

const LinuxUnitNodes* LinuxDeviceNames::AtListed(int hostAdapter, int target, int lun) const
{
    for (const LinuxUnitNodes& unit : m_units) {
        if (unit.port == hostAdapter && unit.target == target && unit.lun == lun) {
            return &unit;
        }
    }
    return nullptr;
}

std::string LinuxDeviceNames::NodesText(const LinuxUnitNodes& unit)
{
    std::string text;
    for (const std::string& block : unit.blockNodes) {
        text += (text.empty() ? "" : " ") + block;
    }
    if (!unit.genericNode.empty()) {
        text += (text.empty() ? "" : " ") + unit.genericNode;
    }
    return text;
}

DeviceRecord LinuxDeviceNames::RecordOf(const LinuxUnitNodes& unit)
{
    DeviceRecord record;
    record.kind = KIND_PLAIN;
    record.hostAdapter = unit.port;
    record.target = unit.target;
    record.lun = unit.lun;
    return record;
}

const LinuxDeviceNames* ActiveDeviceNames()
{
    static const LinuxDeviceNames* names = [] () -> const LinuxDeviceNames* {
        const char* machine = std::getenv("HARROW_MACHINE");
        if (machine == nullptr || std::strcmp(machine, "linux") != 0) {
            return nullptr;
        }
        auto* sysfs = dynamic_cast<harrow::machine::SysfsMachine*>(&harrow::platform::ActiveMachine());
        static const LinuxDeviceNames linuxNames = sysfs != nullptr
                                                       ? LinuxDeviceNames::Of(sysfs->Hosts(), "/dev")
                                                       : LinuxDeviceNames::Read("/sys", "/dev");
        return &linuxNames;
    }();
    return names;
}
