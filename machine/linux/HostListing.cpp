#include "machine/linux/HostListing.h"

#include <string>

namespace harrow::machine {

ListedPort ListHost(const SysfsHost& host, unsigned port)
{
    ListedPort listed;
    listed.number = static_cast<int>(port);
    listed.driver = host.procName;
    listed.deviceName = "host" + std::to_string(host.number);
    listed.buses = host.BusCount();
    listed.initiatorId = host.buses.InitiatorId();
    for (const SysfsUnit& unit : host.units) {
        listed.units.push_back({unit.path.pathId, unit.path.targetId, unit.address.lun, unit.claimed, unit.inquiry});
    }
    return listed;
}

std::vector<platform::RegistryKey> BuildDeviceMap(HostTable& hosts)
{
    std::vector<platform::RegistryKey> keys;
    const auto topology = hosts.Topology();
    for (unsigned port = 0;; ++port) {
        const auto number = hosts.HostOfPort(port);
        if (!number) {
            break;
        }
        if (const SysfsHost* host = topology->FindHost(*number)) {
            std::vector<platform::RegistryKey> portKeys = DeviceMapKeys(ListHost(*host, port));
            keys.insert(keys.end(), portKeys.begin(), portKeys.end());
        }
    }
    return keys;
}

}  // namespace harrow::machine
