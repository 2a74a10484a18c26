#include "frontend/HealthCommands.h"

#include "frontend/DriveHealth.h"
#include "frontend/TextFormat.h"

namespace {

constexpr std::uint8_t INQUIRY = 0x12;
constexpr std::uint8_t LOG_SENSE = 0x4D;
constexpr std::uint8_t REQUEST_SENSE = 0x03;
constexpr std::uint8_t READ_DEFECT_DATA_10 = 0x37;
constexpr std::uint8_t READ_DEFECT_DATA_12 = 0xB7;
constexpr std::uint8_t SEND_DIAGNOSTIC = 0x1D;
constexpr std::uint8_t CUMULATIVE_VALUES = 0x40;
constexpr std::uint8_t GROWN_BYTES_FROM_INDEX = 0x0C;

void PutBigEndian(ScsiCommand& command, int at, int width, std::uint32_t value)
{
    for (int i = 0; i < width; ++i) {
        command.cdb[static_cast<std::size_t>(at + width - 1 - i)] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

ScsiCommand InquiryCommand(std::uint32_t allocation)
{
    ScsiCommand command{{INQUIRY}, 6};
    PutBigEndian(command, 3, 2, allocation);
    return command;
}

ScsiCommand VpdInquiryCommand(std::uint8_t page, std::uint32_t allocation)
{
    ScsiCommand command = InquiryCommand(allocation);
    command.cdb[1] = 0x01;
    command.cdb[2] = page;
    return command;
}

ScsiCommand LogSenseCommand(int page, std::uint32_t allocation)
{
    ScsiCommand command{{LOG_SENSE}, 10};
    command.cdb[2] = static_cast<std::uint8_t>(CUMULATIVE_VALUES | (page & 0x3F));
    PutBigEndian(command, 7, 2, allocation);
    return command;
}

ScsiCommand RequestSenseCommand(std::uint32_t allocation)
{
    ScsiCommand command{{REQUEST_SENSE}, 6};
    command.cdb[4] = static_cast<std::uint8_t>(allocation);
    return command;
}

ScsiCommand ReadDefectDataCommand(bool twelve, std::uint32_t allocation)
{
    if (twelve) {
        ScsiCommand command{{READ_DEFECT_DATA_12, GROWN_BYTES_FROM_INDEX}, 12};
        PutBigEndian(command, 6, 4, allocation);
        return command;
    }
    ScsiCommand command{{READ_DEFECT_DATA_10, 0, GROWN_BYTES_FROM_INDEX}, 10};
    PutBigEndian(command, 7, 2, allocation);
    return command;
}

ScsiCommand SendDiagnosticCommand(std::uint8_t selfTestCode)
{
    ScsiCommand command{{SEND_DIAGNOSTIC}, 6};
    command.cdb[1] = static_cast<std::uint8_t>(selfTestCode << 5);
    return command;
}

CdbAnswer SendScsiCommand(const DeviceRecord& record, const ScsiCommand& command, std::uint8_t* data,
                          std::uint32_t length, long timeout)
{
    return SendCdb(record, command.cdb.data(), command.length, data, length, DIRECTION_IN, timeout);
}

SenseCodes SenseOf(const CdbAnswer& answer)
{
    return SenseOfBytes(std::span<const std::uint8_t>(answer.Sense(), RECORD_SENSE_BYTES));
}

SenseCodes SenseOfBytes(std::span<const std::uint8_t> sense)
{
    SenseCodes codes;
    if (sense.size() < 14) {
        return codes;
    }
    const int response = sense[0] & 0x7F;
    if (response == 0x72 || response == 0x73) {
        codes.key = sense[1] & 0x0F;
        codes.asc = sense[2];
        codes.ascq = sense[3];
    } else {
        codes.key = sense[2] & 0x0F;
        codes.asc = sense[12];
        codes.ascq = sense[13];
    }
    return codes;
}

std::string DeviceAddressText(const DeviceRecord& record)
{
    switch (record.kind) {
    case KIND_RAID:
        return Format("%d:%d:%d:%d:%d", record.hostAdapter, record.raidTarget, record.channel, record.target,
                      record.lun);
    case KIND_CHANNEL_ALT:
    case KIND_CHANNEL: return Format("%d:%d:%d:%d", record.hostAdapter, record.channel, record.target, record.lun);
    default: return Format("%d:%d:%d", record.hostAdapter, record.target, record.lun);
    }
}
