// Trees built by scanning simulated machines: adapters, targets and LUNs in
// the orders the tree fixes, the probes' limits, silence and rescans.
#include "SystemTestSupport.h"
#include "support/FileText.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/devices/CLibraryDev.h"
#include "core/devices/CTape.h"
#include "core/log/CLogFile.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CIDEHostAdapter.h"
#include "core/system/CNTPortHostAdapter.h"
#include "core/system/CTarget.h"
#include "core/transport/CNTPortDriver.h"
#include "core/transport/SCSI_NTPortIoCtl.h"

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>

using test_support::ReadText;

using namespace system_test;

namespace {

constexpr const char* kMachine = R"({"name": "tree", "ports": [
  {"driver": "aic78xx", "deviceName": "AIC-7899", "units": [
    {"target": 5, "type": "changer"},
    {"target": 0, "serial": "SER00001"},
    {"target": 0, "lun": 1, "serial": "SER00002"},
    {"target": 3, "type": "cdrom"},
    {"target": 6, "type": "tape"}]},
  {"driver": "atapi", "units": []},
  {"driver": "fcport", "initiatorId": 20, "targetsPerBus": 32, "units": [{"target": 25}]}
]})";

class ScanTreeTest : public SystemFixture {
protected:
    void SetUp() override
    {
        SystemFixture::SetUp();
        UseMachine(kMachine);
    }
    static CComputerSystem* Scanned()
    {
        CComputerSystem* system = CComputerSystem::Instance();
        EXPECT_EQ(system->Init(DRV_NTPORT, BUFMGR_HEAP), ERR_NONE);
        return system;
    }
};

std::vector<std::string> ChildLabels(CDevTreeNode& node)
{
    std::vector<std::string> labels;
    std::unique_ptr<CDevTreeIterator> children(node.GetChildrenIterator());
    while (children->HasNext()) {
        labels.push_back(children->Next()->GetScsiIDString());
    }
    EXPECT_EQ(children->Next(), nullptr);
    return labels;
}

TEST_F(ScanTreeTest, AdaptersFollowTheDeviceMap)
{
    CComputerSystem* system = Scanned();
    EXPECT_EQ(system->GetDevType(), DEV_COMPUTER);
    ASSERT_EQ(system->NumHostAdapters(), 3);
    EXPECT_EQ(ChildLabels(*system), (std::vector<std::string>{"Host Adapter 0", "Host Adapter 1", "Host Adapter 2"}));
    EXPECT_EQ(system->GetHostAdapter(3), nullptr);
    EXPECT_EQ(system->GetHostAdapter(-1), nullptr);

    CHostAdapter* scsi = system->GetHostAdapter(0);
    EXPECT_NE(dynamic_cast<CNTPortHostAdapter*>(scsi), nullptr);
    EXPECT_EQ(scsi->GetInquiryString(), "AIC-7899");
    EXPECT_EQ(scsi->GetASPIString(), "aic78xx");
    EXPECT_EQ(scsi->GetHATargetNum(), 7);
    EXPECT_EQ(scsi->GetDevsSupported(), 16);

    // The IDE port is listed from the device map alone, without devices.
    CHostAdapter* ide = system->GetHostAdapter(1);
    EXPECT_NE(dynamic_cast<CIDEHostAdapter*>(ide), nullptr);
    EXPECT_EQ(ide->GetDevsSupported(), 8);
    EXPECT_TRUE(ide->IsATAPI());
    EXPECT_EQ(ide->GetTargetCount(), 0);

    // More than 16 IDs: Fibre Channel, keeping the count reported.
    CHostAdapter* fibre = system->GetHostAdapter(2);
    EXPECT_TRUE(fibre->IsFibre());
    EXPECT_EQ(fibre->GetDevsSupported(), 32);
    EXPECT_NE(system->GetSCSIDevice(2, 25, 0), nullptr);

    // A second Init leaves the tree alone.
    EXPECT_EQ(system->Init(DRV_NTPORT, BUFMGR_HEAP), ERR_ALREADY_INITIALIZED);
    EXPECT_EQ(system->GetHostAdapter(0), scsi);
}

