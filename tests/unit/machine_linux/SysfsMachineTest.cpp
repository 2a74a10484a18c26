#include "FakeSysfs.h"
#include "machine/linux/LinuxMachine.h"
#include "machine/linux/SysfsMachine.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <tuple>

namespace harrow::machine {
namespace {

using testing::FakeSysfs;
using testing::FakeUnit;

using testing::NoSgIo;

const std::string kKestrelInquiry = std::string("\0\0\5\x12\x1f\0\0\0", 8) + "KESTREL KX18LVD         K100";

// Hosts numbered with gaps and so that text and number order differ, units of
// every class, an unclaimed disk, an enclosure, high targets, three channels
// of one host, and numbers a Windows address cannot hold. Ports: 0 host0,
// 1 host2, 2 host2:1, 3 host2:16, 4 host10.
class SysfsMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(0, "ahci");
        fake.AddUnit("0:0:0:0", {0, testing::kKestrelNames, "sd", "sg0", kKestrelInquiry + std::string(60, 'x')});
        fake.AddUnit("0:0:1:0", {5, "HL-DT-ST\nDVDRAM GH24NSD1 \nLG00", "sr", "", ""});
        fake.AddHost(2, "aic7xxx", true);
        fake.AddUnit("2:0:3:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddUnit("2:0:3:1", {0, testing::kKestrelNames, "", "", ""});
        fake.AddUnit("2:0:5:0", {8, "HARROW  \nSIM CHANGER     \nK100", "", "", ""});
        fake.AddUnit("2:0:6:0", {13, testing::kKestrelNames, "ses", "", ""});
        fake.AddUnit("2:0:20:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddUnit("2:0:40:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddUnit("2:1:0:0", {1, "HARROW  \nSIM TAPE        \nK100", "st", "", ""});
        fake.AddUnit("2:0:0:300", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddUnit("2:16:0:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddHost(10, "usb-storage");
        fake.AddUnit("10:0:0:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddHost(300, "far");
        std::filesystem::create_directories(fake.Sys() / "bus" / "scsi" / "devices" / "target2:0:3");
    }

    FakeSysfs fake;
    SysfsMachine machine{fake.Sys(), fake.Dev(), NoSgIo()};
};

std::string Value(const std::vector<platform::RegistryKey>& keys, const std::string& path, const std::string& name)
{
    for (const auto& key : keys) {
        for (const auto& value : key.values) {
            if (key.path == path && value.name == name && value.type == REG_SZ && value.data.back() == 0) {
                return std::string(value.data.begin(), value.data.end() - 1);
            }
        }
    }
    return "<missing>";
}

bool HasKey(const std::vector<platform::RegistryKey>& keys, const std::string& path)
{
    return std::any_of(keys.begin(), keys.end(), [&](const auto& key) { return key.path == path; });
}

// The bus list of a port as "path:target:lun c|-" per unit, in chain order.
std::string ChainOf(const std::vector<BYTE>& buffer)
{
    std::string seen;
    for (int bus = 0; bus < buffer[0]; ++bus) {
        SCSI_BUS_DATA busData;
        std::memcpy(&busData, &buffer[4 + bus * sizeof busData], sizeof busData);
        for (ULONG at = busData.InquiryDataOffset; at != 0;) {
            SCSI_INQUIRY_DATA entry;
            std::memcpy(&entry, &buffer[at], offsetof(SCSI_INQUIRY_DATA, InquiryData));
            seen += std::to_string(entry.PathId) + ":" + std::to_string(entry.TargetId) + ":" +
                    std::to_string(entry.Lun) + (entry.DeviceClaimed ? " c " : " - ");
            at = entry.NextInquiryDataOffset;
        }
    }
    return seen;
}

TEST_F(SysfsMachineTest, DeviceMapNumbersPortsDenselyOverTheHostChannels)
{
    const auto keys = machine.DeviceMap();
    EXPECT_EQ(keys[0].path, "Scsi Port 0");
    for (const auto& [port, driver, name] : {std::tuple{"1", "aic7xxx", "host2"}, {"2", "aic7xxx", "host2:1"},
                                             {"3", "aic7xxx", "host2:16"}, {"4", "usb-storage", "host10"}}) {
        EXPECT_EQ(Value(keys, std::string("Scsi Port ") + port, "Driver"), driver);
        EXPECT_EQ(Value(keys, std::string("Scsi Port ") + port, "DeviceName"), name);
    }
    EXPECT_FALSE(HasKey(keys, "Scsi Port 5"));  // host 300 cannot be a port
    EXPECT_TRUE(HasKey(keys, "Scsi Port 0\\Scsi Bus 0\\Initiator Id 255"));
    const std::string bus0 = "Scsi Port 0\\Scsi Bus 0\\";
    EXPECT_EQ(Value(keys, bus0 + "Target Id 0\\Logical Unit Id 0", "Identifier"), "KESTREL KX18LVD         K100");
    EXPECT_EQ(Value(keys, bus0 + "Target Id 1\\Logical Unit Id 0", "Identifier"), "HL-DT-STDVDRAM GH24NSD1 LG00");
    EXPECT_EQ(Value(keys, bus0 + "Target Id 1\\Logical Unit Id 0", "Type"), "CdRomPeripheral");
    // 32 targets a bus: target 20 on bus 0, target 40 on bus 1.
    EXPECT_EQ(Value(keys, "Scsi Port 1\\Scsi Bus 0\\Target Id 20\\Logical Unit Id 0", "Type"), "DiskPeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 1\\Scsi Bus 1\\Target Id 8\\Logical Unit Id 0", "Type"), "DiskPeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 1\\Scsi Bus 0\\Target Id 5\\Logical Unit Id 0", "Type"),
              "MediumChangerPeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 2\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "Type"), "TapePeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 3\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "Type"), "DiskPeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 4\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 0", "Type"), "DiskPeripheral");
}

TEST_F(SysfsMachineTest, BusListCarriesClaimsAndInquiryData)
{
    DWORD error = 0;
    DWORD returned = 0;
    auto port = machine.Open("SCSI1:", 0, &error);
    ASSERT_NE(port, nullptr);
    std::vector<BYTE> buffer(20480);
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned, &error));
    ASSERT_EQ(buffer[0], 2);  // targets up to 40
    // Only sd, st, sr and ch claim units; a changer without ch is reached through the port.
    EXPECT_EQ(ChainOf(buffer), "0:3:0 c 0:3:1 - 0:5:0 - 0:6:0 - 0:20:0 c 1:8:0 c ");

    auto tapePort = machine.Open("SCSI2:", 0, &error);
    ASSERT_TRUE(tapePort->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned,
                                    &error));
    EXPECT_EQ(ChainOf(buffer), "0:0:0 c ");
    // No inquiry attribute: rebuilt from type, vendor, model and rev.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&buffer[12 + 12]), 36),
              std::string("\x01\0\0\x02\x1f\0\0\0", 8) + "HARROW  SIM TAPE        K100");

    auto first = machine.Open("SCSI0:", 0, &error);
    ASSERT_TRUE(first->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned, &error));
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&buffer[12 + 12]), 36), kKestrelInquiry);
    EXPECT_FALSE(first->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), returned - 1, &returned,
                                  &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(SysfsMachineTest, NamesOpenPortsAndClassDevicesInAddressOrder)
{
    const auto addressOf = [&](const std::string& name) -> std::string {
        DWORD error = 0;
        auto device = machine.Open(name, 0, &error);
        SCSI_ADDRESS a{};
        DWORD returned = 0;
        if (!device || !device->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, &returned, &error)) {
            return "error " + std::to_string(error);
        }
        return std::to_string(a.Length) + "/" + std::to_string(a.PortNumber) + ":" + std::to_string(a.PathId) +
               ":" + std::to_string(a.TargetId) + ":" + std::to_string(a.Lun);
    };
    EXPECT_EQ(addressOf("PhysicalDrive0"), "8/0:0:0:0");
    EXPECT_EQ(addressOf("physicaldrive1"), "8/1:0:3:0");
    EXPECT_EQ(addressOf("PHYSICALDRIVE2"), "8/1:0:20:0");
    EXPECT_EQ(addressOf("PhysicalDrive3"), "8/1:1:8:0");
    EXPECT_EQ(addressOf("PhysicalDrive4"), "8/3:0:0:0");
    EXPECT_EQ(addressOf("PhysicalDrive5"), "8/4:0:0:0");
    EXPECT_EQ(addressOf("CdRom0"), "8/0:0:1:0");
    EXPECT_EQ(addressOf("Tape0"), "8/2:0:0:0");
    EXPECT_EQ(addressOf("MediaChanger0"), "8/1:0:5:0");
    for (const char* absent : {"PhysicalDrive6", "PhysicalDrive01", "SCSI5:", "SCSI10:", "SCSI0", "SCSI300:",
                               "SCSI2:x"}) {
        EXPECT_EQ(addressOf(absent), "error 2") << absent;
    }
    DWORD error = 0;
    DWORD returned = 0;
    EXPECT_NE(machine.Open("scsi4:", 0, &error), nullptr);
    auto disk = machine.Open("PhysicalDrive0", 0, &error);
    BYTE small[7];
    EXPECT_FALSE(disk->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, small, sizeof small, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(disk->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, small, sizeof small, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

TEST_F(SysfsMachineTest, PortCapabilitiesAndRescan)
{
    FakeSysfs::Write(fake.HostDir(2) / "sg_tablesize", "64\n");
    DWORD error = 0;
    DWORD returned = 0;
    auto port = machine.Open("SCSI1:", 0, &error);
    IO_SCSI_CAPABILITIES caps{};
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 24, &returned, &error));
    EXPECT_EQ(caps.MaximumTransferLength, 64u * 4096);
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 23, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);

    // A disk whose block queue takes less than the scatter-gather table caps the port (SG_IO refuses more).
    // The queue comes with sd's binding, and a rescan reads a unit again when its driver changed.
    const std::filesystem::path unit = fake.Sys() / "devices" / "2:0:3:0";
    const std::filesystem::path queue = unit / "block" / "sdb" / "queue";
    std::vector<BYTE> rescanned(2048);
    for (const auto& [kib, limit] : {std::pair{"128\n", 128u * 1024}, std::pair{"32767\n", 64u * 4096}}) {
        std::filesystem::remove(unit / "driver");
        ASSERT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, rescanned.data(), 2048, &returned, &error));
        std::filesystem::create_directories(queue);
        FakeSysfs::Write(queue / "max_hw_sectors_kb", kib);
        std::filesystem::create_directory_symlink("../../bus/scsi/drivers/sd", unit / "driver");
        ASSERT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, rescanned.data(), 2048, &returned, &error));
        ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 24, &returned, &error));
        EXPECT_EQ(caps.MaximumTransferLength, limit) << kib;
    }
    // Same device, same driver: the queue is not read again, the kernel's INQUIRY copy is.
    FakeSysfs::Write(queue / "max_hw_sectors_kb", "128\n");
    FakeSysfs::Write(unit / "inquiry", kKestrelInquiry.substr(0, 32) + "K200");
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, rescanned.data(), 2048, &returned, &error));
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 24, &returned, &error));
    EXPECT_EQ(caps.MaximumTransferLength, 64u * 4096);
    {
        std::vector<BYTE> busList(20480);
        ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, busList.data(), 20480, &returned, &error));
        const std::string bytes(busList.begin(), busList.begin() + returned);
        EXPECT_NE(bytes.find("KX18LVD         K200"), std::string::npos) << "new firmware's revision";
    }

    // A unit the kernel found since start shows after the port's rescan, not before.
    fake.AddUnit("2:0:7:0", {0, testing::kKestrelNames, "", "", ""});
    std::vector<BYTE> list(20480);
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(), 20480, &returned, &error));
    EXPECT_EQ(ChainOf(list).find("0:7:0"), std::string::npos);
    std::vector<BYTE> out(2048);
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(test_support::ReadText(fake.HostDir(2) / "scan"), "0 - -");
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(), 20480, &returned, &error));
    EXPECT_NE(ChainOf(list).find("0:7:0 - "), std::string::npos);

    auto channel16 = machine.Open("SCSI3:", 0, &error);
    ASSERT_TRUE(channel16->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(test_support::ReadText(fake.HostDir(2) / "scan"), "16 - -");

    // A USB host tells the kernel of its devices itself: no scan, but a fresh reading.
    fake.AddUnit("10:0:0:1", {0, testing::kKestrelNames, "", "", ""});
    auto usb = machine.Open("SCSI4:", 0, &error);
    ASSERT_TRUE(usb->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(test_support::ReadText(fake.HostDir(10) / "scan"), "");
    ASSERT_TRUE(usb->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(), 20480, &returned, &error));
    EXPECT_EQ(ChainOf(list), "0:0:0 c 0:0:1 - ");

    std::filesystem::remove(fake.HostDir(2) / "scan");
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    // The host went away: its port is gone at the next rescan, and no other
    // port changes its number.
    std::filesystem::remove_all(fake.HostDir(2));
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine.Open("SCSI1:", 0, &error), nullptr);
    DWORD portError = 0;
    usb = machine.Open("SCSI4:", 0, &portError);
    ASSERT_NE(usb, nullptr);
    ASSERT_TRUE(usb->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(), 20480, &returned, &error));
    EXPECT_EQ(ChainOf(list), "0:0:0 c 0:0:1 - ");
}

TEST(LinuxMachineTest, NoScsiHostsIsAnEmptyMachine)
{
    SysfsMachine machine("/nonexistent/sys", "/nonexistent/dev", NoSgIo());
    EXPECT_TRUE(machine.DeviceMap().empty());
    DWORD error = 0;
    EXPECT_EQ(machine.Open("SCSI0:", 0, &error), nullptr);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    // Whatever this computer has, reading it is not an error.
    const auto real = MakeLinuxMachine();
    const auto keys = real->DeviceMap();
    EXPECT_EQ(real->Open("SCSI0:", 0, &error) != nullptr, !keys.empty() && keys[0].path == "Scsi Port 0");
}

}  // namespace
}  // namespace harrow::machine
