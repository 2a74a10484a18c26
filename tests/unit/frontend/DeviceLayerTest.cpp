#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/InitSystem.h"
#include "machine/MachineFile.h"
#include "machine/SimulatedMachine.h"
#include "machine/StateFolder.h"
#include "machine/drives/DriveFactory.h"
#include "core/transport/NTPortRequest.h"
#include "frontend/DeviceRecord.h"
#include "support/BoundedWait.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Every CDB the port saw, with its transfer length, in order.
struct SentCommand {
    std::vector<std::uint8_t> cdb;
    ULONG length;
    bool operator==(const SentCommand&) const = default;
};

class CdbLog {
public:
    void Add(SentCommand command)
    {
        std::lock_guard guard(m_lock);
        m_sent.push_back(std::move(command));
    }
    std::vector<SentCommand> Take()
    {
        std::lock_guard guard(m_lock);
        return std::exchange(m_sent, {});
    }

private:
    std::mutex m_lock;
    std::vector<SentCommand> m_sent;
};

CdbLog g_sent;

class RecordingDevice final : public harrow::platform::Device {
public:
    explicit RecordingDevice(std::unique_ptr<harrow::platform::Device> inner) : m_inner(std::move(inner)) {}
    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override
    {
        if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT && in != nullptr && inSize >= sizeof(SCSI_PASS_THROUGH_DIRECT)) {
            const auto* spt = static_cast<const SCSI_PASS_THROUGH_DIRECT*>(in);
            g_sent.Add({std::vector<std::uint8_t>(spt->Cdb, spt->Cdb + spt->CdbLength), spt->DataTransferLength});
        }
        return m_inner->IoControl(code, in, inSize, out, outSize, bytesReturned, error);
    }

private:
    std::unique_ptr<harrow::platform::Device> m_inner;
};

// The machine file's machine, with the pass-through requests noted on the way.
class RecordingMachine final : public harrow::platform::Machine {
public:
    explicit RecordingMachine(const std::string& file)
        : m_inner(harrow::machine::ReadMachineFile(file), file, harrow::machine::StateRoot(),
                  harrow::machine::MakeSimulatedUnit)
    {
    }
    std::unique_ptr<harrow::platform::Device> Open(const std::string& name, DWORD access, DWORD* error) override
    {
        auto device = m_inner.Open(name, access, error);
        return device ? std::make_unique<RecordingDevice>(std::move(device)) : nullptr;
    }
    std::vector<harrow::platform::RegistryKey> DeviceMap() const override { return m_inner.DeviceMap(); }

private:
    harrow::machine::SimulatedMachine m_inner;
};

// One simulated machine for the whole program: a Kestrel drive with self
// test at 0:0:0, one without at 0:1:0, another maker's disk at 0:2:0 and a
// tape at 0:4:0.
class MachineEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        m_root = test_support::MakeTestHome("frontend");
        std::ofstream(m_root / "registry.reg")
            << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
               "\"CommandPauseMs\"=dword:00000000\n\n";
        setenv("HARROW_MACHINE", (std::string(HARROW_TEST_MACHINES) + "/lab.json").c_str(), 1);
        harrow::platform::SetActiveMachine(
            std::make_unique<RecordingMachine>(std::string(HARROW_TEST_MACHINES) + "/lab.json"));
        ASSERT_TRUE(InitSystem("Harrow Viraradiza"));
    }
    void TearDown() override
    {
        CComputerSystem::Destroy();
        test_support::LeaveTestHome(m_root);
    }

private:
    fs::path m_root;
};

const auto* const g_machine = ::testing::AddGlobalTestEnvironment(new MachineEnvironment);

DeviceRecord At(int target)
{
    DeviceRecord record;
    record.hostAdapter = 0;
    record.target = target;
    record.lun = 0;
    return record;
}

CdbRequest In(const std::uint8_t* cdb, int length, std::uint8_t* data, std::uint32_t bytes, bool report = false)
{
    CdbRequest request;
    request.cdb = cdb;
    request.cdbLength = length;
    request.data = data;
    request.length = bytes;
    request.report = report;
    return request;
}

TEST(CommandRoutine, GoodCommandCarriesOutWithOutcomeZero)
{
    EXPECT_EQ(CommandPauseMs(), 0UL);
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t data[36] = {};
    RequestBlock block{};
    int outcome = -1;
    EXPECT_EQ(ExecuteCdb(In(inquiry, 6, data, 36), 0, 0, 0, block, outcome), kCmdCarriedOut);
    EXPECT_EQ(outcome, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data) + 8, 7), "KESTREL");
    EXPECT_EQ(block.CDBByte[0], 0x12);
    EXPECT_EQ(block.SRB_Target, 0);
    EXPECT_EQ(block.SRB_TargStat, 0);
}

