#include "machine/PortLayout.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace harrow::machine;

namespace {

ListedUnit Unit(UCHAR path, UCHAR target, UCHAR lun, UCHAR type, bool claimed, const char* name = "")
{
    ListedUnit unit{path, target, lun, claimed, {}};
    unit.inquiry[0] = type;
    std::memset(&unit.inquiry[8], ' ', 28);
    std::memcpy(&unit.inquiry[8], name, std::strlen(name));
    return unit;
}

DWORD Dword(const std::vector<BYTE>& bytes, std::size_t at)
{
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<DWORD>(bytes[at + 3]) << 24;
}

std::string Text(const harrow::platform::RegistryValue& value)
{
    EXPECT_EQ(value.type, REG_SZ);
    EXPECT_FALSE(value.data.empty());
    EXPECT_EQ(value.data.back(), 0) << "REG_SZ data keeps its terminating NUL";
    return std::string(value.data.begin(), value.data.end() - 1);
}

}  // namespace

TEST(BusInfo, LaysOutBusesAndChainsByteForByte)
{
    ListedPort port;
    port.buses = 3;
    port.initiatorId = 7;
    port.units = {Unit(2, 5, 0, 1, false, "TAPE"), Unit(0, 1, 0, 5, true), Unit(0, 0, 0, 0, true, "KESTREL")};
    const std::vector<BYTE> bytes = BuildBusInfo(port);

    ASSERT_EQ(bytes.size(), 28u + 3 * 48);
    EXPECT_EQ(bytes[0], 3);
    // Bus 0: two units, chain from 28; bus 1: none; bus 2: one unit at 124.
    EXPECT_EQ(bytes[4], 2);
    EXPECT_EQ(bytes[5], 7);
    EXPECT_EQ(Dword(bytes, 8), 28u);
    EXPECT_EQ(bytes[12], 0);
    EXPECT_EQ(bytes[13], 7);
    EXPECT_EQ(Dword(bytes, 16), 0u);
    EXPECT_EQ(bytes[20], 1);
    EXPECT_EQ(Dword(bytes, 24), 124u);

    struct Expected {
        std::size_t at;
        UCHAR path, target, lun, claimed;
        DWORD next;
        UCHAR type;
    };
    for (const Expected& e : {Expected{28, 0, 0, 0, 1, 76, 0}, Expected{76, 0, 1, 0, 1, 0, 5},
                              Expected{124, 2, 5, 0, 0, 0, 1}}) {
        SCOPED_TRACE(e.at);
        EXPECT_EQ(bytes[e.at], e.path);
        EXPECT_EQ(bytes[e.at + 1], e.target);
        EXPECT_EQ(bytes[e.at + 2], e.lun);
        EXPECT_EQ(bytes[e.at + 3], e.claimed);
        EXPECT_EQ(Dword(bytes, e.at + 4), 36u);
        EXPECT_EQ(Dword(bytes, e.at + 8), e.next);
        EXPECT_EQ(bytes[e.at + 12], e.type);
    }
    EXPECT_EQ(std::string(bytes.begin() + 28 + 12 + 8, bytes.begin() + 28 + 12 + 15), "KESTREL");
}

TEST(BusInfo, PortWithoutUnitsHasEmptyBuses)
{
    ListedPort port;
    port.initiatorId = 255;
    const std::vector<BYTE> bytes = BuildBusInfo(port);
    EXPECT_EQ(bytes, (std::vector<BYTE>{1, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0}));
}

TEST(DeviceMap, WritesPortBusInitiatorTargetAndUnitKeys)
{
    ListedPort port;
    port.number = 2;
    port.driver = "symmpi";
    port.deviceName = "LSI53C1030";
    port.buses = 2;
    port.initiatorId = 7;
    port.units = {Unit(1, 3, 1, 8, true, "HARROW  SIM CHANGER"), Unit(0, 1, 0, 0, true, "KESTREL KX18LVD         K100"),
                  Unit(1, 3, 0, 5, true, "HARROW  SIM CDROM")};
    port.units[1].inquiry[35] = 0x01;  // not printable: stored as a space
    const auto keys = DeviceMapKeys(port);

    std::vector<std::string> paths;
    for (const auto& key : keys) {
        paths.push_back(key.path);
    }
    EXPECT_EQ(paths, (std::vector<std::string>{
                         "Scsi Port 2",
                         "Scsi Port 2\\Scsi Bus 0",
                         "Scsi Port 2\\Scsi Bus 0\\Initiator Id 7",
                         "Scsi Port 2\\Scsi Bus 0\\Target Id 1",
                         "Scsi Port 2\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0",
                         "Scsi Port 2\\Scsi Bus 1",
                         "Scsi Port 2\\Scsi Bus 1\\Initiator Id 7",
                         "Scsi Port 2\\Scsi Bus 1\\Target Id 3",
                         "Scsi Port 2\\Scsi Bus 1\\Target Id 3\\Logical Unit Id 0",
                         "Scsi Port 2\\Scsi Bus 1\\Target Id 3\\Logical Unit Id 1",
                     }));
    ASSERT_EQ(keys[0].values.size(), 2u);
    EXPECT_EQ(keys[0].values[0].name, "Driver");
    EXPECT_EQ(Text(keys[0].values[0]), "symmpi");
    EXPECT_EQ(keys[0].values[1].name, "DeviceName");
    EXPECT_EQ(Text(keys[0].values[1]), "LSI53C1030");
    EXPECT_TRUE(keys[1].values.empty());

    const auto& disk = keys[4].values;
    ASSERT_EQ(disk.size(), 2u);
    EXPECT_EQ(disk[0].name, "Identifier");
    EXPECT_EQ(Text(disk[0]), "KESTREL KX18LVD         K10 ");
    EXPECT_EQ(disk[1].name, "Type");
    EXPECT_EQ(Text(disk[1]), "DiskPeripheral");
    EXPECT_EQ(Text(keys[8].values[1]), "CdRomPeripheral");
    EXPECT_EQ(Text(keys[9].values[1]), "MediumChangerPeripheral");
}

TEST(DeviceMap, PeripheralNamesAndAbsentUnits)
{
    EXPECT_EQ(PeripheralTypeName(1), "TapePeripheral");
    EXPECT_EQ(PeripheralTypeName(0x1E), "OtherPeripheral");
    std::array<BYTE, kInquiryDataLength> inquiry{};
    EXPECT_TRUE(InquiryShowsUnit(inquiry));
    inquiry[0] = 0x7F;
    EXPECT_FALSE(InquiryShowsUnit(inquiry));
    inquiry[0] = 0x60;  // qualifier 3: no unit at this LUN
    EXPECT_FALSE(InquiryShowsUnit(inquiry));
}
