#include "machine/linux/HostTable.h"

#include <algorithm>

namespace harrow::machine {

HostTable::HostTable(std::filesystem::path sysRoot) : m_sysRoot(std::move(sysRoot)) {}

std::shared_ptr<const SysfsTopology> HostTable::Topology()
{
    std::lock_guard guard(m_lock);
    ReadOnceLocked();
    return m_topology;
}

void HostTable::RereadHost(unsigned kernelHost)
{
    std::lock_guard guard(m_lock);
    ReadOnceLocked();
    auto fresh = std::make_shared<SysfsTopology>(*m_topology);
    fresh->ReplaceHost(kernelHost, SysfsTopology::ReadHost(m_sysRoot, kernelHost, m_topology->FindHost(kernelHost)));
    ++m_reads;
    m_topology = std::move(fresh);
    NumberNewSitesLocked();
}

std::optional<PortSite> HostTable::SiteOfPort(unsigned port)
{
    std::lock_guard guard(m_lock);
    ReadOnceLocked();
    if (port >= m_ports.size()) {
        return std::nullopt;
    }
    return m_ports[port];
}

std::optional<unsigned> HostTable::PortOfSite(const PortSite& site)
{
    std::lock_guard guard(m_lock);
    ReadOnceLocked();
    const auto at = std::find(m_ports.begin(), m_ports.end(), site);
    if (at == m_ports.end()) {
        return std::nullopt;
    }
    return static_cast<unsigned>(at - m_ports.begin());
}

unsigned HostTable::Reads() const
{
    std::lock_guard guard(m_lock);
    return m_reads;
}

void HostTable::ReadOnceLocked()
{
    if (m_topology) {
        return;
    }
    m_topology = std::make_shared<const SysfsTopology>(SysfsTopology::Read(m_sysRoot));
    ++m_reads;
    NumberNewSitesLocked();
}

void HostTable::NumberNewSitesLocked()
{
    for (const SysfsHost& host : m_topology->Hosts()) {
        for (const std::uint8_t channel : host.Channels()) {
            const PortSite site{host.number, channel};
            if (std::find(m_ports.begin(), m_ports.end(), site) == m_ports.end()) {
                m_ports.push_back(site);
            }
        }
    }
}

}  // namespace harrow::machine
