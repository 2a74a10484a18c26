#include "FakeSysfs.h"
#include "machine/linux/SysfsMachine.h"
#include "platform/ntddscsi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace harrow::machine {
namespace {

using testing::FakeSysfs;
using testing::FakeUnit;

// The request block the port transport passes: the structure, then the sense area.
struct Request {
    SCSI_PASS_THROUGH_DIRECT sptd;
    UCHAR sense[128];
};
static_assert(offsetof(Request, sense) == sizeof(SCSI_PASS_THROUGH_DIRECT));

// What the injected SG_IO saw, and how it answers.
struct SgCall {
    std::string node;
    int direction = 0;
    unsigned timeout = 0;
    std::vector<unsigned char> cdb;
    unsigned char maxSense = 0;
    unsigned dataLength = 0;
};
struct SgAnswer {
    int failure = 0;
    unsigned char status = 0;
    unsigned short hostStatus = 0;
    unsigned short driverStatus = 0;
    int resid = 0;
    std::vector<unsigned char> sense;
    unsigned char senseWritten = 0;  // what the kernel claims it wrote
    unsigned char fill = 0xA5;       // data-in bytes
};

class PassThroughTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(1, "aic7xxx");
        fake.AddUnit("1:0:4:0", FakeUnit().Driver("sd").Sg("sg2"));
        fake.AddUnit("1:0:5:0", FakeUnit().Type(1).Driver("st"));
        machine = std::make_unique<SysfsMachine>(fake.Sys(), fake.Dev(), [this](const std::string& node,
                                                                                 sg_io_hdr& header) {
            return FakeSgIo(node, header);
        });
    }

    int FakeSgIo(const std::string& node, sg_io_hdr& header)
    {
        ++calls;
        seen = {node, header.dxfer_direction, header.timeout,
                std::vector<unsigned char>(header.cmdp, header.cmdp + header.cmd_len), header.mx_sb_len,
                header.dxfer_len};
        EXPECT_EQ(header.interface_id, 'S');
        if (answer.failure != 0) {
            return answer.failure;
        }
        if (header.dxfer_direction == SG_DXFER_FROM_DEV) {
            std::memset(header.dxferp, answer.fill, header.dxfer_len);
        }
        header.status = answer.status;
        header.host_status = answer.hostStatus;
        header.driver_status = answer.driverStatus;
        header.resid = answer.resid;
        std::copy_n(answer.sense.begin(), std::min<std::size_t>(answer.sense.size(), header.mx_sb_len), header.sbp);
        header.sb_len_wr = answer.senseWritten;
        return 0;
    }

    static Request ReadRequest(std::vector<BYTE>& data, UCHAR dataIn)
    {
        Request request{};
        request.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        request.sptd.PathId = 0;
        request.sptd.TargetId = 4;
        request.sptd.CdbLength = 10;
        request.sptd.SenseInfoLength = 128;
        request.sptd.DataIn = dataIn;
        request.sptd.DataTransferLength = static_cast<ULONG>(data.size());
        request.sptd.TimeOutValue = 30;
        request.sptd.DataBuffer = data.data();
        request.sptd.SenseInfoOffset = offsetof(Request, sense);
        const UCHAR cdb[10] = {0x28, 0, 0, 0, 0x10, 0, 0, 0, 1, 0};
        std::memcpy(request.sptd.Cdb, cdb, sizeof cdb);
        return request;
    }

    BOOL Send(platform::Device& device, Request& request, DWORD* error, DWORD outSize = sizeof(Request))
    {
        returned = 0;
        *error = 0;
        return device.IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, outSize,
                                &returned, error);
    }

    std::unique_ptr<platform::Device> Open(const std::string& name)
    {
        DWORD error = 0;
        auto device = machine->Open(name, 0, &error);
        EXPECT_NE(device, nullptr) << name;
        return device;
    }

    FakeSysfs fake;
    std::unique_ptr<SysfsMachine> machine;
    SgCall seen;
    SgAnswer answer;
    int calls = 0;
    DWORD returned = 0;
};

