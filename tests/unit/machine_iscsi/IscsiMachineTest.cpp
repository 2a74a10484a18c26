#include "machine/iscsi/IscsiMachine.h"

#include "platform/Files.h"
#include "support/TgtTarget.h"
#include "unit/machine_iscsi/PassThroughHelper.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

namespace harrow::machine {
namespace {

constexpr UCHAR kIn = SCSI_IOCTL_DATA_IN;
constexpr UCHAR kOut = SCSI_IOCTL_DATA_OUT;
constexpr UCHAR kNone = SCSI_IOCTL_DATA_UNSPECIFIED;
constexpr std::uint64_t kLun1Bytes = 4 << 20;
constexpr std::uint64_t kLun2Bytes = 1 << 20;
constexpr std::uint32_t kBlock = 512;

std::string TextOf(const platform::RegistryValue& value)
{
    return std::string(value.data.begin(), value.data.end()).c_str();
}

const platform::RegistryKey* FindKey(const std::vector<platform::RegistryKey>& keys, const std::string& path)
{
    for (const auto& key : keys) {
        if (key.path == path) {
            return &key;
        }
    }
    return nullptr;
}

std::vector<std::uint8_t> Pattern(std::size_t bytes, std::uint8_t seed)
{
    std::vector<std::uint8_t> data(bytes);
    for (std::size_t i = 0; i < bytes; ++i) {
        data[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
    }
    return data;
}

std::vector<std::uint8_t> ReadFileBytes(const std::filesystem::path& path, std::uint64_t offset, std::size_t bytes)
{
    std::vector<std::uint8_t> data(bytes);
    std::ifstream file(path, std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(bytes));
    return data;
}

class IscsiMachineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_target = testing::TgtTarget::Start({kLun1Bytes, kLun2Bytes}, &s_why); }
    static void TearDownTestSuite() { s_target.reset(); }

    void SetUp() override
    {
        if (!s_target) {
            GTEST_SKIP() << "tgtd cannot be started here: " << s_why;
        }
        m_machine = std::make_unique<IscsiMachine>(s_target->Url());
        DWORD error = 0;
        m_port = m_machine->Open("SCSI0:", 0, &error);
        ASSERT_NE(m_port, nullptr);
    }

    static std::unique_ptr<testing::TgtTarget> s_target;
    static std::string s_why;
    std::unique_ptr<IscsiMachine> m_machine;
    std::unique_ptr<platform::Device> m_port;
};

std::unique_ptr<testing::TgtTarget> IscsiMachineTest::s_target;
std::string IscsiMachineTest::s_why;

TEST_F(IscsiMachineTest, BusListShowsTheTargetsLunsOnTargetZero)
{
    std::vector<std::uint8_t> list(20480);
    DWORD returned = 0;
    DWORD error = 0;
    ASSERT_TRUE(m_port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(),
                                  static_cast<DWORD>(list.size()), &returned, &error));
    const auto* info = reinterpret_cast<const SCSI_ADAPTER_BUS_INFO*>(list.data());
    ASSERT_EQ(info->NumberOfBuses, 1);
    EXPECT_EQ(info->BusData[0].InitiatorBusId, 7);
    ASSERT_EQ(info->BusData[0].NumberOfLogicalUnits, 3);  // tgtd's controller and two disks

