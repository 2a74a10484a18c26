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
    fresh->ReplaceHost(kernelHost, SysfsTopology::ReadHost(m_sysRoot, kernelHost));
    ++m_reads;
    m_topology = std::move(fresh);
    NumberNewHostsLocked();
}

std::optional<unsigned> HostTable::HostOfPort(unsigned port)
{
    std::lock_guard guard(m_lock);
    ReadOnceLocked();
    if (port >= m_portHosts.size()) {
        return std::nullopt;
    }
    return m_portHosts[port];
}

std::optional<unsigned> HostTable::PortOfHost(unsigned kernelHost)
{
    std::lock_guard guard(m_lock);
    ReadOnceLocked();
    const auto at = std::find(m_portHosts.begin(), m_portHosts.end(), kernelHost);
    if (at == m_portHosts.end()) {
        return std::nullopt;
    }
    return static_cast<unsigned>(at - m_portHosts.begin());
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
    NumberNewHostsLocked();
}

void HostTable::NumberNewHostsLocked()
{
    for (const SysfsHost& host : m_topology->Hosts()) {
        if (std::find(m_portHosts.begin(), m_portHosts.end(), host.number) == m_portHosts.end()) {
            m_portHosts.push_back(host.number);
        }
    }
}

}  // namespace harrow::machine
