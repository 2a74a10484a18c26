// The device base: identity defaults, flags, sizes, labels and shared accounting.
#include "DeviceTestSupport.h"

#include "core/system/CComputerSystem.h"
#include "core/system/CTarget.h"

#include <memory>

namespace devices_test {
namespace {

TEST(OrbDevice, SilentRestoreAndSystemSilence)
{
    CComputerSystem::Destroy();
    SCSIDevice device(nullptr, 0, 0, 0);
    device.SetInTest(true);
    device.SetLogEnabled(true);
    const unsigned long saved = device.SetSilent(true);
    EXPECT_EQ(saved, 5UL);
    EXPECT_EQ(device.GetLogState(), 13UL);
    device.SetLogState(saved);
    EXPECT_EQ(device.IsSilent(), 0UL);

    // The computer system's silence makes every device silent.
    CComputerSystem::Instance()->SetSilent(true);
    EXPECT_EQ(device.IsSilent(), 8UL);
    CComputerSystem::Destroy();
}

TEST(OrbDevice, BlocksToKBytes)
{
    SCSIDevice device(nullptr, 0, 0, 0);
    EXPECT_EQ(device.BlocksToKBytes(3), 0);  // no block length yet
    device.SetBlockLength(512);
    EXPECT_EQ(device.BlocksToKBytes(3), 1);
    // Four million 4 KiB blocks: the product does not wrap at 32 bits.
    device.SetBlockLength(4096);
    EXPECT_EQ(device.BlocksToKBytes(4000000), 16000000);
}

TEST(OrbDevice, LabelsFollowTheTargetsLunCount)
{
    FakeAdapter adapter(1);
    auto* target3 = new CTarget(1, 3);
    auto* target5 = new CTarget(1, 5);
    adapter.AddTarget(target3);
    adapter.AddTarget(target5);
    auto* alone = new SCSIDevice(&adapter, 1, 3, 0);
    target3->AddSCSIDevice(alone);
    auto* lun0 = new SCSIDevice(&adapter, 1, 5, 0);
    auto* lun1 = new SCSIDevice(&adapter, 1, 5, 1);
    target5->AddSCSIDevice(lun0);
    target5->AddSCSIDevice(lun1);

    EXPECT_EQ(alone->GetScsiIDString(), "Target 3");
    EXPECT_EQ(lun1->GetScsiIDString(), "LUN 1");
    EXPECT_EQ(lun0->GetScsiIDString(), "LUN 0");

    lun1->SetVendor("KESTREL");
    lun1->SetModelName("KX18LVD");
    lun1->SetFirmwareVersion("K100");
    lun1->SetHighBlock(2097151);
    EXPECT_EQ(lun1->GetInquiryString(), "KESTREL  KX18LVD  (K100, 2097151)");
}

class Copyable : public OrbDevice {
public:
    using OrbDevice::_InitCritSects;
};

TEST(OrbDevice, CopiesShareAccountingAndNeverDeleteItTwice)
{
    auto original = std::make_unique<Copyable>();
    ASSERT_TRUE(original->AllocateResource());
    original->_InitCritSects();  // a second set-up changes nothing
    original->SetSoftErrorAlarm(2);
    original->IncSoftErrors();

    auto copy = std::make_unique<Copyable>(*original);
    Copyable assigned;
    assigned = *original;
    EXPECT_EQ(copy->GetErrorInfo(), original->GetErrorInfo());
    EXPECT_EQ(assigned.GetPerformance(), original->GetPerformance());

    original.reset();  // the copies keep working on the shared objects
    copy->IncSoftErrors();
    EXPECT_TRUE(assigned.SoftErrorAlarmTripped());
    copy->SetReadPerfAlarm(1000, PerfAlarmAverage);
    copy->GetPerformance()->AddReadData(1, 10, 1.0f, 0);
    EXPECT_TRUE(assigned.ReadPerformanceAlarmTripped());
    EXPECT_FALSE(assigned.WritePerformanceAlarmTripped());
    copy.reset();
    EXPECT_EQ(assigned.GetErrorInfo()->GetSoftErrors(), 2);
}

}  // namespace
}  // namespace devices_test
