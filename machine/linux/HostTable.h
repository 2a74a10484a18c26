// The machine's one reading of sysfs: made on first use and renewed host by
// host when a port's bus is scanned, never on each open or request. Each
// channel of a host that holds units is a port (a host without units is one
// port), numbered densely, so a gap in the kernel's host numbers (a removed
// controller, an unplugged USB disk) hides no later host.
#pragma once

#include "machine/linux/SysfsTopology.h"

#include <compare>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace harrow::machine {

// What a port stands for: one channel of one kernel host.
struct PortSite {
    unsigned host = 0;
    std::uint8_t channel = 0;

    auto operator<=>(const PortSite&) const = default;
};

class HostTable {
public:
    explicit HostTable(std::filesystem::path sysRoot);

    // The hosts as last read; the first call reads them.
    std::shared_ptr<const SysfsTopology> Topology();

    // Reads one host again, after its bus was scanned.
    void RereadHost(unsigned kernelHost);

    // Port numbers follow the kernel's order of the first reading; a channel
    // that appears later gets the next number, and a port whose host went
    // away keeps its number without a host.
    std::optional<PortSite> SiteOfPort(unsigned port);
    std::optional<unsigned> PortOfSite(const PortSite& site);

    // How often sysfs was read, whole or one host.
    unsigned Reads() const;

    const std::filesystem::path& SysRoot() const { return m_sysRoot; }

private:
    void ReadOnceLocked();
    void NumberNewSitesLocked();

    const std::filesystem::path m_sysRoot;
    mutable std::mutex m_lock;
    std::shared_ptr<const SysfsTopology> m_topology;
    std::vector<PortSite> m_ports;  // by port number
    unsigned m_reads = 0;
};

}  // namespace harrow::machine
