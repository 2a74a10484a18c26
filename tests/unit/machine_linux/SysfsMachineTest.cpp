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

int NoSgIo(const std::string&, sg_io_hdr&) { return ENOSYS; }

const std::string kKestrelInquiry = std::string("\0\0\5\x12\x1f\0\0\0", 8) + "KESTREL KX18LVD         K100";

// Hosts numbered so that text and number order differ, units of every class,
// an unclaimed disk, an enclosure, and numbers a Windows address cannot hold.
class SysfsMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(0, "ahci");
        fake.AddUnit("0:0:0:0", {0, testing::kKestrelNames, "sd", "sg0", kKestrelInquiry + std::string(60, 'x')});
        fake.AddUnit("0:0:1:0", {5, "HL-DT-ST\nDVDRAM GH24NSD1 \nLG00", "sr", "", ""});
        fake.AddHost(2, "mpt3sas");
        fake.AddUnit("2:0:3:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddUnit("2:0:3:1", {0, testing::kKestrelNames, "", "", ""});
        fake.AddUnit("2:0:5:0", {8, "HARROW  \nSIM CHANGER     \nK100", "", "", ""});
        fake.AddUnit("2:0:6:0", {13, testing::kKestrelNames, "ses", "", ""});
        fake.AddUnit("2:1:0:0", {1, "HARROW  \nSIM TAPE        \nK100", "st", "", ""});
        fake.AddUnit("2:0:0:300", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddHost(10, "usb-storage");
        fake.AddUnit("10:0:0:0", {0, testing::kKestrelNames, "sd", "", ""});
        fake.AddHost(300, "far");
        std::filesystem::create_directories(fake.Sys() / "bus" / "scsi" / "devices" / "target2:0:3");
    }

    FakeSysfs fake;
    SysfsMachine machine{fake.Sys(), fake.Dev(), NoSgIo};
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

TEST_F(SysfsMachineTest, DeviceMapShowsHostsAsPorts)
{
    const auto keys = machine.DeviceMap();
    EXPECT_EQ(keys.size(), 26u);  // no key for LUN 300 or host 300
    EXPECT_EQ(keys[0].path, "Scsi Port 0");
    EXPECT_EQ(keys[7].path, "Scsi Port 2");
    EXPECT_EQ(keys[21].path, "Scsi Port 10");
    EXPECT_EQ(Value(keys, "Scsi Port 2", "Driver"), "mpt3sas");
    EXPECT_EQ(Value(keys, "Scsi Port 2", "DeviceName"), "ScsiPort2");
    const std::string bus0 = "Scsi Port 0\\Scsi Bus 0\\";
    EXPECT_EQ(keys[2].path, bus0 + "Initiator Id 7");
    EXPECT_EQ(Value(keys, bus0 + "Target Id 0\\Logical Unit Id 0", "Identifier"), "KESTREL KX18LVD         K100");
    EXPECT_EQ(Value(keys, bus0 + "Target Id 1\\Logical Unit Id 0", "Identifier"), "HL-DT-STDVDRAM GH24NSD1 LG00");
    EXPECT_EQ(Value(keys, bus0 + "Target Id 1\\Logical Unit Id 0", "Type"), "CdRomPeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 2\\Scsi Bus 1\\Target Id 0\\Logical Unit Id 0", "Type"), "TapePeripheral");
    EXPECT_EQ(Value(keys, "Scsi Port 2\\Scsi Bus 0\\Target Id 5\\Logical Unit Id 0", "Type"),
              "MediumChangerPeripheral");
}

