#include "TransportFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/transport/CNTPortDriver.h"
#include "platform/Registry.h"
#include "support/BoundedWait.h"

#include <thread>

namespace transport_test {
namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;

// Holds the driver for one test, the way an adapter does.
struct DriverRef {
    DriverRef() : driver(CNTPortDriver::Acquire()) {}
    ~DriverRef() { driver->Release(); }
    CNTPortDriver* operator->() const { return driver; }
    CNTPortDriver* driver;
};

CDevAddress At(int adapter, int target, int lun = 0)
{
    return CDevAddress(adapter, target, lun, -1, -1, -1);
}

// Ports of 16 targets with 8 claimed LUNs each, every disk a class device
// "PhysicalDriveN" in port order; the number of disks.
int AddClaimedDisks(FakeState& fake, int ports)
{
    int index = 0;
    for (int p = 0; p < ports; ++p) {
        FakePort port;
        for (int t = 0; t < 16; ++t) {
            for (int l = 0; l < 8; ++l) {
                port.units.push_back({0, static_cast<UCHAR>(t), static_cast<UCHAR>(l), true});
                fake.classDevices["PhysicalDrive" + std::to_string(index++)] = {
                    8, static_cast<UCHAR>(p), 0, static_cast<UCHAR>(t), static_cast<UCHAR>(l)};
            }
        }
        fake.ports.push_back(port);
    }
    return index;
}

using NTPortDriverTest = TransportFixture;

TEST_F(NTPortDriverTest, DriverNamesCorrectTheTargetNumbering)
{
    FakePort lp6n;
    lp6n.driver = "LP6NDS35";
    lp6n.buses = 2;
    lp6n.units = {{1, 9, 0, false}};
    FakePort ordinary;
    ordinary.driver = "averyveryverylongdrivername";
    ordinary.buses = 2;
    ordinary.units = {{1, 4, 0, false}};
    m_Fake->ports = {lp6n, ordinary};
    StartFake();
    DriverRef driver;
    ASSERT_EQ(driver->AdapterCount(), 2);

    int initiator = 0;
    std::string manager, adapter;
    long targets = 0;
    ASSERT_EQ(driver->AdapterInquiry(0, &initiator, &manager, &adapter, &targets), ERR_NONE);
    EXPECT_EQ(initiator, 255);
    EXPECT_EQ(manager, "LP6NDS35");
    EXPECT_EQ(adapter, "aic78xx1");
    EXPECT_EQ(targets, 31);  // one bus of 31 once the extra bus is dropped
    ASSERT_EQ(driver->AdapterInquiry(1, &initiator, &manager, &adapter, &targets), ERR_NONE);
    EXPECT_EQ(initiator, 7);
    EXPECT_EQ(manager, "averyveryverylon");
    EXPECT_EQ(targets, 32);
    EXPECT_EQ(driver->AdapterInquiry(2, &initiator, &manager, &adapter, &targets), ERR_NO_HOST_ADAPTER);

    NTPortPath_s path{};
    ASSERT_EQ(driver->MapAddress(At(0, 40), &path), ERR_NONE);
    EXPECT_EQ(path.PathId, 2);
    EXPECT_EQ(path.TargetId, 9);

    SCSI_NTPortIoCtl lpBlock(At(0, 9), 0);
    SCSI_NTPortIoCtl ordinaryBlock(At(1, 20), 0);
    ASSERT_EQ(lpBlock.GetStatus(), ERR_NONE);
    ASSERT_EQ(ordinaryBlock.GetStatus(), ERR_NONE);
    EXPECT_EQ(Issue(lpBlock, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);
    EXPECT_EQ(RequestOf(lpBlock).Spt.PathId, 1);
    EXPECT_EQ(RequestOf(lpBlock).Spt.TargetId, 9);
    EXPECT_EQ(Issue(ordinaryBlock, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);
    EXPECT_EQ(RequestOf(ordinaryBlock).Spt.PathId, 1);
    EXPECT_EQ(RequestOf(ordinaryBlock).Spt.TargetId, 4);

    // Addresses a request cannot carry are refused, not wrapped.
    SCSI_NTPortIoCtl badTarget(At(1, -1), 0);
    EXPECT_EQ(badTarget.GetStatus(), ERR_NO_DEVICE);
    badTarget.GetCdb(true);
    EXPECT_EQ(badTarget.CompleteCmd(6, 0, 0, 30, 0, 0, 0), ERR_INVALID_TARGET);
    SCSI_NTPortIoCtl badPort(At(7, 0), 0);
    badPort.GetCdb(true);
    EXPECT_EQ(badPort.CompleteCmd(6, 0, 0, 30, 0, 0, 0), ERR_NO_HOST_ADAPTER);
}

TEST(NTPortAdapterTest, CorrectionTableByDriverNamePrefix)
{
    const struct {
        const char* driver;
        int buses, initiator, targetsPerBus, basePath;
    } cases[] = {
        {"lp3nds35", 2, 255, 31, 1}, {"Lp7nds35", 2, 255, 31, 1}, {"ELXSTOR", 2, 255, 31, 1},
        {"orblpx2", 2, 255, 31, 1},  {"ADPU160M", 1, 7, 16, 0},   {"ql12160", 1, 7, 16, 0},
        {"sparrow", 1, 7, 8, 0},     {"lpxnds", 2, 255, 128, 1},  {"lp6", 3, 7, 16, 0},
        {"aic78xx", 3, 7, 16, 0},
    };
    for (const auto& c : cases) {
        NTPortAdapter_s adapter;
        adapter.DriverName = c.driver;
        SetReportedGeometry(adapter, 3, 7);
        ApplyDriverNameCorrections(adapter);
        EXPECT_EQ(adapter.Buses, c.buses) << c.driver;
        EXPECT_EQ(adapter.InitiatorId, c.initiator) << c.driver;
        EXPECT_EQ(adapter.TargetsPerBus, c.targetsPerBus) << c.driver;
        EXPECT_EQ(adapter.BasePath, c.basePath) << c.driver;
    }

    NTPortAdapter_s wide;
    SetReportedGeometry(wide, 1, 16);
    EXPECT_EQ(wide.TargetsPerBus, 32);
    NTPortAdapter_s none;
    none.DriverName = "lp6n";
    SetReportedGeometry(none, 0, 255);
    ApplyDriverNameCorrections(none);
    EXPECT_EQ(none.Buses, 0);  // never negative
    EXPECT_FALSE(MapTarget(wide, 32 * 256).has_value());
    EXPECT_EQ(MapTarget(wide, 32 * 256 - 1)->PathId, 255);
}

TEST_F(NTPortDriverTest, ClaimedUnitsAreReachedThroughTheirClassDevice)
{
    FakePort port;
    port.units = {{0, 0, 0, true}, {0, 1, 0, true}, {0, 2, 0, false}};
    m_Fake->ports = {port};
    m_Fake->classDevices["PhysicalDrive0"] = {8, 0, 0, 1, 0};
    m_Fake->classDevices["PhysicalDrive1"] = {8, 0, 0, 0, 0};
    m_Fake->classDevices["CdRom0"] = {8, 0, 0, 9, 0};  // no such unit: closed again
    StartFake();
    {
        SCSI_NTPortIoCtl first(At(0, 0), 0);
        SCSI_NTPortIoCtl second(At(0, 1), 0);
        SCSI_NTPortIoCtl third(At(0, 2), 0);
        SCSI_NTPortIoCtl missing(At(0, 3), 0);
        EXPECT_EQ(missing.GetStatus(), ERR_NO_DEVICE);
        Issue(first, {kTestUnitReady, 0, 0, 0, 0, 0});
        Issue(second, {kTestUnitReady, 0, 0, 0, 0, 0});
        Issue(third, {kTestUnitReady, 0, 0, 0, 0, 0});
        EXPECT_EQ(m_Fake->sentTo, (std::vector<std::string>{"PhysicalDrive1", "PhysicalDrive0", "SCSI0:"}));
        EXPECT_EQ(m_Fake->openDevices, 3);
    }
    AlignedBuffer::UnregisterBufferMgr();  // the heap manager holds the driver too
    EXPECT_EQ(CNTPortDriver::References(), 0);
    EXPECT_EQ(m_Fake->openDevices, 0);  // the last release closed every handle
}

// A machine with more disks than 256 reaches every one through its class device.
TEST_F(NTPortDriverTest, ClassDevicesPast256AreFound)
{
    constexpr int kPorts = 3;  // of 16 targets with 8 LUNs: 384 disks
    const int index = AddClaimedDisks(*m_Fake, kPorts);
    StartFake();
    {
        SCSI_NTPortIoCtl last(At(kPorts - 1, 15, 7), 0);
        Issue(last, {kTestUnitReady, 0, 0, 0, 0, 0});
        EXPECT_EQ(m_Fake->sentTo, (std::vector<std::string>{"PhysicalDrive383"}));
        EXPECT_EQ(m_Fake->openDevices, index);
    }
    AlignedBuffer::UnregisterBufferMgr();
}

// A rescan of one port opens that port's class devices by what was learnt at
// start, not every class device of the machine: the adapters rescan one by
// one at start, and a walk each made the listing's cost grow with the square
// of the disks. A class device that now holds another unit is walked again.
TEST_F(NTPortDriverTest, RescanOpensOnlyItsPortsClassDevices)
{
    constexpr int kPorts = 4;
    constexpr int kDisksAPort = 16 * 8;
    const int index = AddClaimedDisks(*m_Fake, kPorts);
    StartFake();
    {
        DriverRef driver;
        for (int p = 0; p < kPorts; ++p) {
            m_Fake->classOpenTries = 0;
            ASSERT_EQ(driver->RescanBus(p), ERR_NONE);
            EXPECT_EQ(m_Fake->classOpenTries, kDisksAPort) << "port " << p;
        }

        // Two disks of port 1 trade class devices: the rescan finds each again.
        std::swap(m_Fake->classDevices["PhysicalDrive128"], m_Fake->classDevices["PhysicalDrive129"]);
        ASSERT_EQ(driver->RescanBus(1), ERR_NONE);
        m_Fake->sentTo.clear();
        SCSI_NTPortIoCtl first(At(1, 0, 0), 0);
        SCSI_NTPortIoCtl second(At(1, 0, 1), 0);
        Issue(first, {kTestUnitReady, 0, 0, 0, 0, 0});
        Issue(second, {kTestUnitReady, 0, 0, 0, 0, 0});
        EXPECT_EQ(m_Fake->sentTo, (std::vector<std::string>{"PhysicalDrive129", "PhysicalDrive128"}));
        EXPECT_EQ(m_Fake->openDevices, index);  // one handle a disk, none left over
    }
    AlignedBuffer::UnregisterBufferMgr();
}

TEST_F(NTPortDriverTest, RescanRelistsThePortAndKeepsItOnFailure)
{
    FakePort port;
    port.units = {{0, 0, 0, false}};
    m_Fake->ports = {port};
    StartFake();
    DriverRef driver;
    SCSI_NTPortIoCtl old(At(0, 0), 0);
    EXPECT_EQ(SCSI_NTPortIoCtl(At(0, 1), 0).GetStatus(), ERR_NO_DEVICE);

    m_Fake->ports[0].units.push_back({0, 1, 0, false});
    m_Fake->portCodes.clear();
    ASSERT_EQ(driver->RescanBus(0), ERR_NONE);
    ASSERT_GE(m_Fake->portCodes.size(), 2u);
    EXPECT_EQ(m_Fake->portCodes[0], IOCTL_SCSI_GET_CAPABILITIES);
    EXPECT_EQ(m_Fake->portCodes[1], IOCTL_SCSI_RESCAN_BUS);
    SCSI_NTPortIoCtl added(At(0, 1), 0);
    EXPECT_EQ(added.GetStatus(), ERR_NONE);

    // The old handle went with the rescan until the block asks again.
    EXPECT_EQ(Issue(old, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_DRIVER_FAILURE);
    EXPECT_EQ(old.GetDriverStatus(), ERR_DRIVER_IO);
    old.RefreshHandle();
    EXPECT_EQ(Issue(old, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);

    m_Fake->ports[0].refusesRescan = true;
    m_Fake->ports[0].units.clear();
    EXPECT_EQ(driver->RescanBus(0), ERR_DRIVER_FAILURE);
    EXPECT_EQ(Issue(added, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);
    EXPECT_EQ(driver->RescanBus(1), ERR_NO_HOST_ADAPTER);
}

TEST_F(NTPortDriverTest, OneSharedDriverCountedByItsHolders)
{
    FakePort port;
    port.units = {{0, 0, 0, false}};
    m_Fake->ports = {port};
    StartFake();
    EXPECT_EQ(CNTPortDriver::References(), 1);  // the heap buffer manager's
    {
        DriverRef first;
        DriverRef second;
        EXPECT_EQ(first.driver, second.driver);
        EXPECT_EQ(CNTPortDriver::References(), 3);
        SCSI_NTPortIoCtl block(At(0, 0), 0);
        SCSI_NTPortIoCtl copy(block);
        EXPECT_EQ(CNTPortDriver::References(), 5);
        EXPECT_EQ(Issue(copy, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);
        copy = block;
        EXPECT_EQ(CNTPortDriver::References(), 5);
    }
    AlignedBuffer::UnregisterBufferMgr();
    EXPECT_EQ(CNTPortDriver::References(), 0);

    // A new instance looks at the machine afresh.
    m_Fake->ports.push_back(FakePort{});
    harrow::platform::ReloadRegistry();
    {
        DriverRef driver;
        EXPECT_EQ(driver->AdapterCount(), 2);
    }

    std::vector<std::thread> holders;
    for (int t = 0; t < 4; ++t) {
        holders.emplace_back([] {
            for (int i = 0; i < 50; ++i) {
                CNTPortDriver::Acquire()->Release();
            }
        });
    }
    test_support::JoinWithin(holders, "threads acquiring and releasing the port driver");
    EXPECT_EQ(CNTPortDriver::References(), 0);
}

TEST_F(NTPortDriverTest, PortsEndAtTheFirstThatRefusesItsList)
{
    FakePort broken;
    broken.rawBusList = {1};  // too short for the bus entries it announces
    FakePort refusing;
    refusing.refusesList = true;
    m_Fake->ports = {FakePort{}, broken, refusing, FakePort{}};
    StartFake();
    DriverRef driver;
    EXPECT_EQ(driver->AdapterCount(), 2);
    int initiator = 0;
    long targets = -1;
    driver->AdapterInquiry(1, &initiator, nullptr, nullptr, &targets);
    EXPECT_EQ(initiator, 255);
    EXPECT_EQ(targets, 0);
}

}  // namespace
}  // namespace transport_test
