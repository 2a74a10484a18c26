#include "machine/linux/HostListing.h"

namespace harrow::machine {

std::string SiteName(const PortSite& site)
{
    const std::string host = "host" + std::to_string(site.host);
    return site.channel == 0 ? host : host + ":" + std::to_string(site.channel);
}

ListedPort ListChannel(const SysfsHost& host, std::uint8_t channel, unsigned port)
{
    ListedPort listed;
    listed.number = static_cast<int>(port);
    listed.driver = host.procName;
    listed.deviceName = SiteName({host.number, channel});
    listed.buses = host.BusCount(channel);
    listed.initiatorId = kNoInitiator;
    for (const SysfsUnit& unit : host.units) {
        if (unit.address.channel == channel) {
            listed.units.push_back(
                {unit.path.pathId, unit.path.targetId, unit.address.lun, unit.claimed, unit.inquiry});
        }
    }
    return listed;
}

std::vector<platform::RegistryKey> BuildDeviceMap(HostTable& hosts)
{
    std::vector<platform::RegistryKey> keys;
    const auto topology = hosts.Topology();
    for (unsigned port = 0;; ++port) {
        const auto site = hosts.SiteOfPort(port);
        if (!site) {
            break;
        }
        if (const SysfsHost* host = topology->FindHost(site->host)) {
            std::vector<platform::RegistryKey> portKeys = DeviceMapKeys(ListChannel(*host, site->channel, port));
            keys.insert(keys.end(), portKeys.begin(), portKeys.end());
        }
    }
    return keys;
}

}  // namespace harrow::machine
