// The description of a simulated machine: its ports and where each unit sits.
// The drive fields of a unit are left to the drive factory.
#pragma once

#include "machine/drives/DriveFactory.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace harrow::machine {

struct UnitSpec {
    int bus = 0;
    int target = 0;
    int lun = 0;
    std::optional<bool> claimed;  // unset: the class drivers decide
    nlohmann::json json;          // the whole unit object, for the drive factory
    std::string where;            // "ports[0].units[2]", for messages
};

struct PortSpec {
    int number = 0;
    std::string driver;
    std::string deviceName;
    int buses = 1;
    int initiatorId = 7;  // 255: the port has no initiator ID
    int targetsPerBus = 16;
    bool nox = false;        // driven by the Nox driver: its library serves the port (default: by driver name)
    bool noxHidden = false;  // the Nox library lists the port as hidden
    bool noxPseudo = true;   // the Nox library lists its pseudo device on the port
    // An AMI MegaRAID controller: its units are the drives behind its
    // channels (bus = channel), reached only through the miniport's
    // pass-through (default: by driver name).
    bool megaRaid = false;
    // The largest transfer the port carries in one request; 0: the simulator's own limit.
    std::uint32_t maxTransferBytes = 0;
    std::vector<UnitSpec> units;
    std::string where;

    // IDE channels answer as Windows' atapi port does and their units are
    // left unclaimed unless the file says otherwise.
    bool IsIdeChannel() const;
};

struct MachineSpec {
    std::string name;
    std::vector<PortSpec> ports;
    // The largest buffer the ASPI layer hands out; unset: its own limit.
    std::optional<std::uint32_t> aspiBufferLimit;
};

// Largest transfer a simulated port takes in one request.
constexpr int kMaxPortTransferBytes = 16 * 1024 * 1024;

// Limits of the Windows port interface.
constexpr int kMaxPortNumber = 255;
constexpr int kMaxBuses = 8;
constexpr int kMaxTargetsPerBus = 128;
constexpr int kMaxLuns = 8;
constexpr int kNoInitiator = 255;
constexpr int kMegaRaidTargets = 15;

// source names the text in messages (the file's path); defaultName is the
// machine's name when the text gives none. Throws MachineFileError.
MachineSpec ParseMachineText(const std::string& text, const std::string& source, const std::string& defaultName);

// Reads and parses a machine file; the machine is named after the file's stem
// unless it names itself. Throws MachineFileError.
MachineSpec ReadMachineFile(const std::string& path);

}  // namespace harrow::machine