    std::vector<int> luns;
    for (ULONG offset = info->BusData[0].InquiryDataOffset; offset != 0;) {
        ASSERT_LT(offset + sizeof(SCSI_INQUIRY_DATA), returned);
        const auto* entry = reinterpret_cast<const SCSI_INQUIRY_DATA*>(list.data() + offset);
        EXPECT_EQ(entry->PathId, 0);
        EXPECT_EQ(entry->TargetId, 0);
        EXPECT_EQ(entry->DeviceClaimed, 0);
        EXPECT_EQ(entry->InquiryDataLength, 36u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry->InquiryData) + 8, 8), "IET     ");
        luns.push_back(entry->Lun);
        offset = entry->NextInquiryDataOffset;
    }
    EXPECT_EQ(luns, (std::vector<int>{0, 1, 2}));

    EXPECT_FALSE(m_port->IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(), 8, &returned, &error));
    EXPECT_EQ(error, ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(m_port->IoControl(IOCTL_SCSI_GET_ADDRESS, nullptr, 0, list.data(), 8, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);
}

TEST_F(IscsiMachineTest, DeviceMapNamesTheIscsiPortAndAnUnreachableOneWithoutUnits)
{
    const std::uint16_t closedPort = s_target->Port() == 1 ? 2 : 1;  // nothing listens on a privileged port here
    IscsiMachine machine(s_target->Url() + " iscsi://127.0.0.1:" + std::to_string(closedPort) + "/iqn.none",
                         std::chrono::milliseconds(2000));
    ASSERT_EQ(machine.PortCount(), 2u);
    EXPECT_EQ(machine.Port(0).Problem(), "");
    EXPECT_EQ(machine.Port(1).Problem(),
              "iscsi://127.0.0.1:" + std::to_string(closedPort) + "/iqn.none: cannot connect: Connection refused");

    const auto keys = machine.DeviceMap();
    const auto* port0 = FindKey(keys, "Scsi Port 0");
    ASSERT_NE(port0, nullptr);
    EXPECT_EQ(TextOf(port0->values.at(0)), "iScsiPrt");
    EXPECT_EQ(TextOf(port0->values.at(1)), "ScsiPort0");
    const auto* disk = FindKey(keys, "Scsi Port 0\\Scsi Bus 0\\Target Id 0\\Logical Unit Id 1");
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(TextOf(disk->values.at(1)), "DiskPeripheral");
    EXPECT_EQ(TextOf(disk->values.at(0)).substr(0, 8), "IET     ");
    EXPECT_NE(FindKey(keys, "Scsi Port 1\\Scsi Bus 0\\Initiator Id 7"), nullptr);
    EXPECT_EQ(FindKey(keys, "Scsi Port 1\\Scsi Bus 0\\Target Id 0"), nullptr);

    DWORD error = 0;
    EXPECT_NE(machine.Open("scsi1:", 0, &error), nullptr);
    EXPECT_EQ(machine.Open("SCSI2:", 0, &error), nullptr);
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(machine.Open("SCSI01:", 0, &error), nullptr);
    EXPECT_EQ(machine.Open("PhysicalDrive0", 0, &error), nullptr);
}

TEST_F(IscsiMachineTest, FirstCommandSeesTheUnitAttentionAsTheTargetReportsIt)
{
    auto tur = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 1});
    ASSERT_TRUE(tur.ok);
    EXPECT_EQ(tur.header.ScsiStatus, 0x02);
    EXPECT_EQ(tur.Sense(), "06/29/00");
    EXPECT_EQ(tur.sense[0], 0x70);
    EXPECT_EQ(tur.header.SenseInfoLength, 18);
    EXPECT_EQ(tur.returned, sizeof(SCSI_PASS_THROUGH_DIRECT) + 18);
    EXPECT_EQ(tur.sense[18], 0xEE);  // nothing written beyond the sense bytes

    tur = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 1});
    ASSERT_TRUE(tur.ok);
    EXPECT_EQ(tur.header.ScsiStatus, 0x00);
    EXPECT_EQ(tur.header.SenseInfoLength, 0);
    EXPECT_EQ(tur.returned, sizeof(SCSI_PASS_THROUGH_DIRECT));

    // A write to a connection the target dropped fails instead of ending the program.
    struct sigaction pipe {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &pipe), 0);
    EXPECT_EQ(pipe.sa_handler, SIG_IGN);
}

