// Driver and buffer-manager selection from the device map and the product
// configuration: lookups by operating system, defaults and every failure.
#include "SystemTestSupport.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/system/AspiDriverSource.h"
#include "core/devices/SCSIDevice.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CIDEHostAdapter.h"
#include "core/system/OsType.h"
#include "core/transport/CScsiDriver.h"
#include "platform/Library.h"
#include "platform/System.h"

#include <filesystem>

using namespace system_test;

namespace {

using Inspector = ComputerSystemInspector;

// The built-in machine's device map: aic78xx, symmpi, atapi.
class DriverConfigTest : public SystemFixture {
protected:
    void SetUp() override
    {
        SystemFixture::SetUp();
        CComputerSystem::RegisterProductRunning(kProduct);
    }
    // Creates the product key so that the defaults are not written.
    void EmptyProduct() { SetDword(std::string("SOFTWARE\\Orb\\") + kProduct, "marker", 1); }
};

TEST_F(DriverConfigTest, OsTypeFollowsTheWindowsVersion)
{
    const std::pair<const char*, OsType_t> cases[] = {
        {"95", OS_WIN95}, {"98", OS_WIN98}, {"me", OS_WIN98}, {"nt4", OS_WINNT4}, {"2000", OS_WIN2000}, {"xp", OS_WIN2000},
    };
    for (const auto& [version, expected] : cases) {
        UseWindows(version);
        EXPECT_EQ(CComputerSystem::Instance()->GetOSVersion(), expected) << version;
    }
}

TEST_F(DriverConfigTest, FreshMachineGetsWorkingDefaultsOnce)
{
    ASSERT_FALSE(KeyExists("SOFTWARE\\Orb"));
    EXPECT_EQ(Inspector::DriverType("aic78xx"), DRV_NTPORT);
    EXPECT_EQ(Inspector::BufMgrType(), BUFMGR_HEAP);
    for (const char* os : {"Win2000", "WinNT", "Win98"}) {
        EXPECT_TRUE(KeyExists(OsKey(os))) << os;
    }
    // A configuration the user changed is never rewritten.
    SetDword(OsKey("Win2000"), "defaultdriver", DRV_NONE);
    EXPECT_EQ(Inspector::DriverType("aic78xx"), DRV_NONE);

    ASSERT_EQ(CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_DEFAULT), ERR_NONE);
    EXPECT_EQ(CComputerSystem::Instance()->NumHostAdapters(), 1);  // only the IDE port
}

TEST_F(DriverConfigTest, DriversOwnValueBeatsDefaultInEitherOrder)
{
    // Values enumerate by name: "aic78xx" before "defaultdriver", "symmpi" after it.
    for (const char* os : {"nt4", "2000"}) {
        UseWindows(os);
        CComputerSystem::RegisterProductRunning(kProduct);
        const std::string key = OsKey(std::string(os) == "nt4" ? "WinNT" : "Win2000");
        SetDword(key, "defaultdriver", DRV_ASPI);
        SetDword(key, "AIC78XX", DRV_NTPORT);
        SetDword(key, "SymMPI", DRV_NONE);
        Inspector::ListAdapters(DRV_DEFAULT);
        EXPECT_EQ(Inspector::DriverTypes(), (std::vector<Driver_t>{DRV_NTPORT, DRV_NONE, DRV_IDE})) << os;
        EXPECT_EQ(Inspector::DriverType("other"), DRV_ASPI) << os;
        EXPECT_EQ(CComputerSystem::Instance()->GetNumHAs(), 3);
    }
}

TEST_F(DriverConfigTest, AtapiAndEsdiPortsAreIdeWithoutLookup)
{
    UseMachine(R"({"ports": [{"driver": "ATAPI", "units": []}, {"driver": "myEsdiPort", "units": []}]})");
    // No product at all: any lookup would throw.
    CComputerSystem::RegisterProductRunning("");
    Inspector::ListAdapters(DRV_DEFAULT);
    EXPECT_EQ(Inspector::DriverTypes(), (std::vector<Driver_t>{DRV_IDE, DRV_IDE}));
}

TEST_F(DriverConfigTest, FixedTransportNeedsNoConfiguration)
{
    CComputerSystem::RegisterProductRunning("");
    ASSERT_EQ(CComputerSystem::Instance()->Init(DRV_NTPORT, BUFMGR_HEAP), ERR_NONE);
    EXPECT_EQ(CComputerSystem::Instance()->NumHostAdapters(), 3);
    EXPECT_FALSE(KeyExists("SOFTWARE\\Orb"));
}

