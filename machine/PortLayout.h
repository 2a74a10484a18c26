// What a SCSI port reports about its units: the bus list of
// IOCTL_SCSI_GET_INQUIRY_DATA and the device map keys Windows writes at boot.
// Any machine whose ports answer like Windows' port driver can use these.
#pragma once

#include "platform/DeviceNamespace.h"
#include "platform/WinTypes.h"

#include <array>
#include <string>
#include <vector>

namespace harrow::machine {

constexpr DWORD kInquiryDataLength = 36;

struct ListedUnit {
    UCHAR pathId = 0;
    UCHAR targetId = 0;
    UCHAR lun = 0;
    bool claimed = false;
    std::array<BYTE, kInquiryDataLength> inquiry{};
};

struct ListedPort {
    int number = 0;
    std::string driver;
    std::string deviceName;
    int buses = 1;
    UCHAR initiatorId = 7;
    std::vector<ListedUnit> units;  // any order
};

// SCSI_ADAPTER_BUS_INFO, its bus entries and the SCSI_INQUIRY_DATA chains,
// laid out as Windows lays them out (entries 4-byte aligned, offsets from the
// start, units by bus, then target, then LUN).
std::vector<BYTE> BuildBusInfo(const ListedPort& port);

// "DiskPeripheral", "TapePeripheral", ... for an INQUIRY peripheral type.
std::string PeripheralTypeName(UCHAR peripheralType);

// Whether the INQUIRY data says there is a unit at all (qualifier 3 or type
// 0x1F mean none); a port leaves such LUNs out of its lists.
bool InquiryShowsUnit(const std::array<BYTE, kInquiryDataLength>& inquiry);

// The device map keys of one port: "Scsi Port N" with "Driver" and
// "DeviceName", "Scsi Bus B", "Initiator Id I", "Target Id T" and
// "Logical Unit Id L" with "Identifier" and "Type".
std::vector<platform::RegistryKey> DeviceMapKeys(const ListedPort& port);

}  // namespace harrow::machine
