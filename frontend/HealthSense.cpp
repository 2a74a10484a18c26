#include "frontend/HealthSense.h"

#include "frontend/DriveHealth.h"
#include "frontend/TextFormat.h"

SenseCodes CodesOf(const SenseView& sense)
{
    return SenseCodes{static_cast<std::uint8_t>(sense.Key()), static_cast<std::uint8_t>(sense.Asc()),
                      static_cast<std::uint8_t>(sense.Ascq())};
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
