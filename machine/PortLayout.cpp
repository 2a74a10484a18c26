#include "machine/PortLayout.h"

#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <algorithm>
#include <cstring>
#include <tuple>

namespace harrow::machine {
namespace {

constexpr DWORD kEntrySize = (offsetof(SCSI_INQUIRY_DATA, InquiryData) + kInquiryDataLength + 3) & ~DWORD{3};

std::vector<ListedUnit> SortedUnits(const ListedPort& port)
{
    std::vector<ListedUnit> units = port.units;
    std::sort(units.begin(), units.end(), [](const ListedUnit& a, const ListedUnit& b) {
        return std::tie(a.pathId, a.targetId, a.lun) < std::tie(b.pathId, b.targetId, b.lun);
    });
    return units;
}

platform::RegistryValue StringValue(const std::string& name, const std::string& text)
{
    platform::RegistryValue value{name, REG_SZ, {}};
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

// Vendor, product and revision as one string; bytes a registry string cannot
// hold become spaces.
std::string Identifier(const std::array<BYTE, kInquiryDataLength>& inquiry)
{
    std::string text(inquiry.begin() + 8, inquiry.end());
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) {
            c = ' ';
        }
    }
    return text;
}

}  // namespace

std::vector<BYTE> BuildBusInfo(const ListedPort& port)
{
    const std::vector<ListedUnit> units = SortedUnits(port);
    const DWORD header = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + sizeof(SCSI_BUS_DATA) * port.buses;
    std::vector<BYTE> bytes(header + kEntrySize * units.size(), 0);
    bytes[offsetof(SCSI_ADAPTER_BUS_INFO, NumberOfBuses)] = static_cast<BYTE>(port.buses);

    DWORD next = header;
    for (int bus = 0; bus < port.buses; ++bus) {
        SCSI_BUS_DATA busData{};
        busData.InitiatorBusId = port.initiatorId;
        SCSI_INQUIRY_DATA previous{};
        DWORD previousAt = 0;
        for (const ListedUnit& unit : units) {
            if (unit.pathId != bus) {
                continue;
            }
            if (busData.NumberOfLogicalUnits == 0) {
                busData.InquiryDataOffset = next;
            } else {
                previous.NextInquiryDataOffset = next;
                std::memcpy(&bytes[previousAt], &previous, offsetof(SCSI_INQUIRY_DATA, InquiryData));
            }
            ++busData.NumberOfLogicalUnits;
            SCSI_INQUIRY_DATA entry{};
            entry.PathId = unit.pathId;
            entry.TargetId = unit.targetId;
            entry.Lun = unit.lun;
            entry.DeviceClaimed = unit.claimed ? 1 : 0;
            entry.InquiryDataLength = kInquiryDataLength;
            std::memcpy(&bytes[next], &entry, offsetof(SCSI_INQUIRY_DATA, InquiryData));
            std::memcpy(&bytes[next + offsetof(SCSI_INQUIRY_DATA, InquiryData)], unit.inquiry.data(),
                        kInquiryDataLength);
            previous = entry;
            previousAt = next;
            next += kEntrySize;
        }
        std::memcpy(&bytes[offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + sizeof(SCSI_BUS_DATA) * bus], &busData,
                    sizeof busData);
    }
    return bytes;
}

std::string PeripheralTypeName(UCHAR peripheralType)
{
    static const char* const names[] = {
        "DiskPeripheral",          "TapePeripheral",          "PrinterPeripheral",
        "OtherPeripheral",         "WormPeripheral",          "CdRomPeripheral",
        "ScannerPeripheral",       "OpticalDiskPeripheral",   "MediumChangerPeripheral",
        "CommunicationsPeripheral", "ASCPrePressGraphicsPeripheral", "ASCPrePressGraphicsPeripheral",
        "ArrayPeripheral",         "EnclosurePeripheral",     "RBCPeripheral",
        "CardReaderPeripheral",    "BridgePeripheral",
    };
    return peripheralType < std::size(names) ? names[peripheralType] : "OtherPeripheral";
}

bool InquiryShowsUnit(const std::array<BYTE, kInquiryDataLength>& inquiry)
{
    return (inquiry[0] >> 5) != 3 && (inquiry[0] & 0x1F) != 0x1F;
}

std::vector<platform::RegistryKey> DeviceMapKeys(const ListedPort& port)
{
    const std::string portKey = "Scsi Port " + std::to_string(port.number);
    std::vector<platform::RegistryKey> keys;
    keys.push_back({portKey, {StringValue("Driver", port.driver), StringValue("DeviceName", port.deviceName)}});
    const std::vector<ListedUnit> units = SortedUnits(port);
    for (int bus = 0; bus < port.buses; ++bus) {
        const std::string busKey = portKey + "\\Scsi Bus " + std::to_string(bus);
        keys.push_back({busKey, {}});
        keys.push_back({busKey + "\\Initiator Id " + std::to_string(port.initiatorId), {}});
        int lastTarget = -1;
        for (const ListedUnit& unit : units) {
            if (unit.pathId != bus) {
                continue;
            }
            const std::string targetKey = busKey + "\\Target Id " + std::to_string(unit.targetId);
            if (unit.targetId != lastTarget) {
                keys.push_back({targetKey, {}});
                lastTarget = unit.targetId;
            }
            keys.push_back({targetKey + "\\Logical Unit Id " + std::to_string(unit.lun),
                            {StringValue("Identifier", Identifier(unit.inquiry)),
                             StringValue("Type", PeripheralTypeName(unit.inquiry[0] & 0x1F))}});
        }
    }
    return keys;
}

}  // namespace harrow::machine
