// Nox adapters chosen by the default configuration, sized and rescanned.
#include "SystemTestSupport.h"

#include "core/devices/SCSIDevice.h"
#include "core/system/CHostAdapter.h"
#include "core/transport/CScsiIoCtl.h"

using namespace system_test;

namespace {

using Inspector = ComputerSystemInspector;

const char* kMachine = R"({"name": "nox-select", "ports": [
  {"driver": "aic78xx", "units": [{"target": 0}]},
  {"port": 1, "driver": "lp6nds35", "deviceName": "LP9002", "nox": true, "buses": 5, "targetsPerBus": 31,
   "initiatorId": 255, "units": [{"bus": 1, "target": 0}, {"bus": 2, "target": 9}]}
]})";

constexpr const char* kNoxParameters = "SYSTEM\\CurrentControlSet\\Services\\noxclass\\Parameters";

DWORD BufferSize()
{
    HKEY key = nullptr;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kNoxParameters, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    RegQueryValueExA(key, "BufferSize", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return value;
}

class NoxSelection : public SystemFixture {
protected:
    void SetUp() override
    {
        SystemFixture::SetUp();
        UseMachine(kMachine);
        CComputerSystem::RegisterProductRunning(kProduct);
    }
};

TEST_F(NoxSelection, DefaultConfigurationPicksNoxAndSizesItsPool)
{
    ASSERT_EQ(CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_DEFAULT), ERR_NONE);
    EXPECT_EQ(Inspector::DriverTypes(), (std::vector<Driver_t>{DRV_NTPORT, DRV_NOX}));
    EXPECT_EQ(BufferSize(), 16u * 1024 * 1024);
    CHostAdapter* fibre = CComputerSystem::Instance()->GetHostAdapter(1);
    ASSERT_NE(fibre, nullptr);
    EXPECT_TRUE(fibre->IsFibre());
    EXPECT_EQ(fibre->GetDevsSupported(), 124);
    EXPECT_EQ(fibre->GetHATargetNum(), 255);
    EXPECT_EQ(fibre->GetASPIString(), "lp6nds35");
    EXPECT_EQ(fibre->GetHAString(), "LP9002");
    EXPECT_NE(CComputerSystem::Instance()->GetSCSIDevice(1, 0, 0), nullptr);
    EXPECT_NE(CComputerSystem::Instance()->GetSCSIDevice(1, 40, 0), nullptr);
    EXPECT_EQ(fibre->GetTargetCount(), 2);

    // A rescan of the adapter finds the same drives, reachable again.
    EXPECT_EQ(fibre->Rescan(), ERR_NONE);
    SCSIDevice* drive = CComputerSystem::Instance()->GetSCSIDevice(1, 40, 0);
    ASSERT_NE(drive, nullptr);
    ASSERT_NE(drive->GetCtlBlock(0), nullptr);
    EXPECT_NE(drive->GetCtlBlock(0)->GetStatus(), ERR_NO_DEVICE);
    EXPECT_NE(CComputerSystem::Instance()->GetSCSIDevice(0, 0, 0), nullptr);
}

TEST_F(NoxSelection, PoolSizeAlreadySetIsKept)
{
    SetDword(kNoxParameters, "BufferSize", 1024 * 1024);
    ASSERT_EQ(CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_DEFAULT), ERR_NONE);
    EXPECT_EQ(BufferSize(), 1024u * 1024);
}

}  // namespace
