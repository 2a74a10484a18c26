#include "FakeSysfs.h"
#include "machine/linux/LinuxMachine.h"
#include "machine/linux/SysfsMachine.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <gtest/gtest.h>

#include <cstring>

namespace harrow::machine {
namespace {

using testing::FakeSysfs;
using testing::FakeUnit;
using testing::InquiryBytes;

int NoSgIo(const std::string&, sg_io_hdr&) { return ENOSYS; }

// Three hosts numbered so that text order and number order differ, with
// units of every class, one unclaimed disk, an enclosure and units whose
// numbers do not fit the Windows address.
class SysfsMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(0, "ahci");
        fake.AddUnit("0:0:0:0", FakeUnit()
                                    .Inquiry(InquiryBytes(0, "KESTREL ", "KX18LVD         ", "K100") +
                                             std::string(60, 'x'))
                                    .Driver("sd")
                                    .Sg("sg0"));
        fake.AddUnit("0:0:1:0", FakeUnit().Type(5).Names("HL-DT-ST", "DVDRAM GH24NSD1 ", "LG00").Driver("sr").Sg("sg1"));
        fake.AddHost(2, "mpt3sas");
        fake.AddUnit("2:0:3:0", FakeUnit().Driver("sd").Sg("sg3"));
        fake.AddUnit("2:0:3:1", FakeUnit().Sg("sg4"));
        fake.AddUnit("2:0:5:0", FakeUnit().Type(8).Names("HARROW  ", "SIM CHANGER     ").Sg("sg5"));
        fake.AddUnit("2:0:6:0", FakeUnit().Type(13).Driver("ses").Sg("sg6"));
        fake.AddUnit("2:1:0:0", FakeUnit().Type(1).Names("HARROW  ", "SIM TAPE        ").Driver("st").Sg("sg7"));
        fake.AddUnit("2:0:0:300", FakeUnit().Driver("sd"));
        fake.AddHost(10, "usb-storage");
        fake.AddUnit("10:0:0:0", FakeUnit().Driver("sd").Sg("sg8"));
        fake.AddHost(300, "far");
        std::filesystem::create_directories(fake.Sys() / "bus" / "scsi" / "devices" / "host2");
        std::filesystem::create_directories(fake.Sys() / "bus" / "scsi" / "devices" / "target2:0:3");
    }

    std::unique_ptr<platform::Device> Open(const std::string& name, DWORD* error)
    {
        return machine.Open(name, 0, error);
    }

    FakeSysfs fake;
    SysfsMachine machine{fake.Sys(), fake.Dev(), NoSgIo};
};

std::string Text(const platform::RegistryValue& value)
{
    EXPECT_EQ(value.type, REG_SZ);
    EXPECT_EQ(value.data.back(), 0) << value.name << " is not terminated";
    return std::string(value.data.begin(), value.data.end() - 1);
}

const platform::RegistryKey* FindKey(const std::vector<platform::RegistryKey>& keys, const std::string& path)
{
    for (const auto& key : keys) {
        if (key.path == path) {
            return &key;
        }
    }
    return nullptr;
}

