#include "cli/LinuxDeviceNames.h"

#include "unit/machine_linux/FakeSysfs.h"

#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using harrow::machine::testing::FakeSysfs;
using harrow::machine::testing::FakeUnit;
using harrow::machine::testing::kKestrelNames;

// Two hosts; a disk with sd and sg nodes, one without the sg driver, a disk
// on the second bus of a host, a tape, and a host whose driver name makes
// the core number its targets from bus 1 on (31 a bus).
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
    EXPECT_EQ(Listed("/dev/sg5"), "2:5:0") << "a tape is reached by its generic node";
}

// 16 targets a bus for a host with initiator 7: bus 1 target 3 is target 19.
TEST_F(LinuxDeviceNamesTest, TargetsAreCountedAcrossBusesAsTheCoreCountsThem)
{
    EXPECT_EQ(Listed("/dev/sdc"), "2:3:0");
    EXPECT_EQ(Listed("/dev/sdd"), "2:19:0");
    EXPECT_EQ(Listed("/dev/sdf"), "4:7:0") << "lpxnds starts at bus 1 with 128 targets a bus";
    const LinuxUnitNodes* high = names.Resolve("/dev/sde");
    ASSERT_NE(high, nullptr);
    EXPECT_EQ(high->listedTarget, -1) << "target 20 does not fit 16 targets a bus";
}

TEST_F(LinuxDeviceNamesTest, ByIdLinksAreFollowedInsideDev)
{
    EXPECT_EQ(Listed("/dev/disk/by-id/scsi-35000c500a1b2c3d4"), "2:3:0");
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
    const LinuxUnitNodes* secondBus = names.AtListed(2, 19, 0);
    ASSERT_NE(secondBus, nullptr);
    EXPECT_EQ(LinuxDeviceNames::NodesText(*secondBus), "/dev/sdd /dev/sg3");
    const LinuxUnitNodes* tape = names.AtListed(2, 5, 0);
    ASSERT_NE(tape, nullptr);
    EXPECT_EQ(LinuxDeviceNames::NodesText(*tape), "/dev/sg5");
    EXPECT_EQ(names.AtListed(0, 2, 0), nullptr);
    EXPECT_EQ(names.AtListed(2, 3, 1), nullptr);
}

TEST(LinuxDeviceNames, ATreeWithoutScsiGivesNoNames)
{
    const LinuxDeviceNames none = LinuxDeviceNames::Read("/nonexistent/sys", "/nonexistent/dev");
    EXPECT_EQ(none.Resolve("/dev/sda"), nullptr);
    EXPECT_EQ(none.AtListed(0, 0, 0), nullptr);
}

}  // namespace
