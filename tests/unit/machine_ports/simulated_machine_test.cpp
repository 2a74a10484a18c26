#include "FakeUnit.h"

#include "machine/SimulatedMachine.h"
#include "platform/ntddscsi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

using namespace harrow::machine;
using harrow::machine::testing::FakeFactory;
using harrow::platform::Device;

namespace {

const char* const kMachine = R"({"name": "t", "ports": [
  {"port": 0, "driver": "aic78xx", "deviceName": "AIC-7899", "units": [
    {"target": 0, "fakeType": 0, "fakeName": "KESTREL KX18LVD"},
    {"target": 2, "fakeType": 0, "claimed": false},
    {"target": 3, "fakeType": 1},
    {"target": 4, "fakeType": 3},
    {"target": 5, "silent": true},
    {"target": 6, "fakeType": 0, "busyInquiries": 2}]},
  {"port": 1, "driver": "symmpi", "buses": 2, "units": [
    {"bus": 1, "target": 0, "lun": 1, "fakeType": 5},
    {"bus": 0, "target": 9, "fakeType": 8}]},
  {"port": 2, "driver": "atapi", "units": [
    {"target": 0, "fakeType": 5},
    {"target": 1, "fakeType": 0, "claimed": true}]}]})";

class SimulatedMachineTest : public ::testing::Test {
protected:
    SimulatedMachineTest()
        : machine(ParseMachineText(kMachine, "t.json", "t"), "t.json", "/state-root", fakes.Factory())
    {
    }

    std::unique_ptr<Device> Open(const std::string& name)
    {
        DWORD error = 0;
        auto device = machine.Open(name, 0, &error);
        EXPECT_TRUE(device) << name << " error " << error;
        return device;
    }

    DWORD OpenError(const std::string& name)
    {
        DWORD error = 0;
        EXPECT_FALSE(machine.Open(name, 0, &error)) << name;
        return error;
    }

    static SCSI_ADDRESS AddressOf(Device& device)
    {
        SCSI_ADDRESS address{};
        DWORD returned = 0;
        DWORD error = 0;
        EXPECT_TRUE(device.IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned, &error));
        EXPECT_EQ(returned, sizeof address);
        EXPECT_EQ(address.Length, sizeof address);
        return address;
    }

    static std::vector<BYTE> BusList(Device& device)
    {
        std::vector<BYTE> bytes(20480);
        DWORD returned = 0;
        DWORD error = 0;
        EXPECT_TRUE(device.IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, bytes.data(),
                                     static_cast<DWORD>(bytes.size()), &returned, &error));
        bytes.resize(returned);
        return bytes;
    }

    FakeFactory fakes;
    SimulatedMachine machine;
};

}  // namespace

TEST_F(SimulatedMachineTest, OpensPortsAndClassDevicesInAnyLetterCase)
{
    for (const char* name : {"SCSI0:", "scsi1:", "physicaldrive1", "PHYSICALDRIVE2", "tape0", "CDROM0", "mediachanger0"}) {
        Open(name);
    }
    for (const char* name : {"SCSI3:", "SCSI0", "SCSI00:", "SCSI-1:", "SCSI:", "PhysicalDrive3", "PhysicalDrive",
                             "PhysicalDrive01", "Tape1", "CdRom1", "Changer0", "ORBSTB32.VXD", "", "SCSI0:x"}) {
        EXPECT_EQ(OpenError(name), ERROR_FILE_NOT_FOUND) << name;
    }
}

