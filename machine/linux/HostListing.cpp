#include "machine/linux/HostListing.h"

#include <string>

namespace harrow::machine {

ListedPort ListHost(const SysfsHost& host)
{
    ListedPort port;
    port.number = host.number;
    port.driver = host.procName;
    port.deviceName = "ScsiPort" + std::to_string(host.number);
    port.buses = host.BusCount();
    port.initiatorId = kDefaultInitiatorId;
    for (const SysfsUnit& unit : host.units) {
        port.units.push_back({unit.address.channel, unit.address.target, unit.address.lun, unit.claimed,
                              unit.inquiry});
    }
    return port;
}

std::vector<platform::RegistryKey> BuildDeviceMap(const SysfsTopology& topology)
{
    std::vector<platform::RegistryKey> keys;
    for (const SysfsHost& host : topology.Hosts()) {
        std::vector<platform::RegistryKey> portKeys = DeviceMapKeys(ListHost(host));
        keys.insert(keys.end(), portKeys.begin(), portKeys.end());
    }
    return keys;
}

}  // namespace harrow::machine