TEST_F(DriverConfigTest, MissingConfigurationLeavesInitOpenForAFixedTransport)
{
    EmptyProduct();
    CComputerSystem* system = CComputerSystem::Instance();
    const Thrown thrown = CatchEvent([system] { system->Init(DRV_DEFAULT, BUFMGR_DEFAULT); });
    EXPECT_EQ(thrown.Code, ERR_REGISTRY_ACCESS);
    EXPECT_EQ(system->GetStatus(), DEV_STATUS_NOT_CONFIGURED);
    ASSERT_EQ(system->Init(DRV_NTPORT, BUFMGR_HEAP), ERR_NONE);
    EXPECT_EQ(system->NumHostAdapters(), 3);
    EXPECT_EQ(system->Init(DRV_NTPORT, BUFMGR_HEAP), ERR_ALREADY_INITIALIZED);
}

TEST_F(DriverConfigTest, PortWithoutTransportKeepsLaterAdapterNumbers)
{
    // The first port gets no adapter object: adapter 1 sits at index 0.
    SetDword(OsKey("Win2000"), "defaultdriver", DRV_NTPORT);
    SetDword(OsKey("Win2000"), "aic78xx", DRV_NONE);
    CComputerSystem* system = CComputerSystem::Instance();
    ASSERT_EQ(system->Init(DRV_DEFAULT, BUFMGR_HEAP), ERR_NONE);
    ASSERT_EQ(system->NumHostAdapters(), 2);
    EXPECT_EQ(system->GetHostAdapter(0)->GetAssignedID(), 1);
    EXPECT_EQ(system->GetSCSIDevice(0, 2, 0), nullptr);
    SCSIDevice* device = system->GetSCSIDevice(1, 2, 0);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->GetDevAddress(), CDevAddress(1, 2, 0, -1, -1, -1));
}

TEST_F(DriverConfigTest, RaidControllerPortListsOneChannelPerSubkey)
{
    // symmpi has two buses, so two subkeys.
    SetDword(OsKey("Win2000"), "defaultdriver", DRV_NTPORT);
    SetDword(OsKey("Win2000"), "symmpi", DRV_AMIRAID);
    Inspector::ListAdapters(DRV_DEFAULT);
    EXPECT_EQ(Inspector::DriverTypes(), (std::vector<Driver_t>{DRV_NTPORT, DRV_AMIRAID, DRV_IDE}));
    const auto& channels = Inspector::RaidChannels();
    ASSERT_EQ(channels.size(), 2U);
    for (int k = 0; k < 2; ++k) {
        EXPECT_EQ(channels[k].PortIndex, 1);
        EXPECT_EQ(channels[k].Channel, k);
        EXPECT_EQ(channels[k].Driver, DRV_AMIRAID_CHANNEL);
    }
    EXPECT_EQ(CComputerSystem::Instance()->GetNumHAs(), 5);
    EXPECT_EQ(CComputerSystem::Instance()->GetNumRAIDChannels(), 2);
}

TEST_F(DriverConfigTest, LookupFailuresCarryTheirTextAndCode)
{
    CComputerSystem::RegisterProductRunning("");
    Thrown thrown = CatchEvent([] { Inspector::DriverType("aic78xx"); });
    EXPECT_EQ(thrown.Text, "Could not find product running string - application must register itself");
    EXPECT_EQ(thrown.Code, ERR_PRODUCT_NOT_REGISTERED);
    thrown = CatchEvent([] { CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_HEAP); });
    EXPECT_EQ(thrown.Code, ERR_PRODUCT_NOT_REGISTERED);
    EXPECT_EQ(CComputerSystem::Instance()->NumHostAdapters(), 0);

    CComputerSystem::RegisterProductRunning(kProduct);
    EmptyProduct();
    thrown = CatchEvent([] { Inspector::BufMgrType(); });
    EXPECT_EQ(thrown.Text, "Could not open DriverExceptions for the product");
    EXPECT_EQ(thrown.Code, ERR_REGISTRY_ACCESS);

    SetDword(OsKey("Other"), "x", 1);
    const std::tuple<const char*, const char*, Error_t, Error_t> osCases[] = {
        {"2000", "Could not open OS win2000 for products driver exceptions", ERR_REGISTRY_ACCESS, ERR_REGISTRY_ACCESS},
        {"nt4", "Could not open OS winNT for products driver exceptions", ERR_REGISTRY_ACCESS, ERR_REGISTRY_ACCESS},
        {"98", "Could not open OS win98 for products driver exceptions", ERR_REGISTRY_ACCESS, ERR_DRIVER_FAILURE},
    };
    for (const auto& [os, text, driverCode, bufferCode] : osCases) {
        UseWindows(os);
        CComputerSystem::RegisterProductRunning(kProduct);
        thrown = CatchEvent([] { Inspector::DriverType("aic78xx"); });
        EXPECT_EQ(thrown.Text, text);
        EXPECT_EQ(thrown.Code, driverCode) << os;
        thrown = CatchEvent([] { Inspector::BufMgrType(); });
        EXPECT_EQ(thrown.Text, text);
        EXPECT_EQ(thrown.Code, bufferCode) << os;
    }
}