TEST_F(IscsiMachineTest, WritesAndReadsExactBytesWithResiduals)
{
    const auto written = Pattern(8 * kBlock, 0x31);
    auto copy = written;
    auto write = SendCdb(*m_port, {0x2A, 0, 0, 0, 0, 100, 0, 0, 8, 0}, kOut, copy, {.lun = 2});
    if (write.header.ScsiStatus == 0x02 && write.Sense() == "06/29/00") {
        write = SendCdb(*m_port, {0x2A, 0, 0, 0, 0, 100, 0, 0, 8, 0}, kOut, copy, {.lun = 2});
    }
    ASSERT_TRUE(write.ok);
    ASSERT_EQ(write.header.ScsiStatus, 0x00) << write.Sense();
    EXPECT_EQ(write.header.DataTransferLength, 8 * kBlock);
    EXPECT_EQ(ReadFileBytes(s_target->BackingFile(2), 100 * kBlock, written.size()), written);

    std::vector<std::uint8_t> read(8 * kBlock);
    const auto back = SendCdb(*m_port, {0x28, 0, 0, 0, 0, 100, 0, 0, 8, 0}, kIn, read, {.lun = 2});
    ASSERT_TRUE(back.ok);
    EXPECT_EQ(back.header.ScsiStatus, 0x00);
    EXPECT_EQ(back.header.DataTransferLength, 8 * kBlock);
    EXPECT_EQ(read, written);

    // Allocation length above what INQUIRY holds: the port reports what came.
    std::vector<std::uint8_t> inquiry(255, 0xAA);
    const auto inq = SendCdb(*m_port, {0x12, 0, 0, 0, 255, 0}, kIn, inquiry, {.lun = 2});
    ASSERT_TRUE(inq.ok);
    EXPECT_EQ(inq.header.DataTransferLength, inquiry[4] + 5u);
    EXPECT_EQ(inquiry[inquiry[4] + 5], 0xAA);

    // One block past the end of the 1 MiB LUN.
    const auto beyond = SendCdb(*m_port, {0x28, 0, 0, 0, 0x08, 0x00, 0, 0, 1, 0}, kIn,
                                std::span(read).first(kBlock), {.lun = 2});
    ASSERT_TRUE(beyond.ok);
    EXPECT_EQ(beyond.header.ScsiStatus, 0x02);
    EXPECT_EQ(beyond.Sense(), "05/21/00");
    EXPECT_EQ(beyond.header.DataTransferLength, 0u);
}

TEST_F(IscsiMachineTest, CommandsTheTargetLacksFailWithIllegalRequest)
{
    SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 1});  // takes the unit attention
    std::vector<std::uint8_t> data(512);
    struct Case {
        const char* name;
        std::initializer_list<UCHAR> cdb;
        UCHAR dataIn;
        std::size_t length;
    };
    const Case cases[] = {
        {"LOG SENSE self-test page", {0x4D, 0, 0x50, 0, 0, 0, 0, 0x01, 0x00, 0}, kIn, 256},
        {"SEND DIAGNOSTIC short self test", {0x1D, 0x20, 0, 0, 0, 0}, kNone, 0},
        {"SEND DIAGNOSTIC abort", {0x1D, 0x80, 0, 0, 0, 0}, kNone, 0},
        {"SEEK(10)", {0x2B, 0, 0, 0, 0, 8, 0, 0, 0, 0}, kNone, 0},
        {"WRITE BUFFER mode 5", {0x3B, 0x05, 0, 0, 0, 0, 0, 0x02, 0x00, 0}, kOut, 512},
        {"READ DEFECT DATA(10)", {0x37, 0, 0x0D, 0, 0, 0, 0, 0x01, 0x00, 0}, kIn, 256},
    };
    for (const Case& c : cases) {
        const auto answer = SendCdb(*m_port, c.cdb, c.dataIn, std::span(data).first(c.length), {.lun = 1});
        ASSERT_TRUE(answer.ok) << c.name;
        EXPECT_EQ(answer.header.ScsiStatus, 0x02) << c.name;
        EXPECT_TRUE(answer.Sense() == "05/20/00" || answer.Sense() == "05/24/00") << c.name << ": " << answer.Sense();
        EXPECT_EQ(answer.header.DataTransferLength, 0u) << c.name;
    }
}

TEST_F(IscsiMachineTest, AddressesAndSenseAreaFollowThePortRules)
{
    // A LUN the target does not have is the target's to answer.
    const auto absent = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 9});
    ASSERT_TRUE(absent.ok);
    EXPECT_EQ(absent.header.ScsiStatus, 0x02);
    EXPECT_EQ(absent.Sense(), "05/25/00");

    const auto otherTarget = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.targetId = 3});
    EXPECT_FALSE(otherTarget.ok);
    EXPECT_EQ(otherTarget.error, ERROR_SEM_TIMEOUT);
    const auto otherBus = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.pathId = 1});
    EXPECT_FALSE(otherBus.ok);
    EXPECT_EQ(otherBus.error, ERROR_INVALID_PARAMETER);
    const auto beyondBus = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.targetId = 16});
    EXPECT_EQ(beyondBus.error, ERROR_INVALID_PARAMETER);

    // Only SenseInfoLength bytes of sense reach the caller.
    const auto shortSense = SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 2, .senseLength = 8});
    ASSERT_TRUE(shortSense.ok);
    EXPECT_EQ(shortSense.header.ScsiStatus, 0x02);
    EXPECT_EQ(shortSense.header.SenseInfoLength, 8);
    EXPECT_EQ(shortSense.returned, sizeof(SCSI_PASS_THROUGH_DIRECT) + 8);
    EXPECT_EQ(shortSense.sense[2] & 0x0F, 0x06);
    EXPECT_EQ(shortSense.sense[8], 0xEE);
}

