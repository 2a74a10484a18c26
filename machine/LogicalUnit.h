// A logical unit behind a simulated or real port: it executes one CDB the
// way a drive does and reports what the port sees.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace harrow::machine {

enum class DataDirection { None, In, Out };

struct ScsiRequest {
    std::span<const std::uint8_t> cdb;
    DataDirection direction = DataDirection::None;
    std::span<std::uint8_t> data;  // the whole host buffer, DataTransferLength bytes
    std::uint32_t timeoutSeconds = 30;
};

// What the port reports besides the target's status: a request that never
// reached the target (selection time-out) or a target that was busy.
enum class PortOutcome { Delivered, SelectionTimeout, Busy };

struct ScsiResult {
    PortOutcome outcome = PortOutcome::Delivered;
    std::uint8_t status = 0;        // SCSI status byte: 0x00 GOOD, 0x02 CHECK CONDITION, 0x08 BUSY
    std::uint32_t transferred = 0;  // bytes actually moved; residual = request length - transferred
    std::array<std::uint8_t, 252> sense{};
    std::uint8_t senseLength = 0;   // valid bytes of sense (fixed format 0x70: 18 and more)
};

class LogicalUnit {
public:
    virtual ~LogicalUnit() = default;
    virtual ScsiResult Execute(const ScsiRequest& request) = 0;
    // True when Execute already runs one command at a time, so a port need
    // not hold a lock of its own around it.
    virtual bool SerializesCommands() const { return false; }
    // How long the unit takes over each command, unscaled; commands in flight overlap.
    virtual double ServiceSeconds() const { return 0; }
};

}  // namespace harrow::machine
