#pragma once

#include "frontend/CommandRoutine.h"
#include "frontend/DeviceRecord.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

struct SenseCodes;

// The commands the health report and the self test send, built once.
struct ScsiCommand {
    std::array<std::uint8_t, 16> cdb{};
    int length = 0;
};

constexpr std::uint32_t SENSE_REPLY_BYTES = 252;

ScsiCommand InquiryCommand(std::uint32_t allocation);
ScsiCommand VpdInquiryCommand(std::uint8_t page, std::uint32_t allocation);
// LOG SENSE of the page's cumulative values (page control 01b).
ScsiCommand LogSenseCommand(int page, std::uint32_t allocation);
ScsiCommand RequestSenseCommand(std::uint32_t allocation);
// READ DEFECT DATA (12 or 10) of the grown list in the bytes-from-index format.
ScsiCommand ReadDefectDataCommand(bool twelve, std::uint32_t allocation);
// SEND DIAGNOSTIC with a self-test code (SPC-4 table 219), no parameter list.
ScsiCommand SendDiagnosticCommand(std::uint8_t selfTestCode);

// Sends a data-in command (or one without data) without the error report.
CdbAnswer SendScsiCommand(const DeviceRecord& record, const ScsiCommand& command, std::uint8_t* data,
                          std::uint32_t length, long timeout);

// Key, ASC and ASCQ of the sense data a failed command left.
SenseCodes SenseOf(const CdbAnswer& answer);
// The same from sense bytes in either format (SPC-4 4.5).
SenseCodes SenseOfBytes(std::span<const std::uint8_t> sense);

// "HA:TAR:LUN", or the longer forms of drives behind RAID controllers.
std::string DeviceAddressText(const DeviceRecord& record);
