// The /dev names of this computer's SCSI units, as sysfs links them, and the
// HA:TAR:LUN address that reaches each unit on HARROW_MACHINE=linux.
#pragma once

#include "frontend/DeviceRecord.h"
#include "machine/linux/HostTable.h"

#include <filesystem>
#include <string>
#include <vector>

struct LinuxUnitNodes {
    int host = 0;
    int channel = 0;
    int target = 0;
    int lun = 0;
    // The port of the unit's host channel, numbered as the Linux machine numbers them.
    int port = 0;
    std::vector<std::string> blockNodes;  // "/dev/sdb"
    std::string genericNode;              // "/dev/sg1", empty without the sg driver
};

class LinuxDeviceNames {
public:
    // A tree without SCSI units gives no names.
    static LinuxDeviceNames Read(const std::filesystem::path& sysRoot, const std::filesystem::path& devRoot);
    // The names of the units of a reading the machine already made, so sysfs
    // is not walked a second time and ports are numbered as the machine numbers them.
    static LinuxDeviceNames Of(harrow::machine::HostTable& table, const std::filesystem::path& devRoot);

    // The unit a name under /dev reaches, following links such as
    // /dev/disk/by-id/...; null when it names no SCSI unit of the tree.
    const LinuxUnitNodes* Resolve(const std::string& devName) const;
    // The unit behind a listed HA:TAR:LUN address; null when none.
    const LinuxUnitNodes* AtListed(int hostAdapter, int target, int lun) const;

    // Block nodes, then the generic node, blank-separated.
    static std::string NodesText(const LinuxUnitNodes& unit);
    static DeviceRecord RecordOf(const LinuxUnitNodes& unit);

private:
    std::filesystem::path m_devRoot;
    std::vector<LinuxUnitNodes> m_units;
};

// The names of the running machine: filled only on HARROW_MACHINE=linux.
const LinuxDeviceNames* ActiveDeviceNames();