TEST_F(ScanTreeTest, TargetsAscendAndLunsComeNewestFirst)
{
    CComputerSystem* system = Scanned();
    CHostAdapter* adapter = system->GetHostAdapter(0);
    EXPECT_EQ(ChildLabels(*adapter), (std::vector<std::string>{"Target 0", "Target 3", "Target 5", "Target 6"}));
    CTarget* scanned = adapter->GetTarget(3);
    EXPECT_EQ(system->GetSCSIDevice(CDevAddress(0, 3, 0, -1, -1, -1)), scanned->GetSCSIDevice(0));
    EXPECT_EQ(system->GetSCSIDevice(0, 1, 0), nullptr);
    EXPECT_EQ(system->GetSCSIDevice(0, 3, 1), nullptr);
    EXPECT_EQ(ChildLabels(*adapter->GetTarget(0)), (std::vector<std::string>{"LUN 1", "LUN 0"}));
    EXPECT_EQ(system->GetSCSIDevice(0, 0, 1)->GetSerialNum_Str(), "SER00002");
    EXPECT_EQ(system->GetSCSIDevice(9, 0, 0), nullptr);

    // LUNs go in ascending, so the newest-first order yields the highest first.
    CTarget target(0, 2);
    for (unsigned long lun : {0UL, 1UL, 2UL}) {
        target.AddSCSIDevice(new SCSIDevice(nullptr, 0, 2, lun));
    }
    target.AddSCSIDevice(new SCSIDevice(nullptr, 0, 2, 1));  // replaces LUN 1 in place
    std::vector<unsigned long> order;
    std::unique_ptr<CDevTreeIterator> children(target.GetChildrenIterator());
    while (children->HasNext()) {
        order.push_back(static_cast<SCSIDevice*>(children->Next())->GetLUNNum());
    }
    EXPECT_EQ(order, (std::vector<unsigned long>{2, 1, 0}));
    std::vector<unsigned long> cycled;
    for (int call = 0; call < 4; ++call) {
        cycled.push_back(target.GetNextDevice()->GetLUNNum());
    }
    EXPECT_EQ(cycled, (std::vector<unsigned long>{2, 1, 0, 2}));
}

TEST_F(ScanTreeTest, DevicesAreTypedFromInquiry)
{
    CComputerSystem* system = Scanned();
    EXPECT_NE(dynamic_cast<CDisk*>(system->GetSCSIDevice(0, 0, 0)), nullptr);
    SCSIDevice* cdrom = system->GetSCSIDevice(0, 3, 0);
    EXPECT_NE(dynamic_cast<CDisk*>(cdrom), nullptr);
    EXPECT_EQ(cdrom->GetDevType(), DEV_CDROM);
    EXPECT_NE(dynamic_cast<CLibraryDev*>(system->GetSCSIDevice(0, 5, 0)), nullptr);
    EXPECT_NE(dynamic_cast<CTape*>(system->GetSCSIDevice(0, 6, 0)), nullptr);
    // Absent LUNs answer with qualifier 3 and type 0x1F: left out.
    EXPECT_EQ(system->GetHostAdapter(0)->GetTarget(5)->GetNumLUNs(), 1);
}

// Probes through NT port blocks and remembers every address asked for.
class RecordingAdapter final : public CHostAdapter {
public:
    explicit RecordingAdapter(int number) : CHostAdapter(number) { SetDriver(CNTPortDriver::Acquire()); }
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex) override
    {
        probed.push_back(address.m_Target);
        luns.push_back(address.m_Lun);
        return new SCSI_NTPortIoCtl(address, blockIndex);
    }
    Error_t Rescan() override { return RescanCommon(); }
    bool MayAnswer(int target, unsigned long lun) override
    {
        return silent.count({target, static_cast<int>(lun)}) == 0;
    }
    void Claim(int ownId, long devices)
    {
        SetHATargetNum(ownId);
        SetDevsSupported(devices);
    }
    std::vector<int> probed;
    std::vector<int> luns;
    // Target and LUN the transport knows to be empty.
    std::set<std::pair<int, int>> silent;
};

