// The log pages a disk keeps about its wear, its port and its health: what a
// drive tool reads to judge whether the drive is failing.
#pragma once

#include "machine/drives/UnitConfig.h"
#include "machine/drives/UnitState.h"

#include <cstdint>
#include <vector>

namespace harrow::machine::drives {

// The informational exception a failing drive predicts (SPC-4: hardware
// impending failure, general hard drive failure).
inline constexpr std::uint8_t kPredictionAsc = 0x5D;
inline constexpr std::uint8_t kPredictionAscq = 0x10;

// Counts that rise with the drive's power-on time (the risingErrors fault).
struct RisenErrors {
    std::uint64_t corrected = 0;
    std::uint64_t uncorrected = 0;
};
RisenErrors ErrorsAt(const UnitConfig& config, std::uint32_t powerOnMinutes);

// A disk of another maker is a SAS drive and reports its port (page 18h).
bool HasSasPort(const UnitConfig& config);

// Page 06h: non-medium errors.
std::vector<std::uint8_t> NonMediumErrorPage(std::uint16_t pointer);
// Page 0Eh: dates and start-stop and load-unload cycles (SBC-3).
std::vector<std::uint8_t> StartStopPage(const UnitConfig& config, std::uint32_t powerOnMinutes,
                                        std::uint16_t pointer);
// Page 15h: scan status and one entry per block the scans found bad (SBC-3).
std::vector<std::uint8_t> BackgroundScanPage(const UnitConfig& config, const UnitState& state,
                                             std::uint32_t powerOnMinutes, std::uint16_t pointer);
// Page 18h: one SAS port with one phy (SPL).
std::vector<std::uint8_t> ProtocolPortPage(const UnitConfig& config, std::uint16_t pointer);
// Page 2Fh: the pending exception, the temperature and its reference.
std::vector<std::uint8_t> InformationalExceptionsPage(const UnitConfig& config, std::uint16_t pointer);

// The self-test log entry of the failedSelfTestEntry fault.
SelfTestEntry LoggedFailure(const UnitConfig& config);

}  // namespace harrow::machine::drives
