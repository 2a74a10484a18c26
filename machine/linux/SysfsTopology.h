// A snapshot of this computer's SCSI hosts and logical units as sysfs shows
// them: what the device map, the bus lists and the class devices are made of.
#pragma once

#include "machine/linux/VirtualBuses.h"

#include <array>
#include <compare>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace harrow::machine {

// H:C:T:L as the kernel numbers it.
struct UnitAddress {
    std::uint8_t host = 0;
    std::uint8_t channel = 0;
    std::uint8_t target = 0;
    std::uint8_t lun = 0;

    auto operator<=>(const UnitAddress&) const = default;
};

// The Windows class driver that owns a unit, by its device name stem.
enum class ClassKind { None, Disk, Tape, CdRom, MediaChanger };

struct SysfsUnit {
    UnitAddress address;
    PortPath path;  // where the unit sits on its Windows port
    std::array<std::uint8_t, 36> inquiry{};  // standard INQUIRY data
    ClassKind kind = ClassKind::None;
    bool claimed = false;  // a class driver (sd, st, sr, ch) is bound
    // The block queue's max_hw_sectors_kb in bytes: the most one SG_IO may
    // move; 0 when the unit has no block device to tell it.
    std::uint64_t maxTransferBytes = 0;
    // Which kernel device this reading is of (its sysfs directory's inode:
    // a unit removed and added again is a new one) and its bound driver.
    std::uint64_t deviceId = 0;
    std::string driver;
};

struct SysfsHost {
    std::uint8_t number = 0;
    std::string procName;  // the low-level driver, e.g. "mpt3sas"
    std::uint32_t sgTableSize = 128;  // scatter-gather entries per command
    // A parallel SCSI bus (an spi_host): the only kind whose new devices the
    // kernel finds only when asked to scan.
    bool parallelScsi = false;
    std::vector<SysfsUnit> units;  // in H:C:T:L order

    // The channels that hold units, ascending; channel 0 alone when none do.
    std::vector<std::uint8_t> Channels() const;
    // Buses a channel's port reports: one past the highest in use, at least 1.
    std::uint8_t BusCount(std::uint8_t channel) const;
    // The largest transfer every unit of the host takes: its scatter-gather
    // table of pages, capped by the smallest block queue limit.
    std::uint64_t MaxTransferBytes(std::uint32_t pageSize) const;
};

class SysfsTopology {
public:
    // Missing or unreadable parts of the tree read as absent devices: a
    // computer without SCSI hosts has an empty topology.
    static SysfsTopology Read(const std::filesystem::path& sysRoot);
    // One host and its units; nullopt when the host is gone. A unit of
    // `previous` that is the same kernel device with the same driver keeps
    // its reading but for the INQUIRY data, which the kernel renews when it
    // rescans a device (new firmware).
    static std::optional<SysfsHost> ReadHost(const std::filesystem::path& sysRoot, unsigned number,
                                             const SysfsHost* previous = nullptr);

    // Puts a fresh reading of one host in place of the old one (none: removed).
    void ReplaceHost(unsigned number, std::optional<SysfsHost> host);

    const std::vector<SysfsHost>& Hosts() const { return m_hosts; }
    const SysfsHost* FindHost(unsigned number) const;
    // The index-th unit of a class in H:C:T:L order ("PhysicalDrive<index>").
    const SysfsUnit* FindClassUnit(ClassKind kind, unsigned index) const;

    // The sg node name of one unit, read afresh ("sg3", or empty when the sg
    // driver has none); nullopt when the unit is gone.
    static std::optional<std::string> ReadSgName(const std::filesystem::path& sysRoot, const UnitAddress& address);

private:
    std::vector<SysfsHost> m_hosts;  // by host number
};

}  // namespace harrow::machine