TEST_F(SysfsMachineTest, BusListCarriesClaimsAndInquiryData)
{
    DWORD error = 0;
    DWORD returned = 0;
    auto port = machine.Open("SCSI2:", 0, &error);
    ASSERT_NE(port, nullptr);
    std::vector<BYTE> buffer(20480);
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned, &error));
    ASSERT_EQ(buffer[0], 2);  // channels 0 and 1
    std::string seen;         // "path:target:lun claimed" per unit, in chain order
    std::string tapeInquiry;
    for (int bus = 0; bus < 2; ++bus) {
        SCSI_BUS_DATA busData;
        std::memcpy(&busData, &buffer[4 + bus * sizeof busData], sizeof busData);
        for (ULONG at = busData.InquiryDataOffset; at != 0;) {
            SCSI_INQUIRY_DATA entry;
            std::memcpy(&entry, &buffer[at], offsetof(SCSI_INQUIRY_DATA, InquiryData));
            seen += std::to_string(entry.PathId) + ":" + std::to_string(entry.TargetId) + ":" +
                    std::to_string(entry.Lun) + (entry.DeviceClaimed ? " c " : " - ");
            tapeInquiry.assign(reinterpret_cast<const char*>(&buffer[at + 12]), 36);
            at = entry.NextInquiryDataOffset;
        }
    }
    // Only sd, st, sr and ch claim units; a changer without ch is reached through the port.
    EXPECT_EQ(seen, "0:3:0 c 0:3:1 - 0:5:0 - 0:6:0 - 1:0:0 c ");
    // No inquiry attribute: rebuilt from type, vendor, model and rev.
    EXPECT_EQ(tapeInquiry, std::string("\x01\0\0\x02\x1f\0\0\0", 8) + "HARROW  SIM TAPE        K100");

    auto first = machine.Open("SCSI0:", 0, &error);
    ASSERT_TRUE(first->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, buffer.data(), 20480, &returned, &error));
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
    EXPECT_EQ(addressOf("physicaldrive1"), "8/2:0:3:0");
    EXPECT_EQ(addressOf("PHYSICALDRIVE2"), "8/10:0:0:0");
    EXPECT_EQ(addressOf("CdRom0"), "8/0:0:1:0");
    EXPECT_EQ(addressOf("Tape0"), "8/2:1:0:0");
    EXPECT_EQ(addressOf("MediaChanger0"), "8/2:0:5:0");
    for (const char* absent : {"PhysicalDrive3", "PhysicalDrive01", "SCSI1:", "SCSI0", "SCSI300:", "SCSI2:x"}) {
        EXPECT_EQ(addressOf(absent), "error 2") << absent;
    }
    DWORD error = 0;
    DWORD returned = 0;
    EXPECT_NE(machine.Open("scsi10:", 0, &error), nullptr);
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
    auto port = machine.Open("SCSI2:", 0, &error);
    IO_SCSI_CAPABILITIES caps{};
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 24, &returned, &error));
    EXPECT_EQ(caps.MaximumTransferLength, 64u * 4096);
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 23, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);

    // A disk whose block queue takes less than the scatter-gather table caps the port (SG_IO refuses more).
    const std::filesystem::path queue = fake.Sys() / "devices" / "2:0:3:0" / "block" / "sdb" / "queue";
    std::filesystem::create_directories(queue);
    FakeSysfs::Write(queue / "max_hw_sectors_kb", "128\n");
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 24, &returned, &error));
    EXPECT_EQ(caps.MaximumTransferLength, 128u * 1024);
    FakeSysfs::Write(queue / "max_hw_sectors_kb", "32767\n");
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, 24, &returned, &error));
    EXPECT_EQ(caps.MaximumTransferLength, 64u * 4096);

    std::vector<BYTE> out(2048);
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(test_support::ReadText(fake.HostDir(2) / "scan"), "- - -");
    std::filesystem::remove(fake.HostDir(2) / "scan");
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), 2048, &returned, &error));
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);

    std::filesystem::remove_all(fake.HostDir(2));  // the host went away
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

    // Whatever this computer has, reading it is not an error.
    const auto real = MakeLinuxMachine();
    const auto keys = real->DeviceMap();
    EXPECT_EQ(real->Open("SCSI0:", 0, &error) != nullptr, !keys.empty() && keys[0].path == "Scsi Port 0");
}

}  // namespace
}  // namespace harrow::machine