TEST_F(SysfsMachineTest, DeviceMapMirrorsWindowsKeys)
{
    const auto keys = machine.DeviceMap();
    std::vector<std::string> paths;
    for (const auto& key : keys) {
        paths.push_back(key.path);
    }
    const std::vector<std::string> expected{
        "Scsi Port 0",
        "Scsi Port 0\\Scsi Bus 0",
        "Scsi Port 0\\Scsi Bus 0\\Initiator Id 7",
        "Scsi Port 0\\Scsi Bus 0\\Target Id 0",
        "Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0",
        "Scsi Port 0\\Scsi Bus 0\\Target Id 1",
        "Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0",
        "Scsi Port 2",
        "Scsi Port 2\\Scsi Bus 0",
        "Scsi Port 2\\Scsi Bus 0\\Initiator Id 7",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 3",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 3\\Logical Unit Id 0",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 3\\Logical Unit Id 1",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 5",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 5\\Logical Unit Id 0",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 6",
        "Scsi Port 2\\Scsi Bus 0\\Target Id 6\\Logical Unit Id 0",
        "Scsi Port 2\\Scsi Bus 1",
        "Scsi Port 2\\Scsi Bus 1\\Initiator Id 7",
        "Scsi Port 2\\Scsi Bus 1\\Target Id 0",
        "Scsi Port 2\\Scsi Bus 1\\Target Id 0\\Logical Unit Id 0",
        "Scsi Port 10",
        "Scsi Port 10\\Scsi Bus 0",
        "Scsi Port 10\\Scsi Bus 0\\Initiator Id 7",
        "Scsi Port 10\\Scsi Bus 0\\Target Id 0",
        "Scsi Port 10\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0",
    };
    EXPECT_EQ(paths, expected);

    const auto* port = FindKey(keys, "Scsi Port 2");
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->values.size(), 2u);
    EXPECT_EQ(port->values[0].name, "Driver");
    EXPECT_EQ(Text(port->values[0]), "mpt3sas");
    EXPECT_EQ(port->values[1].name, "DeviceName");
    EXPECT_EQ(Text(port->values[1]), "ScsiPort2");

    const auto expectUnit = [&](const std::string& path, const std::string& identifier, const std::string& type) {
        const auto* unit = FindKey(keys, path);
        ASSERT_NE(unit, nullptr) << path;
        ASSERT_EQ(unit->values.size(), 2u);
        EXPECT_EQ(unit->values[0].name, "Identifier");
        EXPECT_EQ(Text(unit->values[0]), identifier) << path;
        EXPECT_EQ(unit->values[1].name, "Type");
        EXPECT_EQ(Text(unit->values[1]), type) << path;
    };
    expectUnit("Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "KESTREL KX18LVD         K100",
               "DiskPeripheral");
    expectUnit("Scsi Port 0\\Scsi Bus 0\\Target Id 1\\Logical Unit Id 0", "HL-DT-STDVDRAM GH24NSD1 LG00",
               "CdRomPeripheral");
    expectUnit("Scsi Port 2\\Scsi Bus 0\\Target Id 5\\Logical Unit Id 0", "HARROW  SIM CHANGER     K100",
               "MediumChangerPeripheral");
    expectUnit("Scsi Port 2\\Scsi Bus 0\\Target Id 6\\Logical Unit Id 0", "KESTREL KX18LVD         K100",
               "OtherPeripheral");
    expectUnit("Scsi Port 2\\Scsi Bus 1\\Target Id 0\\Logical Unit Id 0", "HARROW  SIM TAPE        K100",
               "TapePeripheral");
}

// Walks the bus list the way the port transport does.
struct ListedUnit {
    int bus, path, target, lun;
    bool claimed;
    std::string inquiry;
};

std::vector<ListedUnit> WalkBusList(const std::vector<BYTE>& buffer, int* buses)
{
    std::vector<ListedUnit> units;
    *buses = buffer[0];
    for (int bus = 0; bus < *buses; ++bus) {
        SCSI_BUS_DATA busData;
        std::memcpy(&busData, buffer.data() + 4 + bus * sizeof busData, sizeof busData);
        int count = 0;
        for (ULONG offset = busData.InquiryDataOffset; offset != 0;) {
            SCSI_INQUIRY_DATA entry;
            std::memcpy(&entry, buffer.data() + offset, offsetof(SCSI_INQUIRY_DATA, InquiryData));
            EXPECT_EQ(entry.InquiryDataLength, 36u);
            const auto* inquiry = reinterpret_cast<const char*>(buffer.data() + offset + 12);
            units.push_back({bus, entry.PathId, entry.TargetId, entry.Lun, entry.DeviceClaimed != 0,
                             std::string(inquiry, 36)});
            offset = entry.NextInquiryDataOffset;
            ++count;
        }
        EXPECT_EQ(busData.NumberOfLogicalUnits, count);
        EXPECT_EQ(busData.InitiatorBusId, 7);
    }
    return units;
}