TEST(CommandRoutine, MissingDeviceAnswers130)
{
    const std::uint8_t tur[6] = {};
    RequestBlock block{};
    int outcome = 0;
    EXPECT_EQ(ExecuteCdb(In(tur, 6, nullptr, 0), 0, 9, 0, block, outcome), kCmdNoDevice);
    EXPECT_EQ(outcome, 1);
    EXPECT_EQ(ExecuteCdb(In(tur, 6, nullptr, 0), 7, 0, 0, block, outcome), kCmdNoDevice);
}

TEST(CommandRoutine, CheckConditionKeepsSenseAndReportsTheCommandError)
{
    const std::uint8_t readCapacity[10] = {0x25};
    std::uint8_t data[8] = {};
    RequestBlock block{};
    int outcome = 0;
    ::testing::internal::CaptureStderr();
    const int result = ExecuteCdb(In(readCapacity, 10, data, 8, true), 0, 4, 0, block, outcome);
    const std::string box = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(result, kCmdCarriedOut);
    EXPECT_EQ(outcome, 2);
    EXPECT_EQ(block.SRB_TargStat, 2);
    EXPECT_EQ(LastSense()[2] & 0x0F, 0x05);
    EXPECT_EQ(LastSense()[12], 0x20);
    EXPECT_NE(box.find("Command Error"), std::string::npos) << box;
    EXPECT_NE(box.find("SCSI Command 0x25 failed for device 0:4:0 \n"
                       "Sense Key = 0x05, Code = 0x20, ASQ = 0x00\n Illegal Request, \nInvalid Command opcode \n\n"
                       "Host Status = 00, SRB Status = 00"),
              std::string::npos)
        << box;

    // Without the report flag nothing is shown.
    ::testing::internal::CaptureStderr();
    ExecuteCdb(In(readCapacity, 10, data, 8, false), 0, 4, 0, block, outcome);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(CommandRoutine, RoutingByAddressForm)
{
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::uint8_t data[36] = {};
    RequestBlock block{};
    int outcome = -1;
    // HA:CH:TAR:LUN names a MegaRAID channel's drive; port 0 is no such controller.
    for (int kind : {KIND_CHANNEL, KIND_CHANNEL_ALT}) {
        DeviceRecord channel = At(2);
        channel.kind = kind;
        channel.channel = 0;
        EXPECT_EQ(RouteCdb(channel, In(inquiry, 6, data, 36), block, outcome), kCmdNoDevice) << kind;
    }

    // A plain drive refuses the controller's wrapping command: the wrapped one is never sent.
    DeviceRecord raid = At(3);
    raid.kind = KIND_RAID;
    raid.raidTarget = 0;
    raid.channel = 1;
    outcome = 0;
    const int raidResult = RouteCdb(raid, In(inquiry, 6, data, 36), block, outcome);
    EXPECT_FALSE(raidResult == kCmdCarriedOut && outcome == 0);
    EXPECT_EQ(block.CDBByte[0], 0x22);
    EXPECT_EQ(block.CDBByte[2], 0xAD);

    DeviceRecord unknown = At(0);
    unknown.kind = 7;
    outcome = -1;
    EXPECT_EQ(RouteCdb(unknown, In(inquiry, 6, data, 36), block, outcome), kCmdCarriedOut);
    EXPECT_EQ(outcome, -1) << "nothing is sent for an unknown form";
}

TEST(DeviceQueries, IdentityAndMakerTest)
{
    DeviceIdentity identity;
    std::array<std::uint8_t, kIdentityBytes> copy{};
    ASSERT_EQ(ReadIdentity(At(0), identity, copy.data()), 0);
    EXPECT_EQ(identity.vendor, "KESTREL ");
    EXPECT_EQ(identity.product, "KX18LVD         ");
    EXPECT_EQ(identity.serialNumber, "LAB00001");
    for (const std::uint8_t byte : copy) {
        EXPECT_TRUE(std::isalnum(byte) || byte == ' ') << int(byte);
    }
    EXPECT_EQ(ReadIdentity(At(9), identity), -1);
    EXPECT_EQ(identity.vendor, "");

    EXPECT_TRUE(IsKestrelDrive(At(0)));
    EXPECT_TRUE(IsKestrelDrive(At(1)));
    EXPECT_FALSE(IsKestrelDrive(At(2)));
    EXPECT_FALSE(IsKestrelDrive(At(4)));
    EXPECT_TRUE(IsDstSupported(At(0)));
    EXPECT_FALSE(IsDstSupported(At(1)));
}

TEST(DeviceQueries, TypeCapacityAndModePages)
{
    CComputerSystem::Instance()->SetSilent(false);
    int type = -1;
    EXPECT_TRUE(GetPeripheralType(0, 4, 0, type));
    EXPECT_EQ(type, 1);
    EXPECT_EQ(CComputerSystem::Instance()->IsSilent(), 0UL) << "the silent flag is restored";
    EXPECT_FALSE(GetPeripheralType(0, 9, 0, type));
    EXPECT_EQ(type, -1);

    std::uint64_t lastLba = 0;
    std::uint32_t blockLength = 0;
    EXPECT_EQ(ReadCapacity(At(0), lastLba, blockLength), 0);
    EXPECT_EQ(lastLba, 2097151U);
    EXPECT_EQ(blockLength, 512U);
    EXPECT_NE(ReadCapacity(At(4), lastLba, blockLength), 0);

    std::array<std::uint8_t, 247> page{};
    DeviceRecord drive = At(0);
    EXPECT_EQ(ModeSensePage(drive, 0x08, page.data(), page.size(), kPageCurrent), 0);
    EXPECT_EQ(page[4] & 0x3F, 0x08) << "the page follows one block descriptor";
    DeviceRecord tape = At(4);
    EXPECT_NE(ModeSensePage(tape, 0x1C, page.data(), page.size(), kPageCurrent), 0);
    EXPECT_EQ(tape.sense[0] & 0x7F, 0x70) << "the failure's sense goes to the record";

    bool running = true;
    int result = -1;
    EXPECT_EQ(ReadSelfTestStatus(At(0), kSelfTestPage, running, result), 0);
    EXPECT_FALSE(running);
    EXPECT_NE(ReadSelfTestStatus(At(1), kSelfTestPage, running, result), 0);
}

TEST(DeviceQueries, AdapterInformationAndRescan)
{
    AdapterInfo info;
    ASSERT_EQ(GetAdapterInfo(0, info), 1);
    EXPECT_EQ(info.adapterCount, 1);
    EXPECT_EQ(info.scsiId, 7);
    EXPECT_EQ(info.aspiString, "aic78xx");
    EXPECT_EQ(info.adapterString, "AIC-7899");
    EXPECT_EQ(info.block[kAdapterBlockDevices], 16);
    EXPECT_EQ(GetAdapterInfo(1, info), -1);
    EXPECT_EQ(info.adapterCount, 1);
    EXPECT_EQ(RescanAdapter(1), 0);
    EXPECT_EQ(RescanAdapter(0), 1);
    int type = -1;
    EXPECT_TRUE(GetPeripheralType(0, 0, 0, type)) << "devices answer after a rescan";
}

using Cdb = std::vector<std::uint8_t>;

TEST(DeviceQueries, EachQuerySendsItsOwnCdb)
{
    g_sent.Take();
    const DeviceRecord kestrel = At(0);
    int type = -1;
    ASSERT_TRUE(GetPeripheralType(0, 0, 0, type));
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x12, 0, 0, 0, 0x06, 0}, 6}}));

    DeviceIdentity identity;
    ASSERT_EQ(ReadIdentity(kestrel, identity), 0);
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x12, 0, 0, 0, 0xA0, 0}, 160}}));

    ASSERT_TRUE(IsKestrelDrive(kestrel));
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x12, 0x01, 0xC3, 0, 0x80, 0}, 128}}));

    ASSERT_TRUE(IsDstSupported(kestrel));
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x4D, 0, 0x50, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 65535}}));

    bool inProgress = true;
    int result = -1;
    ASSERT_EQ(ReadSelfTestStatus(kestrel, kSelfTestPage, inProgress, result), 0);
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x4D, 0, 0x50, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 65535}}));

    DeviceRecord record = At(0);
    std::uint8_t page[64] = {};
    ASSERT_EQ(ModeSensePage(record, 0x08, page, sizeof page, 2), 0);
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x1A, 0, 0x88, 0, 0xFF, 0}, 255}}));

    // Another maker's disk has no page C3h: the standard INQUIRY decides.
    EXPECT_FALSE(IsKestrelDrive(At(2)));
    EXPECT_EQ(g_sent.Take(), (std::vector<SentCommand>{{Cdb{0x12, 0x01, 0xC3, 0, 0x80, 0}, 128},
                                                      {Cdb{0x12, 0, 0, 0, 0xFF, 0}, 255}}));
}

}  // namespace

// A window reading the status from another thread must never see a half-written
// text: the routines publish state and text only while holding the reader's lock.
TEST(PublishStatusTest, WritesUnderTheReadersLockAndMarksTheChange)
{
    std::mutex readerLock;
    DeviceRecord record;
    record.statusLock = &readerLock;
    std::atomic<bool> published{false};
    std::vector<std::thread> writer;
    {
        std::unique_lock hold(readerLock);
        writer.emplace_back([&] {
            PublishStatus(record, TEST_RUNNING, "Performing Sequential Verify Commands");
            published = true;
        });
        for (int turn = 0; turn < 1000; ++turn) {
            std::this_thread::yield();
        }
        EXPECT_FALSE(published.load());
        EXPECT_EQ(record.statusText, "");
    }
    test_support::JoinWithin(writer, "a status published after the reader let go");
    EXPECT_EQ(record.state, TEST_RUNNING);
    EXPECT_EQ(record.statusText, "Performing Sequential Verify Commands");
    EXPECT_EQ(record.changed, 1);

    DeviceRecord unlocked;
    PublishStatus(unlocked, TEST_PASSED, "Generic Long Test Passed");
    EXPECT_EQ(unlocked.statusText, "Generic Long Test Passed");
}