TEST_F(DriverConfigTest, StoredDefaultsCountAsMissing)
{
    EmptyProduct();
    SetDword(OsKey("Win2000"), "aic78xx", DRV_DEFAULT);
    SetDword(OsKey("Win2000"), "buffermgr", BUFMGR_DEFAULT);
    Thrown thrown = CatchEvent([] { Inspector::DriverType("aic78xx"); });
    EXPECT_EQ(thrown.Text, "Did not find DefaultDriver value, nor specific driver for the HA");
    EXPECT_EQ(thrown.Code, ERR_NO_DRIVER_CONFIGURED);
    thrown = CatchEvent([] { Inspector::BufMgrType(); });
    EXPECT_EQ(thrown.Text, "Could not find BufferMgr Value in registry");
    EXPECT_EQ(thrown.Code, ERR_NO_BUFFERMGR_VALUE);
    thrown = CatchEvent([] { CComputerSystem::Instance()->Init(DRV_NTPORT, BUFMGR_DEFAULT); });
    EXPECT_EQ(thrown.Code, ERR_NO_BUFFERMGR_VALUE);

    SetDword(OsKey("Win2000"), "BufferMgr", BUFMGR_VXD);
    EXPECT_EQ(Inspector::BufMgrType(), BUFMGR_VXD);
}

TEST_F(DriverConfigTest, MistypedValueIsRefusedNotGuessed)
{
    EmptyProduct();
    SetString(OsKey("Win2000"), "defaultdriver", "4");
    SetString(OsKey("Win2000"), "unrelated", std::string(300, 'x'));
    const Thrown thrown = CatchEvent([] { Inspector::DriverType("aic78xx"); });
    EXPECT_EQ(thrown.Text, "Driver exceptions value \"defaultdriver\" is not a DWORD");
    EXPECT_EQ(thrown.Code, ERR_REGISTRY_ACCESS);
}

TEST_F(DriverConfigTest, UnknownOrUnbuiltTransportStopsTheScanClearly)
{
    SetDword(OsKey("Win2000"), "defaultdriver", 42);
    Thrown thrown = CatchEvent([] { CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_HEAP); });
    EXPECT_EQ(thrown.Text, "Unknown driver type 42 configured for host adapter 0");
    EXPECT_EQ(thrown.Code, ERR_NO_DRIVER_CONFIGURED);

    CComputerSystem::Destroy();
    CComputerSystem::RegisterProductRunning(kProduct);
    SetDword(OsKey("Win2000"), "defaultdriver", DRV_NTPORT);
    SetDword(OsKey("Win2000"), "symmpi", DRV_AMIRAID_CHANNEL);
    thrown = CatchEvent([] { CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_HEAP); });
    EXPECT_EQ(thrown.Text, "Driver is not installed correctly");
    EXPECT_EQ(thrown.Code, ERR_DRIVER_NOT_INSTALLED);
    // The adapter before it stays.
    EXPECT_EQ(CComputerSystem::Instance()->NumHostAdapters(), 1);
}

TEST_F(DriverConfigTest, MalformedRegistryFailsWithTheFirstKey)
{
    WriteRegistryText("not a registry file\n");
    Thrown thrown = CatchEvent([] { Inspector::BufMgrType(); });
    EXPECT_EQ(thrown.Text, "Could not open registry key HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb");
    thrown = CatchEvent([] { Inspector::ListAdapters(DRV_NTPORT); });
    EXPECT_EQ(thrown.Text, "Could not open registry key HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\Scsi");
}