TEST_F(SysfsMachineTest, BusListChainsEveryUnitWithClaimsAndInquiry)
{
    DWORD error = 0;
    auto port = Open("SCSI2:", &error);
    ASSERT_NE(port, nullptr);
    std::vector<BYTE> buffer(20480, 0xEE);
    DWORD returned = 0;
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned, &error));
    int buses = 0;
    const auto units = WalkBusList(buffer, &buses);
    EXPECT_EQ(buses, 2);
    ASSERT_EQ(units.size(), 5u);
    EXPECT_EQ(returned, 4 + 2 * 8 + 5 * 48u);
    const auto expectUnit = [&](std::size_t i, int bus, int target, int lun, bool claimed) {
        EXPECT_EQ(units[i].bus, bus);
        EXPECT_EQ(units[i].path, bus);
        EXPECT_EQ(units[i].target, target);
        EXPECT_EQ(units[i].lun, lun);
        EXPECT_EQ(units[i].claimed, claimed) << i;
    };
    expectUnit(0, 0, 3, 0, true);
    expectUnit(1, 0, 3, 1, false);  // no class driver bound
    expectUnit(2, 0, 5, 0, false);  // changer without the ch driver
    expectUnit(3, 0, 6, 0, false);  // enclosure: no Windows class device
    expectUnit(4, 1, 0, 0, true);
    // Without the kernel's copy the data is rebuilt from the attributes.
    EXPECT_EQ(units[4].inquiry, std::string("\x01\x00\x00\x02\x1f\x00\x00\x00", 8) + "HARROW  SIM TAPE        K100");

    auto first = Open("SCSI0:", &error);
    ASSERT_TRUE(first->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned, &error));
    const auto hostZero = WalkBusList(buffer, &buses);
    ASSERT_EQ(hostZero.size(), 2u);
    EXPECT_EQ(hostZero[0].inquiry, InquiryBytes(0, "KESTREL ", "KX18LVD         ", "K100"));

    error = 0;
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 259, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(SysfsMachineTest, NamesOpenPortsAndClassDevicesInAddressOrder)
{
    const auto addressOf = [&](const std::string& name) -> std::string {
        DWORD error = 0;
        auto device = Open(name, &error);
        if (!device) {
            return "error " + std::to_string(error);
        }
        SCSI_ADDRESS address{};
        DWORD returned = 0;
        if (!device->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned, &error)) {
            return "ioctl error " + std::to_string(error);
        }
        EXPECT_EQ(returned, 8u);
        EXPECT_EQ(address.Length, 8u);
        return std::to_string(address.PortNumber) + ":" + std::to_string(address.PathId) + ":" +
               std::to_string(address.TargetId) + ":" + std::to_string(address.Lun);
    };
    EXPECT_EQ(addressOf("PhysicalDrive0"), "0:0:0:0");
    EXPECT_EQ(addressOf("physicaldrive1"), "2:0:3:0");
    EXPECT_EQ(addressOf("PHYSICALDRIVE2"), "10:0:0:0");
    EXPECT_EQ(addressOf("PhysicalDrive3"), "error 2");
    EXPECT_EQ(addressOf("PhysicalDrive01"), "error 2");
    EXPECT_EQ(addressOf("CdRom0"), "0:0:1:0");
    EXPECT_EQ(addressOf("Tape0"), "2:1:0:0");
    EXPECT_EQ(addressOf("MediaChanger0"), "2:0:5:0");
    EXPECT_EQ(addressOf("MediaChanger1"), "error 2");
    EXPECT_EQ(addressOf("PhysicalDrive"), "error 2");
    EXPECT_EQ(addressOf("Nonsense"), "error 2");

    DWORD error = 0;
    EXPECT_NE(Open("SCSI0:", &error), nullptr);
    EXPECT_NE(Open("scsi10:", &error), nullptr);
    for (const char* absent : {"SCSI1:", "SCSI0", "SCSI300:", "SCSI:", "SCSI-1:", "SCSI2:x"}) {
        error = 0;
        EXPECT_EQ(Open(absent, &error), nullptr) << absent;
        EXPECT_EQ(error, ERROR_FILE_NOT_FOUND) << absent;
    }

    auto disk = Open("PhysicalDrive0", &error);
    BYTE small[7];
    DWORD returned = 0;
    EXPECT_FALSE(disk->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, small, sizeof small, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(disk->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, small, sizeof small, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

TEST_F(SysfsMachineTest, PortCapabilitiesAndRescan)
{
    FakeSysfs::Write(fake.HostDir(2) / "sg_tablesize", "64\n");
    DWORD error = 0;
    auto port = Open("SCSI2:", &error);
    IO_SCSI_CAPABILITIES capabilities{};
    DWORD returned = 0;
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &capabilities, 24, &returned, &error));
    EXPECT_EQ(returned, 24u);
    EXPECT_EQ(capabilities.Length, 24u);
    EXPECT_EQ(capabilities.MaximumPhysicalPages, 64u);
    EXPECT_EQ(capabilities.MaximumTransferLength, 64u * 4096);
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &capabilities, 23, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);

    std::vector<BYTE> out(2048);
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(FakeSysfs::Read(fake.HostDir(2) / "scan"), "- - -");

    std::filesystem::remove(fake.HostDir(2) / "scan");
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    // A host that went away since the port was opened.
    std::filesystem::remove_all(fake.HostDir(2));
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
}

TEST(LinuxMachineTest, NoScsiHostsIsAnEmptyMachine)
{
    SysfsMachine machine("/nonexistent/sys", "/nonexistent/dev", NoSgIo);
    EXPECT_TRUE(machine.DeviceMap().empty());
    DWORD error = 0;
    EXPECT_EQ(machine.Open("SCSI0:", 0, &error), nullptr);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    // The real tree: whatever this computer has, reading it is not an error.
    const auto real = MakeLinuxMachine();
    const auto keys = real->DeviceMap();
    const bool hasPortZero = FindKey(keys, "Scsi Port 0") != nullptr;
    EXPECT_EQ(real->Open("SCSI0:", 0, &error) != nullptr, hasPortZero);
}

}  // namespace
}  // namespace harrow::machine