TEST_F(IscsiMachineTest, ConcurrentReadersOnSeveralHandlesGetTheirOwnData)
{
    const auto pattern = Pattern(kLun1Bytes / 4, 0x5A);
    {
        std::fstream file(s_target->BackingFile(1), std::ios::binary | std::ios::in | std::ios::out);
        file.write(reinterpret_cast<const char*>(pattern.data()), static_cast<std::streamsize>(pattern.size()));
    }
    SendCdb(*m_port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 1});  // takes the unit attention
    constexpr int kThreads = 4;
    constexpr int kReads = 40;
    constexpr std::uint32_t kBlocks = 16;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            DWORD error = 0;
            auto device = m_machine->Open("SCSI0:", 0, &error);
            std::vector<std::uint8_t> buffer(kBlocks * kBlock);
            for (int i = 0; i < kReads; ++i) {
                const std::uint32_t lba = static_cast<std::uint32_t>((t * kReads + i) * 3 % 2000) / kBlocks * kBlocks;
                const auto answer =
                    SendCdb(*device, {0x28, 0, 0, 0, static_cast<UCHAR>(lba >> 8), static_cast<UCHAR>(lba), 0, 0,
                                      kBlocks, 0},
                            kIn, buffer, {.lun = 1});
                const bool same = std::equal(buffer.begin(), buffer.end(), pattern.begin() + lba * kBlock);
                if (answer.ok && answer.header.ScsiStatus == 0 && same) {
                    ++good;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(good.load(), kThreads * kReads);
}

// The whole road: HARROW_MACHINE, the device map, CreateFileA and DeviceIoControl.
TEST_F(IscsiMachineTest, HarrowMachineVariableReachesTheTargetThroughCreateFile)
{
    ::setenv("HARROW_MACHINE", s_target->Url().c_str(), 1);
    platform::SetActiveMachine(nullptr);
    const auto keys = platform::ActiveMachine().DeviceMap();
    const auto* port0 = FindKey(keys, "Scsi Port 0");
    ASSERT_NE(port0, nullptr);
    EXPECT_EQ(TextOf(port0->values.at(0)), "iScsiPrt");

    HANDLE port = CreateFileA("\\\\.\\scsi0:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    std::vector<std::uint8_t> capacity(8);
    auto send = [&](UCHAR opcode, std::vector<std::uint8_t>& data) {
        struct {
            SCSI_PASS_THROUGH_DIRECT header;
            UCHAR sense[32];
        } request{};
        request.header.Length = sizeof request.header;
        request.header.Lun = 2;
        request.header.CdbLength = 10;
        request.header.SenseInfoLength = sizeof request.sense;
        request.header.DataIn = kIn;
        request.header.DataTransferLength = static_cast<ULONG>(data.size());
        request.header.TimeOutValue = 10;
        request.header.DataBuffer = data.empty() ? nullptr : data.data();
        request.header.SenseInfoOffset = sizeof request.header;
        request.header.Cdb[0] = opcode;
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(port, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                                        sizeof request, &returned, nullptr);
        return ok ? request.header.ScsiStatus : -1;
    };
    std::vector<std::uint8_t> none;
    EXPECT_EQ(send(0x00, none), 0x02);  // the new session's unit attention
    EXPECT_EQ(send(0x25, capacity), 0x00);
    CloseHandle(port);
    platform::SetActiveMachine(nullptr);
    ::unsetenv("HARROW_MACHINE");
    EXPECT_EQ(capacity, (std::vector<std::uint8_t>{0, 0, 0x07, 0xFF, 0, 0, 0x02, 0x00}));  // 2048 blocks of 512
}

}  // namespace
}  // namespace harrow::machine
