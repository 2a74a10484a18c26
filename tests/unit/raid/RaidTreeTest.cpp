// The device tree of a machine with a MegaRAID controller and Mylex
// controller LUNs: channel adapters after the ports, and controller ->
// channels -> targets -> disks under a Mylex LUN.
#include "core/devices/CDisk.h"
#include "core/system/CAMIRAIDChannel.h"
#include "core/system/CAMIRAIDHostAdapter.h"
#include "core/system/CComputerSystem.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CMylexRAIDDevice.h"
#include "core/system/CTarget.h"
#include "core/system/DiskExtRAID.h"
#include "core/system/MylexExtChannel.h"
#include "core/transport/SCSI_AMIRAID35xIoCtl.h"
#include "core/transport/SRB_ExecSCSICmd.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kMachine = R"({"name": "raid-tree", "ports": [
  {"driver": "aic78xx", "units": [
    {"target": 0, "serial": "PLAIN001"},
    {"target": 2, "vendor": "MYLEX", "product": "DAC960PTL1", "serial": "MYLEX002",
     "mylex": {"externalInquiry": 10, "drives": [
       {"channel": 0, "target": 1, "serial": "MYX00001"},
       {"channel": 3, "target": 125, "type": "tape", "serial": "MYX03125"}]}},
    {"target": 3, "vendor": "MYLEX", "serial": "OTHER003", "mylex": {"externalInquiry": 7}}]},
  {"driver": "MRAID35X", "buses": 2, "units": [
    {"bus": 1, "target": 5, "serial": "AMI00015", "faults": {"mediumErrors": [7]}}]}
]})";

std::vector<std::string> ChildLabels(CDevTreeNode& node)
{
    std::vector<std::string> labels;
    std::unique_ptr<CDevTreeIterator> children(node.GetChildrenIterator());
    while (children->HasNext()) {
        labels.push_back(children->Next()->GetScsiIDString());
    }
    return labels;
}

class RaidTreeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Home = test_support::MakeTestHome("raidtree");
        test_support::UseMachineFile(m_Home, kMachine);
        CComputerSystem::RegisterProductRunning("Raid Tree");
        m_System = CComputerSystem::Instance();
        ASSERT_EQ(m_System->Init(DRV_DEFAULT, BUFMGR_HEAP), ERR_NONE);
    }

    void TearDown() override
    {
        CComputerSystem::Destroy();
        test_support::LeaveTestHome(m_Home);
    }

    std::filesystem::path m_Home;
    CComputerSystem* m_System = nullptr;
};

TEST_F(RaidTreeTest, MegaRaidChannelsAreAdaptersAfterThePorts)
{
    ASSERT_EQ(m_System->NumHostAdapters(), 4);
    EXPECT_NE(dynamic_cast<CAMIRAIDHostAdapter*>(m_System->GetHostAdapter(1)), nullptr);
    for (int channel = 0; channel < 2; ++channel) {
        auto* adapter = dynamic_cast<CAMIRAIDChannel*>(m_System->GetHostAdapter(2 + channel));
        ASSERT_NE(adapter, nullptr);
        EXPECT_EQ(adapter->GetChannel(), channel);
        EXPECT_EQ(adapter->GetAssignedID(), 1) << "every call addresses the controller";
        EXPECT_EQ(adapter->GetHAString(), "mraid35x/");
    }
    EXPECT_EQ(m_System->GetHostAdapter(1)->GetTargetCount(), 0) << "no drive twice";
    SCSIDevice* drive = m_System->GetChannelDevice(1, 1, 5, 0);
    ASSERT_NE(drive, nullptr);
    EXPECT_EQ(drive->GetSerialNum_Str(), "AMI00015");
    EXPECT_EQ(m_System->GetChannelDevice(1, 0, 5, 0), nullptr);
}

