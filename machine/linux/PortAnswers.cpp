#include "machine/linux/PortAnswers.h"

#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <cstddef>
#include <cstring>
#include <string>

namespace harrow::machine {
namespace {

constexpr std::size_t kEntryHeader = offsetof(SCSI_INQUIRY_DATA, InquiryData);
constexpr std::size_t kEntrySize = kEntryHeader + sizeof(SysfsUnit::inquiry);

platform::RegistryValue TextValue(std::string name, const std::string& text)
{
    platform::RegistryValue value{std::move(name), REG_SZ, {}};
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

// Vendor, product and revision as Windows joins them: unpadded, untrimmed.
std::string Identifier(const SysfsUnit& unit)
{
    std::string text;
    for (std::size_t i = 8; i < unit.inquiry.size(); ++i) {
        const std::uint8_t c = unit.inquiry[i];
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : ' ');
    }
    return text;
}

const char* PeripheralName(std::uint8_t inquiryByte0)
{
    switch (inquiryByte0 & 0x1F) {
    case 0x00: return "DiskPeripheral";
    case 0x01: return "TapePeripheral";
    case 0x05: return "CdRomPeripheral";
    case 0x08: return "MediumChangerPeripheral";
    default: return "OtherPeripheral";
    }
}

}  // namespace

std::vector<std::uint8_t> BuildBusInfo(const SysfsHost& host)
{
    const std::size_t buses = host.BusCount();
    const std::size_t header = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + buses * sizeof(SCSI_BUS_DATA);
    std::vector<std::uint8_t> info(header + host.units.size() * kEntrySize, 0);
    info[0] = static_cast<std::uint8_t>(buses);

    std::size_t offset = header;
    for (std::size_t bus = 0; bus < buses; ++bus) {
        SCSI_BUS_DATA busData{};
        busData.InitiatorBusId = kDefaultInitiatorId;
        std::size_t previous = 0;
        for (const SysfsUnit& unit : host.units) {
            if (unit.address.channel != bus) {
                continue;
            }
            SCSI_INQUIRY_DATA entry{};
            entry.PathId = unit.address.channel;
            entry.TargetId = unit.address.target;
            entry.Lun = unit.address.lun;
            entry.DeviceClaimed = unit.claimed ? 1 : 0;
            entry.InquiryDataLength = sizeof(unit.inquiry);
            std::memcpy(info.data() + offset, &entry, kEntryHeader);
            std::memcpy(info.data() + offset + kEntryHeader, unit.inquiry.data(), unit.inquiry.size());
            const auto link = static_cast<ULONG>(offset);
            if (previous == 0) {
                busData.InquiryDataOffset = link;
            } else {
                std::memcpy(info.data() + previous + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset), &link,
                            sizeof link);
            }
            previous = offset;
            ++busData.NumberOfLogicalUnits;
            offset += kEntrySize;
        }
        std::memcpy(info.data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + bus * sizeof(SCSI_BUS_DATA),
                    &busData, sizeof busData);
    }
    return info;
}

std::vector<platform::RegistryKey> BuildDeviceMap(const SysfsTopology& topology)
{
    std::vector<platform::RegistryKey> keys;
    for (const SysfsHost& host : topology.Hosts()) {
        const std::string port = "Scsi Port " + std::to_string(host.number);
        keys.push_back({port,
                        {TextValue("Driver", host.procName),
                         TextValue("DeviceName", "ScsiPort" + std::to_string(host.number))}});
        for (unsigned bus = 0; bus < host.BusCount(); ++bus) {
            const std::string busKey = port + "\\Scsi Bus " + std::to_string(bus);
            keys.push_back({busKey, {}});
            keys.push_back({busKey + "\\Initiator Id " + std::to_string(kDefaultInitiatorId), {}});
            std::string lastTarget;
            for (const SysfsUnit& unit : host.units) {
                if (unit.address.channel != bus) {
                    continue;
                }
                const std::string target = busKey + "\\Target Id " + std::to_string(unit.address.target);
                if (target != lastTarget) {
                    keys.push_back({target, {}});
                    lastTarget = target;
                }
                keys.push_back({target + "\\Logical Unit Id " + std::to_string(unit.address.lun),
                                {TextValue("Identifier", Identifier(unit)),
                                 TextValue("Type", PeripheralName(unit.inquiry[0]))}});
            }
        }
    }
    return keys;
}

}  // namespace harrow::machine
