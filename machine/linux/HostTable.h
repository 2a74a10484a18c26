// The machine's one reading of sysfs: made on first use and renewed host by
// host when a port's bus is scanned, never on each open or request. Ports are
// numbered densely over the hosts present, so a gap in the kernel's host
// numbers (a removed controller, an unplugged USB disk) hides no later host.
#pragma once

#include "machine/linux/SysfsTopology.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace harrow::machine {

class HostTable {
public:
    explicit HostTable(std::filesystem::path sysRoot);

    // The hosts as last read; the first call reads them.
    std::shared_ptr<const SysfsTopology> Topology();

    // Reads one host again, after its bus was scanned.
    void RereadHost(unsigned kernelHost);

    // Port numbers follow the kernel's host order of the first reading; a host
    // that appears later gets the next number, and a port whose host went
    // away keeps its number without a host.
    std::optional<unsigned> HostOfPort(unsigned port);
    std::optional<unsigned> PortOfHost(unsigned kernelHost);

    // How often sysfs was read, whole or one host.
    unsigned Reads() const;

private:
    void ReadOnceLocked();
    void NumberNewHostsLocked();

    const std::filesystem::path m_sysRoot;
    mutable std::mutex m_lock;
    std::shared_ptr<const SysfsTopology> m_topology;
    std::vector<unsigned> m_portHosts;  // kernel host number by port
    unsigned m_reads = 0;
};

}  // namespace harrow::machine