// What OrbInst and a restart leave on Windows 9x: our ASPI layer in the system folder.
void InstallAspiLayer()
{
    char system[4096];
    char program[4096];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
    std::filesystem::copy_file(std::filesystem::path(program).parent_path() / "libwnaspi32.so",
                               std::filesystem::path(system) / "WNASPI32.DLL",
                               std::filesystem::copy_options::overwrite_existing);
}

TEST_F(DriverConfigTest, BufferManagerChoiceByOs)
{
    // Windows 9x never reads the registry: a broken one does not matter.
    UseWindows("98");
    InstallAspiLayer();
    WriteRegistryText("not a registry file\n");
    EXPECT_EQ(Inspector::SetupBufferMgr(BUFMGR_DEFAULT), ERR_NONE);  // the ASPI manager
    unsigned long available = 0;
    AlignedBuffer::GetAvailable(&available);
    EXPECT_EQ(available, 0x80000u);
    EXPECT_EQ(Inspector::SetupBufferMgr(BUFMGR_HEAP), ERR_NONE);
    // The transfer-buffer driver is not there: its manager has no block.
    const Thrown thrown = CatchEvent([] { CComputerSystem::Instance()->Init(DRV_DEFAULT, BUFMGR_VXD); });
    EXPECT_EQ(thrown.Text, "There is no buffer available.");
    EXPECT_EQ(thrown.Code, ERR_NO_MEMORY);
}

TEST_F(DriverConfigTest, NoxBufferSizeCreatesItsKey)
{
    const std::string key = "SYSTEM\\CurrentControlSet\\Services\\noxclass\\Parameters";
    ASSERT_FALSE(KeyExists(key));
    EXPECT_EQ(CComputerSystem::ChangeNOXMemorySize(65536), ERR_NONE);
    HKEY handle = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle), ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof value;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(handle, "BufferSize", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    RegCloseKey(handle);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(value, 65536U);

    WriteRegistryText("broken\n");
    EXPECT_EQ(CComputerSystem::ChangeNOXMemorySize(1), ERR_DRIVER_NOT_INSTALLED);
}

// An ASPI layer with an IDE channel and a SCSI adapter.
class FakeAspiDriver final : public CSharedScsiDriver<FakeAspiDriver> {
public:
    Error_t RescanBus(int) override { return ERR_NONE; }
    Error_t Send(HANDLE, void*) override { return ERR_NONE; }
    bool WaitDone(void*) override { return true; }
    Error_t GetCompletion(void*, bool) override { return ERR_NONE; }
    long AdapterCount() override { return 2; }
    Error_t AdapterInquiry(int adapter, int* id, std::string* manager, std::string* name, long* devices) override
    {
        *id = adapter == 0 ? 1 : 7;
        *manager = adapter == 0 ? "ESDI_506 manager" : "ASPI for WIN32";
        *name = adapter == 0 ? "IDE channel" : "AHA-2940";
        *devices = adapter == 0 ? 2 : 16;
        return ERR_NONE;
    }
    HANDLE GetDeviceHandle(const CDevAddress&) override { return nullptr; }
    Error_t Init() override { return ERR_NONE; }
    Error_t Free() override { return ERR_NONE; }
};

CScsiDriver* AcquireFakeAspi()
{
    return FakeAspiDriver::Acquire();
}

TEST_F(DriverConfigTest, Windows9xListsAspiAdaptersWithoutTheRegistry)
{
    UseWindows("95");
    InstallAspiLayer();
    // Our ASPI layer lists the built-in machine's ports; the IDE channel by its driver's name.
    Inspector::ListAdapters(DRV_NTPORT);
    EXPECT_EQ(Inspector::DriverTypes(), (std::vector<Driver_t>{DRV_ASPI, DRV_ASPI, DRV_IDE}));

    WriteRegistryText("not a registry file\n");
    SetAspiDriverAcquirer(AcquireFakeAspi);
    Inspector::ListAdapters(DRV_NTPORT);
    EXPECT_EQ(Inspector::DriverTypes(), (std::vector<Driver_t>{DRV_IDE, DRV_ASPI}));
    EXPECT_EQ(CComputerSystem::Instance()->GetNumHAs(), 2);

    CIDEHostAdapter ide(0);
    EXPECT_EQ(ide.Inquiry(), ERR_NONE);
    EXPECT_EQ(ide.GetDevsSupported(), 2);
    EXPECT_EQ(ide.GetHAString(), "IDE channel");
    SetAspiDriverAcquirer(nullptr);
    EXPECT_EQ(FakeAspiDriver::References(), 0);
}

}  // namespace
