#include "cli/LinuxDeviceNames.h"

#include "machine/linux/SysfsMachine.h"
#include "unit/machine_linux/FakeSysfs.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using harrow::machine::testing::FakeSysfs;
using harrow::machine::testing::FakeUnit;
using harrow::machine::testing::kKestrelNames;

// A disk with sd and sg nodes, one without the sg driver, a host with units
// on two channels (two ports), a target above 15, a tape, and a gap in the
// host numbers with a host whose units sit on channel 1 only.
class LinuxDeviceNamesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(0, "ahci");
        AddDisk("0:0:0:0", "sda", "sg0");
        AddDisk("0:0:1:0", "sdb", "");
        fake.AddHost(2, "mpt3sas");
        AddDisk("2:0:3:0", "sdc", "sg2");
        AddDisk("2:1:3:0", "sdd", "sg3");
        AddDisk("2:0:20:0", "sde", "sg4");
        fake.AddUnit("2:0:5:0", {1, "HARROW  \nSIM TAPE        \nK100", "st", "sg5", ""});
        fake.AddHost(4, "lpxnds");
        AddDisk("4:1:7:0", "sdf", "sg6");
        fs::create_directories(fake.Dev() / "disk" / "by-id");
        fs::create_symlink("../../sdc", fake.Dev() / "disk" / "by-id" / "scsi-35000c500a1b2c3d4");
        fs::create_symlink("/dev/sg0", fake.Dev() / "disk" / "by-id" / "absolute-sg0");
        fs::create_symlink("../../sdc1", fake.Dev() / "disk" / "by-id" / "scsi-35000c500a1b2c3d4-part1");
        fs::create_symlink("/etc/passwd", fake.Dev() / "disk" / "by-id" / "outside");
        fs::create_symlink("loop-b", fake.Dev() / "disk" / "by-id" / "loop-a");
        fs::create_symlink("loop-a", fake.Dev() / "disk" / "by-id" / "loop-b");
        names = LinuxDeviceNames::Read(fake.Sys(), fake.Dev());
    }

    void AddDisk(const std::string& hctl, const std::string& block, const std::string& sg)
    {
        fake.AddUnit(hctl, {0, kKestrelNames, "sd", sg, ""});
        fs::create_directories(fake.Sys() / "devices" / hctl / "block" / block / (block + "1"));
    }

    std::string Listed(const std::string& devName) const
    {
        const LinuxUnitNodes* unit = names.Resolve(devName);
        if (unit == nullptr) {
            return "none";
        }
        const DeviceRecord record = LinuxDeviceNames::RecordOf(*unit);
        return std::to_string(record.hostAdapter) + ":" + std::to_string(record.target) + ":" +
               std::to_string(record.lun);
    }

    FakeSysfs fake;
    LinuxDeviceNames names;
};

TEST_F(LinuxDeviceNamesTest, BlockAndGenericNodesReachTheirUnit)
{
    EXPECT_EQ(Listed("/dev/sda"), "0:0:0");
    EXPECT_EQ(Listed("/dev/sg0"), "0:0:0");
    EXPECT_EQ(Listed("/dev/sdb"), "0:1:0");
    EXPECT_EQ(Listed("/dev/sg5"), "1:5:0") << "a tape is reached by its generic node";
}

// Ports as the Linux machine numbers them: one per host channel, densely over
// the hosts; targets and LUNs the kernel's own.
TEST_F(LinuxDeviceNamesTest, PortsAreHostChannelsNumberedDensely)
{
    EXPECT_EQ(Listed("/dev/sdc"), "1:3:0");
    EXPECT_EQ(Listed("/dev/sdd"), "2:3:0") << "channel 1 of host 2 is a port of its own";
    EXPECT_EQ(Listed("/dev/sde"), "1:20:0") << "a target above 15 keeps its number";
    EXPECT_EQ(Listed("/dev/sdf"), "3:7:0") << "host 4 follows host 2 without a gap";
}