TEST_F(SimulatedMachineTest, ClassDevicesReportTheirUnitsAddress)
{
    const auto check = [&](const char* name, UCHAR port, UCHAR path, UCHAR target, UCHAR lun) {
        SCOPED_TRACE(name);
        const SCSI_ADDRESS address = AddressOf(*Open(name));
        EXPECT_EQ(address.PortNumber, port);
        EXPECT_EQ(address.PathId, path);
        EXPECT_EQ(address.TargetId, target);
        EXPECT_EQ(address.Lun, lun);
    };
    // Disks are numbered in port, bus, target, LUN order; the unclaimed disk
    // (port 0 target 2) and the atapi CD-ROM get no class device.
    check("PhysicalDrive0", 0, 0, 0, 0);
    check("PhysicalDrive1", 0, 0, 6, 0);
    check("PhysicalDrive2", 2, 0, 1, 0);
    check("Tape0", 0, 0, 3, 0);
    check("CdRom0", 1, 1, 0, 1);
    check("MediaChanger0", 1, 0, 9, 0);

    SCSI_ADDRESS address{};
    DWORD returned = 1;
    DWORD error = 0;
    EXPECT_FALSE(Open("Tape0")->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, 7, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(Open("SCSI0:")->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, 8, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

TEST_F(SimulatedMachineTest, BusListShowsAnsweringUnitsAndClaims)
{
    const auto bytes = BusList(*Open("SCSI0:"));
    ASSERT_EQ(bytes.size(), 12u + 5 * 48);  // target 5 never answered the boot scan
    EXPECT_EQ(bytes[1 * 4 + 0], 5);          // NumberOfLogicalUnits
    EXPECT_EQ(bytes[1 * 4 + 1], 7);          // InitiatorBusId
    const std::pair<UCHAR, UCHAR> expected[] = {{0, 1}, {2, 0}, {3, 1}, {4, 0}, {6, 1}};
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(bytes[12 + 48 * i + 1], expected[i].first);
        EXPECT_EQ(bytes[12 + 48 * i + 3], expected[i].second) << "claim of target " << int(expected[i].first);
    }

    const auto ide = BusList(*Open("SCSI2:"));
    ASSERT_EQ(ide.size(), 12u + 2 * 48);
    EXPECT_EQ(ide[5], 255);  // an IDE channel has no initiator ID
    EXPECT_EQ(ide[12 + 3], 0);
    EXPECT_EQ(ide[60 + 3], 1);

    std::vector<BYTE> small(bytes.size() - 1);
    DWORD returned = 0;
    DWORD error = 0;
    EXPECT_FALSE(Open("SCSI0:")->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, small.data(),
                                           static_cast<DWORD>(small.size()), &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
}

TEST_F(SimulatedMachineTest, CapabilitiesRescanAndUnknownCodes)
{
    auto port = Open("SCSI1:");
    IO_SCSI_CAPABILITIES caps{};
    DWORD returned = 0;
    DWORD error = 0;
    ASSERT_TRUE(port->IoControl(IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0, &caps, sizeof caps, &returned, &error));
    EXPECT_EQ(returned, 24u);
    EXPECT_EQ(caps.Length, 24u);
    EXPECT_EQ(caps.MaximumTransferLength, kMaxTransferLength);

    BYTE scratch[2048];
    EXPECT_TRUE(port->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, scratch, sizeof scratch, &returned, &error));
    EXPECT_EQ(BusList(*port).size(), 20u + 2 * 48);  // two buses, unchanged by the rescan

    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_MINIPORT, nullptr, 0, scratch, sizeof scratch, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(Open("CdRom0")->IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, scratch, sizeof scratch, &returned,
                                           &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

TEST_F(SimulatedMachineTest, DeviceMapListsEveryPortAndAnsweringUnit)
{
    std::vector<std::string> paths;
    for (const auto& key : machine.DeviceMap()) {
        paths.push_back(key.path);
    }
    const auto has = [&](const std::string& path) { return std::count(paths.begin(), paths.end(), path) == 1; };
    EXPECT_TRUE(has("Scsi Port 0"));
    EXPECT_TRUE(has("Scsi Port 1\\Scsi Bus 1\\Target Id 0\\Logical Unit Id 1"));
    EXPECT_TRUE(has("Scsi Port 2\\Scsi Bus 0\\Initiator Id 255"));
    EXPECT_TRUE(has("Scsi Port 0\\Scsi Bus 0\\Target Id 6\\Logical Unit Id 0"));
    EXPECT_FALSE(has("Scsi Port 0\\Scsi Bus 0\\Target Id 5"));
}

TEST_F(SimulatedMachineTest, OpenDevicesOutliveTheMachine)
{
    std::unique_ptr<Device> tape;
    {
        FakeFactory otherFakes;
        SimulatedMachine other(ParseMachineText(kMachine, "t.json", "t"), "t.json", "/r", otherFakes.Factory());
        DWORD error = 0;
        tape = other.Open("Tape0", 0, &error);
    }
    EXPECT_EQ(AddressOf(*tape).TargetId, 3);
}

TEST(SimulatedMachineClaims, ClaimWithoutClassDriverIsRefused)
{
    FakeFactory fakes;
    const auto described = ParseMachineText(
        R"({"ports": [{"driver": "x", "units": [{"target": 1, "fakeType": 3, "claimed": true}]}]})", "c.json", "c");
    try {
        SimulatedMachine machine(described, "c.json", "/r", fakes.Factory());
        FAIL() << "accepted";
    } catch (const MachineFileError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("c.json: ports[0].units[0].claimed: no class driver", 0), 0u)
            << e.what();
    }
}