TEST_F(RaidTreeTest, AMylexLunGrowsFourChannelsOfDisks)
{
    CHostAdapter* port = m_System->GetHostAdapter(0);
    auto* controller = dynamic_cast<CMylexRAIDDevice*>(m_System->GetSCSIDevice(0, 2, 0));
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(controller->GetDevType(), DEV_RAID_DISK);
    EXPECT_EQ(controller->GetScsiIDString(), "Target 2");
    EXPECT_EQ(controller->GetInquiryString().rfind("MYLEX     DAC960PTL1        (K100, ", 0), 0u)
        << controller->GetInquiryString();
    EXPECT_EQ(ChildLabels(*controller),
              (std::vector<std::string>{"Channel 0", "Channel 1", "Channel 2", "Channel 3"}));

    MylexExtChannel* first = controller->GetChannel(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->GetDevsSupported(), 126);
    EXPECT_EQ(first->GetTargetCount(), 1);
    auto* disk = dynamic_cast<DiskExtRAID*>(first->GetTarget(1)->GetSCSIDevice(0));
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->GetSerialNum_Str(), "MYX00001");
    EXPECT_EQ(disk->GetDevAddress().m_RaidChannel, 0);
    EXPECT_EQ(disk->GetDevAddress().m_RaidTarget, 1);
    EXPECT_EQ(controller->GetChannel(1)->GetTargetCount(), 0);
    auto* tape = dynamic_cast<DiskExtRAID*>(controller->GetChannel(3)->GetTarget(125)->GetSCSIDevice(0));
    ASSERT_NE(tape, nullptr) << "a tape behind a channel is built as a disk";
    EXPECT_EQ(tape->GetSerialNum_Str(), "MYX03125");

    // Another answer than 8 or 10 to the external inquiry, or none at all: an ordinary disk.
    for (int target : {0, 3}) {
        SCSIDevice* plain = m_System->GetSCSIDevice(0, target, 0);
        EXPECT_NE(dynamic_cast<CDisk*>(plain), nullptr) << target;
        EXPECT_EQ(dynamic_cast<CMylexRAIDDevice*>(plain), nullptr) << target;
    }
    EXPECT_EQ(port->GetTargetCount(), 3);
}

TEST_F(RaidTreeTest, MegaRaidBlockSendsThroughThePlugIn)
{
    SCSI_AMIRAID35xIoCtl ctl(CDevAddress(1, 5, 0, -1, -1, -1), 0, 1, 1);
    const auto* request = static_cast<const AmiRaidRequest_s*>(ctl.GetCtlBlock());
    unsigned char* cdb = ctl.GetCdb(true);
    cdb[0] = 0x00;  // TEST UNIT READY
    ASSERT_EQ(ctl.CompleteCmd(6, 0, 0, 30, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(request->Request.Direction, RaidRequest::kDirectionIn) << "no data goes as data in";
    EXPECT_EQ((std::array<int, 3>{request->Request.Adapter, request->Request.Channel, request->Request.Target}),
              (std::array<int, 3>{1, 1, 5}));
    EXPECT_EQ(ctl.DoIO(), ERR_NONE);
    EXPECT_EQ(ctl.IsCommandComplete(), ERR_CMD_COMPLETE);

    cdb = ctl.GetCdb(true);
    cdb[0] = 0xA8;  // READ(12): clamped to 12, refused by the plug-in
    ASSERT_EQ(ctl.CompleteCmd(12, 0, 0, 30, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(ctl.GetCdbLen(), 12);
    EXPECT_EQ(ctl.DoIO(), ERR_INVALID_REQUEST);

    // A medium error: the check condition comes back with the drive's sense.
    AlignedBuffer data(512);
    cdb = ctl.GetCdb(true);
    const unsigned char read10[10] = {0x28, 0, 0, 0, 0, 7, 0, 0, 1, 0};
    std::memcpy(cdb, read10, sizeof read10);
    ASSERT_EQ(ctl.SetBuffer(data.Ptr(), 512), ERR_NONE);
    ASSERT_EQ(ctl.CompleteCmd(10, 512, CScsiIoCtl::kFlagDataIn, 30, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(ctl.DoIO(), ERR_CHECK_CONDITION);
    SRB_ExecSCSICmd srb{};
    ctl.FillSRB(&srb);
    EXPECT_EQ(srb.SRB_Status, 0x04);
    const auto* sense = reinterpret_cast<const unsigned char*>(&srb.SenseArea);
    EXPECT_EQ((std::array<int, 3>{sense[2] & 0x0F, sense[12], sense[13]}), (std::array<int, 3>{3, 0x11, 0}));
}

}  // namespace