TEST_F(LinuxDeviceNamesTest, ByIdLinksAreFollowedInsideDev)
{
    EXPECT_EQ(Listed("/dev/disk/by-id/scsi-35000c500a1b2c3d4"), "1:3:0");
    EXPECT_EQ(Listed("/dev/disk/by-id/absolute-sg0"), "0:0:0");
}

TEST_F(LinuxDeviceNamesTest, NamesOfNoWholeUnitAreRefused)
{
    for (const char* name : {"/dev/sdc1", "/dev/disk/by-id/scsi-35000c500a1b2c3d4-part1", "/dev/disk/by-id/outside",
                             "/dev/disk/by-id/loop-a", "/dev/disk/by-id/missing", "/dev/sdz", "/dev/", "/dev/../sda",
                             "/dev/block/sda", "sda", "/devsda"}) {
        EXPECT_EQ(Listed(name), "none") << name;
    }
}

TEST_F(LinuxDeviceNamesTest, ListedAddressesShowTheirNodes)
{
    const LinuxUnitNodes* first = names.AtListed(0, 0, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(LinuxDeviceNames::NodesText(*first), "/dev/sda /dev/sg0");
    const LinuxUnitNodes* noSg = names.AtListed(0, 1, 0);
    ASSERT_NE(noSg, nullptr);
    EXPECT_EQ(LinuxDeviceNames::NodesText(*noSg), "/dev/sdb");
    const LinuxUnitNodes* secondChannel = names.AtListed(2, 3, 0);
    ASSERT_NE(secondChannel, nullptr);
    EXPECT_EQ(LinuxDeviceNames::NodesText(*secondChannel), "/dev/sdd /dev/sg3");
    const LinuxUnitNodes* tape = names.AtListed(1, 5, 0);
    ASSERT_NE(tape, nullptr);
    EXPECT_EQ(LinuxDeviceNames::NodesText(*tape), "/dev/sg5");
    EXPECT_EQ(names.AtListed(0, 2, 0), nullptr);
    EXPECT_EQ(names.AtListed(1, 3, 1), nullptr);
    EXPECT_EQ(names.AtListed(4, 7, 0), nullptr) << "kernel host 4 is port 3";
}

// The listing's names come from the machine's own reading: no second walk
// of sysfs, and a controller removed since the machine's first reading keeps
// the ports numbered as the machine numbers them.
TEST_F(LinuxDeviceNamesTest, NamesOfTheMachinesReadingCostNoSecondWalk)
{
    harrow::machine::SysfsMachine machine(fake.Sys(), fake.Dev(), harrow::machine::testing::NoSgIo());
    ASSERT_FALSE(machine.DeviceMap().empty());
    ASSERT_EQ(machine.TopologyReads(), 1u);
    fs::remove_all(fake.HostDir(0));
    for (const char* hctl : {"0:0:0:0", "0:0:1:0"}) {
        fs::remove(fake.Sys() / "bus" / "scsi" / "devices" / hctl);
        fs::remove_all(fake.Sys() / "devices" / hctl);
    }
    machine.Hosts().RereadHost(0);
    ASSERT_EQ(machine.TopologyReads(), 2u);

    const LinuxDeviceNames ofMachine = LinuxDeviceNames::Of(machine.Hosts(), fake.Dev());
    EXPECT_EQ(machine.TopologyReads(), 2u);
    const LinuxUnitNodes* sdd = ofMachine.AtListed(2, 3, 0);
    ASSERT_NE(sdd, nullptr) << "host 2's second channel stays port 2";
    EXPECT_EQ(LinuxDeviceNames::NodesText(*sdd), "/dev/sdd /dev/sg3");
    EXPECT_EQ(ofMachine.AtListed(0, 0, 0), nullptr) << "the removed host's units are gone";
    EXPECT_EQ(ofMachine.Resolve("/dev/sdf")->port, 3);
}

TEST(LinuxDeviceNames, ATreeWithoutScsiGivesNoNames)
{
    const LinuxDeviceNames none = LinuxDeviceNames::Read("/nonexistent/sys", "/nonexistent/dev");
    EXPECT_EQ(none.Resolve("/dev/sda"), nullptr);
    EXPECT_EQ(none.AtListed(0, 0, 0), nullptr);
}

}  // namespace
