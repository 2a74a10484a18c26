// The NT port transport started on a sysfs tree: every host behind a gap in
// the kernel's numbers is a port, a high target keeps its number, and the tree
// is read once at start and once a rescanned port.
#include "FakeSysfs.h"
#include "core/transport/CNTPortDriver.h"
#include "machine/linux/SysfsMachine.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

namespace harrow::machine {
namespace {

using testing::FakeSysfs;
using testing::FakeUnit;
using testing::kKestrelNames;

using testing::NoSgIo;

class StartupReadsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(0, "virtio_scsi");
        fake.AddUnit("0:0:0:0", {0, kKestrelNames, "sd", "sg0", ""});
        fake.AddUnit("0:0:20:0", {0, kKestrelNames, "sd", "sg1", ""});
        fake.AddUnit("0:0:20:1", {0, kKestrelNames, "sd", "sg2", ""});
        // host 1 was removed
        fake.AddHost(2, "megaraid_sas");
        fake.AddUnit("2:2:0:0", {0, kKestrelNames, "sd", "sg3", ""});
        fake.AddHost(3, "sym53c8xx", true);
        fake.AddUnit("3:0:0:0", {0, kKestrelNames, "sd", "sg4", ""});
        fake.AddUnit("3:0:3:0", {5, kKestrelNames, "sr", "sg5", ""});
        auto owned = std::make_unique<SysfsMachine>(fake.Sys(), fake.Dev(), NoSgIo());
        machine = owned.get();
        platform::SetActiveMachine(std::move(owned));
        platform::ReloadRegistry();
    }

    void TearDown() override
    {
        platform::SetActiveMachine(nullptr);
        platform::ReloadRegistry();
    }

    FakeSysfs fake;
    SysfsMachine* machine = nullptr;
};

struct Adapter {
    int initiator = -1;
    std::string manager;
    std::string name;
    long targets = 0;
};

CDevAddress Unit(int port, int target, int lun)
{
    return CDevAddress(port, target, lun, -1, -1, -1);
}

Adapter Inquire(CNTPortDriver& driver, int port)
{
    Adapter a;
    EXPECT_EQ(driver.AdapterInquiry(port, &a.initiator, &a.manager, &a.name, &a.targets), ERR_NONE);
    return a;
}

TEST_F(StartupReadsTest, OneReadAtStartOnePerRescanAndEveryHostAPort)
{
    CNTPortDriver* driver = CNTPortDriver::Acquire();
    ASSERT_NE(driver, nullptr);
    // 256 port opens, the bus lists, the device map and the class-device walk.
    EXPECT_EQ(machine->TopologyReads(), 1u);
    ASSERT_EQ(driver->AdapterCount(), 3);

    const Adapter virtio = Inquire(*driver, 0);
    EXPECT_EQ(virtio.initiator, 255);  // none known: 32 targets a bus, target 7 probed too
    EXPECT_EQ(virtio.manager, "virtio_scsi");
    EXPECT_EQ(virtio.name, "host0");
    EXPECT_EQ(virtio.targets, 32);
    const Adapter megaraid = Inquire(*driver, 1);  // its only channel in use
    EXPECT_EQ(megaraid.manager, "megaraid_sas");
    EXPECT_EQ(megaraid.name, "host2:2");
    EXPECT_EQ(megaraid.targets, 32);
    const Adapter sym = Inquire(*driver, 2);
    EXPECT_EQ(sym.name, "host3");

    // Harrow's target is the kernel's; a removed host number shifts no unit.
    EXPECT_NE(driver->GetDeviceHandle(Unit(0, 20, 0)), nullptr);
    EXPECT_NE(driver->GetDeviceHandle(Unit(0, 20, 1)), nullptr);
    EXPECT_EQ(driver->GetDeviceHandle(Unit(0, 4, 0)), nullptr);
    EXPECT_NE(driver->GetDeviceHandle(Unit(1, 0, 0)), nullptr);
    EXPECT_NE(driver->GetDeviceHandle(Unit(2, 3, 0)), nullptr);
    EXPECT_EQ(machine->TopologyReads(), 1u);

    // Only the parallel SCSI bus is scanned by the kernel; every rescan reads again.
    EXPECT_EQ(driver->RescanBus(2), ERR_NONE);
    EXPECT_EQ(machine->TopologyReads(), 2u);
    EXPECT_EQ(test_support::ReadText(fake.HostDir(3) / "scan"), "0 - -");
    EXPECT_NE(driver->GetDeviceHandle(Unit(2, 3, 0)), nullptr);
    EXPECT_EQ(driver->RescanBus(1), ERR_NONE);
    EXPECT_EQ(machine->TopologyReads(), 3u);
    EXPECT_EQ(test_support::ReadText(fake.HostDir(2) / "scan"), "");
    driver->Release();
}

}  // namespace
}  // namespace harrow::machine