TEST_F(PassThroughTest, CarriesDirectionTimeoutCdbAndResidual)
{
    auto port = Open("SCSI1:");
    std::vector<BYTE> data(512, 0);
    Request request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    answer.resid = 12;
    DWORD error = 0;
    ASSERT_TRUE(Send(*port, request, &error)) << error;
    EXPECT_EQ(seen.node, (fake.Dev() / "sg2").string());
    EXPECT_EQ(seen.direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(seen.timeout, 30000u);
    EXPECT_EQ(seen.cdb, (std::vector<unsigned char>{0x28, 0, 0, 0, 0x10, 0, 0, 0, 1, 0}));
    EXPECT_EQ(seen.maxSense, 128);
    EXPECT_EQ(seen.dataLength, 512u);
    EXPECT_EQ(data[0], 0xA5);
    EXPECT_EQ(request.sptd.ScsiStatus, 0);
    EXPECT_EQ(request.sptd.DataTransferLength, 500u);
    EXPECT_EQ(request.sptd.SenseInfoLength, 0);
    EXPECT_EQ(returned, sizeof(SCSI_PASS_THROUGH_DIRECT));

    request = ReadRequest(data, SCSI_IOCTL_DATA_OUT);
    request.sptd.TimeOutValue = 108000;  // format and download: 30 hours
    ASSERT_TRUE(Send(*port, request, &error));
    EXPECT_EQ(seen.direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(seen.timeout, 108000000u);

    request = ReadRequest(data, SCSI_IOCTL_DATA_UNSPECIFIED);
    ASSERT_TRUE(Send(*port, request, &error));
    EXPECT_EQ(seen.direction, SG_DXFER_TO_FROM_DEV);

    std::vector<BYTE> none;
    request = ReadRequest(none, SCSI_IOCTL_DATA_IN);
    request.sptd.CdbLength = 6;
    ASSERT_TRUE(Send(*port, request, &error));
    EXPECT_EQ(seen.direction, SG_DXFER_NONE);
    EXPECT_EQ(seen.cdb.size(), 6u);
}

TEST_F(PassThroughTest, CheckConditionReturnsStatusAndSense)
{
    auto disk = Open("PhysicalDrive0");
    std::vector<BYTE> data(512);
    Request request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    std::memset(request.sense, 0xCC, sizeof request.sense);
    answer.status = 0x02;
    answer.driverStatus = 0x08;  // DRIVER_SENSE: sense came back, not a failure
    answer.sense = {0x70, 0, 0x03, 0, 0, 0x10, 0, 0x0A, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0};
    answer.senseWritten = 18;
    answer.resid = 512;
    DWORD error = 0;
    ASSERT_TRUE(Send(*disk, request, &error)) << error;
    EXPECT_EQ(request.sptd.ScsiStatus, 0x02);
    EXPECT_EQ(request.sptd.SenseInfoLength, 18);
    EXPECT_EQ(request.sptd.DataTransferLength, 0u);
    EXPECT_TRUE(std::equal(answer.sense.begin(), answer.sense.end(), request.sense));
    EXPECT_EQ(request.sense[18], 0xCC);
    EXPECT_EQ(returned, offsetof(Request, sense) + 18);

    // Counts from the kernel that do not fit what was asked are kept inside it.
    request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    request.sptd.SenseInfoLength = 8;
    answer.senseWritten = 200;
    answer.resid = -5;
    ASSERT_TRUE(Send(*disk, request, &error));
    EXPECT_EQ(request.sptd.SenseInfoLength, 8);
    EXPECT_EQ(request.sptd.DataTransferLength, 512u);
    EXPECT_EQ(request.sense[8], 0);
    answer.resid = 4096;
    request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    ASSERT_TRUE(Send(*disk, request, &error));
    EXPECT_EQ(request.sptd.DataTransferLength, 0u);
}

TEST_F(PassThroughTest, UndeliveredCommandsFailWithWin32Errors)
{
    auto port = Open("SCSI1:");
    std::vector<BYTE> data(64);
    struct Case {
        unsigned short host, driver;
        int failure;
        DWORD error;
    };
    const Case cases[] = {
        {0x01, 0, 0, ERROR_SEM_TIMEOUT},   // DID_NO_CONNECT: selection time-out
        {0x04, 0, 0, ERROR_SEM_TIMEOUT},   // DID_BAD_TARGET
        {0x03, 0, 0, ERROR_SEM_TIMEOUT},   // DID_TIME_OUT
        {0x02, 0, 0, ERROR_BUSY},          // DID_BUS_BUSY
        {0x0D, 0, 0, ERROR_BUSY},          // DID_REQUEUE
        {0x07, 0, 0, ERROR_IO_DEVICE},     // DID_ERROR
        {0x08, 0, 0, ERROR_IO_DEVICE},     // DID_RESET
        {0, 0x06, 0, ERROR_SEM_TIMEOUT},   // DRIVER_TIMEOUT
        {0, 0x04, 0, ERROR_IO_DEVICE},     // DRIVER_ERROR
        {0, 0, EACCES, ERROR_ACCESS_DENIED},
        {0, 0, ENODEV, ERROR_DEVICE_NOT_CONNECTED},
        {0, 0, ENOENT, ERROR_FILE_NOT_FOUND},
        {0, 0, EINVAL, ERROR_INVALID_PARAMETER},
        {0, 0, EIO, ERROR_IO_DEVICE},
    };
    for (const Case& c : cases) {
        answer = {};
        answer.hostStatus = c.host;
        answer.driverStatus = c.driver;
        answer.failure = c.failure;
        Request request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
        const Request before = request;
        DWORD error = 0;
        EXPECT_FALSE(Send(*port, request, &error)) << c.host << "/" << c.driver << "/" << c.failure;
        EXPECT_EQ(error, c.error) << c.host << "/" << c.driver << "/" << c.failure;
        EXPECT_EQ(std::memcmp(&request, &before, sizeof request), 0) << "a failed request is left as it was";
    }
}

TEST_F(PassThroughTest, MalformedRequestsAreRefusedBeforeReachingTheKernel)
{
    auto port = Open("SCSI1:");
    std::vector<BYTE> data(64);
    const auto refused = [&](const std::function<void(Request&)>& spoil, DWORD outSize = sizeof(Request)) {
        Request request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
        spoil(request);
        DWORD error = 0;
        const BOOL ok = Send(*port, request, &error, outSize);
        return !ok && error == ERROR_INVALID_PARAMETER;
    };
    EXPECT_TRUE(refused([](Request& r) { r.sptd.Length = 40; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.CdbLength = 0; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.CdbLength = 17; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.DataIn = 3; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.TimeOutValue = 0; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.TimeOutValue = 108001; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.DataBuffer = nullptr; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.SenseInfoOffset = 20; }));  // over the structure
    EXPECT_TRUE(refused([](Request& r) { r.sptd.SenseInfoOffset = sizeof(Request) - 127; }));
    EXPECT_TRUE(refused([](Request& r) { r.sptd.SenseInfoOffset = 0xFFFFFFF0; }));
    EXPECT_TRUE(refused([](Request&) {}, sizeof(SCSI_PASS_THROUGH_DIRECT) + 127));
    EXPECT_TRUE(refused([](Request&) {}, sizeof(SCSI_PASS_THROUGH_DIRECT) - 1));
    EXPECT_EQ(calls, 0);

    DWORD error = 0;
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &data, 20, data.data(), 64, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(port->IoControl(IOCTL_SCSI_PASS_THROUGH, &data, 20, data.data(), 64, &returned, &error));
    EXPECT_EQ(error, ERROR_INVALID_FUNCTION);

    // The width a 32-bit caller writes, no sense wanted at all, no data.
    EXPECT_FALSE(refused([](Request& r) { r.sptd.Length = 44; }));
    EXPECT_FALSE(refused([](Request& r) { r.sptd.SenseInfoLength = 0; r.sptd.SenseInfoOffset = 0; }));
    EXPECT_FALSE(refused([](Request& r) { r.sptd.DataTransferLength = 0; r.sptd.DataBuffer = nullptr; }));
    EXPECT_EQ(calls, 3);
}

TEST_F(PassThroughTest, UnitsAreAddressedByPortPathOrClassDevice)
{
    auto port = Open("SCSI1:");
    auto tape = Open("Tape0");
    std::vector<BYTE> data(64);
    DWORD error = 0;

    Request request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    request.sptd.TargetId = 9;
    EXPECT_FALSE(Send(*port, request, &error));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);

    // The tape has no sg node: no raw command can reach it.
    request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    request.sptd.TargetId = 5;
    EXPECT_FALSE(Send(*port, request, &error));
    EXPECT_EQ(error, ERROR_NOT_SUPPORTED);
    EXPECT_FALSE(Send(*tape, request, &error));
    EXPECT_EQ(error, ERROR_NOT_SUPPORTED);

    // A class device sends to its own unit and says which in the answer.
    auto disk = Open("PhysicalDrive0");
    request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
    request.sptd.PathId = 3;
    request.sptd.TargetId = 0;
    request.sptd.Lun = 7;
    ASSERT_TRUE(Send(*disk, request, &error));
    EXPECT_EQ(seen.node, (fake.Dev() / "sg2").string());
    EXPECT_EQ(request.sptd.PathId, 0);
    EXPECT_EQ(request.sptd.TargetId, 4);
    EXPECT_EQ(request.sptd.Lun, 0);

    // The unit went away after the handle was opened.
    std::filesystem::remove(fake.Sys() / "bus" / "scsi" / "devices" / "1:0:4:0");
    EXPECT_FALSE(Send(*disk, request, &error));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(PassThroughTest, ConcurrentCommandsEachGetTheirOwnAnswer)
{
    std::atomic<int> sgCalls{0};
    SysfsMachine shared(fake.Sys(), fake.Dev(), [&](const std::string&, sg_io_hdr& header) {
        ++sgCalls;
        // Answers with the LBA byte of the CDB so crossed requests show.
        std::memset(header.dxferp, header.cmdp[5], header.dxfer_len);
        header.resid = static_cast<int>(header.cmdp[5] % 8);
        return 0;
    });
    DWORD openError = 0;
    std::shared_ptr<platform::Device> port = shared.Open("SCSI1:", 0, &openError);
    ASSERT_NE(port, nullptr);
    constexpr int kThreads = 4;
    constexpr int kCommands = 50;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<BYTE> data(256);
            for (int i = 0; i < kCommands; ++i) {
                const auto tag = static_cast<UCHAR>(t * kCommands + i);
                Request request = ReadRequest(data, SCSI_IOCTL_DATA_IN);
                request.sptd.Cdb[5] = tag;
                DWORD error = 0;
                DWORD done = 0;
                const BOOL ok = port->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                                                sizeof request, &done, &error);
                const bool right = ok && request.sptd.DataTransferLength == 256u - tag % 8 &&
                                   std::all_of(data.begin(), data.end(), [&](BYTE b) { return b == tag; });
                wrong += right ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(sgCalls, kThreads * kCommands);
}

}  // namespace
}  // namespace harrow::machine