TEST_F(ScanTreeTest, AdaptersOwnIdIsNeverProbed)
{
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    CComputerSystem::Instance()->SetSilent(true);
    RecordingAdapter adapter(0);
    adapter.Claim(5, 16);
    EXPECT_EQ(adapter.Init(), ERR_NONE);
    EXPECT_EQ(std::count(adapter.probed.begin(), adapter.probed.end(), 5), 0);
    EXPECT_EQ(std::count(adapter.probed.begin(), adapter.probed.end(), 15), 8);
    EXPECT_EQ(adapter.GetTarget(5), nullptr);
    EXPECT_NE(adapter.GetTarget(3), nullptr);

    // Nothing answers on IDs past the bus.
    EXPECT_EQ(*std::max_element(adapter.luns.begin(), adapter.luns.end()), 7);

    RecordingAdapter empty(0);
    empty.Claim(-1, 0);
    EXPECT_EQ(empty.Init(), ERR_INIT_FAILED);
}

TEST_F(ScanTreeTest, AddressesKnownEmptyCostNoControlBlock)
{
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    CComputerSystem::Instance()->SetSilent(true);
    RecordingAdapter adapter(0);
    adapter.Claim(7, 16);
    for (int target = 0; target < 16; ++target) {
        for (int lun = 0; lun < 8; ++lun) {
            if (target != 0 || lun > 1) {
                adapter.silent.insert({target, lun});
            }
        }
    }
    adapter.silent.erase({3, 0});
    EXPECT_EQ(adapter.Init(), ERR_NONE);
    // Each answering LUN: the probe's block, then the typed device's.
    EXPECT_EQ(adapter.probed, (std::vector<int>{0, 0, 0, 0, 3, 3}));
    EXPECT_EQ(adapter.luns, (std::vector<int>{0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(adapter.GetTargetCount(), 2);
    ASSERT_NE(adapter.GetTarget(0), nullptr);
    EXPECT_EQ(adapter.GetTarget(0)->GetNumLUNs(), 2);
}

TEST_F(ScanTreeTest, PortAnswersOnlyWhereItListedAUnit)
{
    CComputerSystem* system = Scanned();
    // Port, target, LUN.
    std::set<std::tuple<int, int, int>> answering;
    for (int port = 0; port < system->NumHostAdapters(); ++port) {
        CHostAdapter* adapter = system->GetHostAdapter(port);
        if (dynamic_cast<CNTPortHostAdapter*>(adapter) == nullptr) {
            continue;  // the ATAPI port's IDE adapter knows nothing beforehand
        }
        for (int target = 0; target < 32; ++target) {
            for (unsigned long lun = 0; lun < 8; ++lun) {
                if (adapter->MayAnswer(target, lun)) {
                    answering.insert({port, target, static_cast<int>(lun)});
                }
            }
        }
    }
    EXPECT_EQ(answering, (std::set<std::tuple<int, int, int>>{
                             {0, 0, 0}, {0, 0, 1}, {0, 3, 0}, {0, 5, 0}, {0, 6, 0}, {2, 25, 0}}));
}

TEST_F(ScanTreeTest, LunLimitBoundsEveryLaterProbe)
{
    EXPECT_FALSE(CTarget::SetMaxLuns(0));
    EXPECT_EQ(CTarget::GetMaxLuns(), 8);
    EXPECT_FALSE(CTarget::SetMaxLuns(-3));
    EXPECT_EQ(CTarget::GetMaxLuns(), 8);
    EXPECT_TRUE(CTarget::SetMaxLuns(2));
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    CComputerSystem::Instance()->SetSilent(true);
    RecordingAdapter adapter(0);
    adapter.Claim(7, 16);
    EXPECT_EQ(adapter.Init(), ERR_NONE);
    EXPECT_EQ(std::set<int>(adapter.luns.begin(), adapter.luns.end()), (std::set<int>{0, 1}));
}

TEST_F(ScanTreeTest, ScanIsSilentAndUnloggedUntilItCompletes)
{
    const std::string logPath = (m_Dir / "core.log").string();
    ASSERT_EQ(CLogFile::Init(logPath), ERR_NONE);
    CLogFile::Instance()->TurnOnLogOption(LOG_ALL);
    CLogFile::SetLogging(false);

    // The Fibre port names a channel transport, which only a scan may give: the scan stops there.
    CComputerSystem::RegisterProductRunning(kProduct);
    SetDword(OsKey("Win2000"), "defaultdriver", DRV_NTPORT);
    SetDword(OsKey("Win2000"), "fcport", DRV_AMIRAID_CHANNEL);
    SetDword(OsKey("Win2000"), "buffermgr", BUFMGR_HEAP);
    CComputerSystem* system = CComputerSystem::Instance();
    const Thrown thrown = CatchEvent([system] { system->Init(DRV_DEFAULT, BUFMGR_DEFAULT); });
    EXPECT_EQ(thrown.Code, ERR_DRIVER_NOT_INSTALLED);
    EXPECT_EQ(system->NumHostAdapters(), 2);
    EXPECT_EQ(system->IsSilent(), 2UL);
    EXPECT_FALSE(CLogFile::IsLoggingOn());

    ASSERT_EQ(system->ScanSystem(DRV_NTPORT), ERR_NONE);
    EXPECT_EQ(system->NumHostAdapters(), 3);
    EXPECT_EQ(system->IsSilent(), 0UL);
    EXPECT_TRUE(CLogFile::IsLoggingOn());
    CLogFile::Destroy();
    EXPECT_EQ(ReadText(logPath).find("SER00001"), std::string::npos);

    // The same device logs once logging is on: the check above can fail.
    ASSERT_EQ(CLogFile::Init(logPath), ERR_NONE);
    CLogFile::Instance()->TurnOnLogOption(LOG_ALL);
    system->GetSCSIDevice(0, 0, 0)->LogDeviceInfo();
    CLogFile::Destroy();
    EXPECT_NE(ReadText(logPath).find("SER00001"), std::string::npos);
}

TEST_F(ScanTreeTest, RescanReplacesTargetsWholesale)
{
    CComputerSystem* system = Scanned();
    CHostAdapter* adapter = system->GetHostAdapter(0);
    system->GetSCSIDevice(0, 0, 0)->SetUserString1("before rescan");
    EXPECT_EQ(adapter->Rescan(), ERR_NONE);
    EXPECT_EQ(adapter->GetTargetCount(), 4);
    SCSIDevice* disk = system->GetSCSIDevice(0, 0, 0);
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->GetUserString1(), "");
    // The new devices reach their units.
    system->ReloadDeviceHandles();
    EXPECT_EQ(disk->TestUnitReady(0), ERR_NONE);
}

TEST_F(ScanTreeTest, MultiThreadModeNeedsMultiModule)
{
    CComputerSystem* system = Scanned();
    EXPECT_FALSE(system->SetThreadMode(THREAD_MULTI));
    EXPECT_EQ(system->GetThreadMode(), THREAD_SINGLE);
    EXPECT_TRUE(system->SetMultiModule(true));
    EXPECT_TRUE(system->SetThreadMode(THREAD_MULTI));
    EXPECT_EQ(system->GetThreadMode(), THREAD_MULTI);
}

}  // namespace
