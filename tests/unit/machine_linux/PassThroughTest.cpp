#include "FakeSysfs.h"
#include "machine/linux/SysfsMachine.h"
#include "platform/ntddscsi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace harrow::machine {
namespace {

using testing::FakeSysfs;
using testing::kKestrelNames;

// The port transport's request block: the structure, then the sense area.
struct Request {
    SCSI_PASS_THROUGH_DIRECT sptd;
    UCHAR sense[128];
};

Request ReadTen(std::vector<BYTE>& data, UCHAR dataIn)
{
    Request r{};
    r.sptd.Length = sizeof r.sptd;
    r.sptd.TargetId = 4;
    r.sptd.CdbLength = 10;
    r.sptd.SenseInfoLength = 128;
    r.sptd.DataIn = dataIn;
    r.sptd.DataTransferLength = static_cast<ULONG>(data.size());
    r.sptd.TimeOutValue = 30;
    r.sptd.DataBuffer = data.empty() ? nullptr : data.data();
    r.sptd.SenseInfoOffset = offsetof(Request, sense);
    r.sptd.Cdb[0] = 0x28;
    r.sptd.Cdb[5] = 0x10;
    return r;
}

// A fake SG_IO that records the header it was given and answers from `reply`.
class PassThroughTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.AddHost(1, "aic7xxx");  // the only host: port 0
        fake.AddUnit("1:0:4:0", {0, kKestrelNames, "sd", "sg2", ""});
        fake.AddUnit("1:0:5:0", {1, kKestrelNames, "st", "", ""});
        fake.AddUnit("1:0:40:0", {0, kKestrelNames, "sd", "sg3", ""});
        port = Open("SCSI0:");
    }

    int SgIo(const std::string& node, sg_io_hdr& h)
    {
        ++calls;
        seenNode = node;
        if (node == goneNode) {
            return ENODEV;  // what the kernel answers on the node of a removed unit
        }
        seen = h;
        seenCdb.assign(h.cmdp, h.cmdp + h.cmd_len);
        if (h.dxfer_direction == SG_DXFER_FROM_DEV) {
            std::memset(h.dxferp, 0xA5, h.dxfer_len);
        }
        std::copy_n(replySense.begin(), std::min<std::size_t>(replySense.size(), h.mx_sb_len), h.sbp);
        h.status = reply.status;
        h.host_status = reply.host_status;
        h.driver_status = reply.driver_status;
        h.resid = reply.resid;
        h.sb_len_wr = reply.sb_len_wr;
        return failure;
    }

    std::unique_ptr<platform::Device> Open(const std::string& name)
    {
        DWORD error = 0;
        return machine.Open(name, 0, &error);
    }

    BOOL Send(platform::Device& device, Request& r, DWORD outSize = sizeof(Request))
    {
        error = 0;
        return device.IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &r, sizeof r, &r, outSize, &returned, &error);
    }

    FakeSysfs fake;
    std::shared_ptr<testing::FakeSgIo> io =
        std::make_shared<testing::FakeSgIo>([this](const std::string& n, sg_io_hdr& h) { return SgIo(n, h); });
    SysfsMachine machine{fake.Sys(), fake.Dev(), io};
    std::unique_ptr<platform::Device> port;
    sg_io_hdr reply{};
    std::vector<unsigned char> replySense;
    int failure = 0;
    int calls = 0;
    std::string goneNode;
    std::string seenNode;
    sg_io_hdr seen{};
    std::vector<unsigned char> seenCdb;
    DWORD error = 0;
    DWORD returned = 0;
};

TEST_F(PassThroughTest, CarriesDirectionTimeoutCdbAndResidual)
{
    std::vector<BYTE> data(512);
    Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    reply.resid = 12;
    ASSERT_TRUE(Send(*port, r)) << error;
    EXPECT_EQ(seenNode, (fake.Dev() / "sg2").string());
    EXPECT_EQ(seen.interface_id, 'S');
    EXPECT_EQ(seen.dxfer_direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(seen.timeout, 30000u);
    EXPECT_EQ(seenCdb, (std::vector<unsigned char>{0x28, 0, 0, 0, 0, 0x10, 0, 0, 0, 0}));
    EXPECT_EQ(seen.mx_sb_len, 128);
    EXPECT_EQ(seen.dxfer_len, 512u);
    EXPECT_EQ(data[511], 0xA5);
    EXPECT_EQ(r.sptd.DataTransferLength, 500u);
    EXPECT_EQ(r.sptd.SenseInfoLength, 0);
    EXPECT_EQ(returned, sizeof r.sptd);

    const auto direction = [&](UCHAR dataIn, std::size_t length, ULONG timeout = 30) {
        data.resize(length);
        r = ReadTen(data, dataIn);
        r.sptd.TimeOutValue = timeout;
        EXPECT_TRUE(Send(*port, r));
        return seen.dxfer_direction;
    };
    EXPECT_EQ(direction(SCSI_IOCTL_DATA_OUT, 512, 108000), SG_DXFER_TO_DEV);
    EXPECT_EQ(seen.timeout, 108000000u);  // format and download: 30 hours
    EXPECT_EQ(direction(SCSI_IOCTL_DATA_UNSPECIFIED, 512), SG_DXFER_TO_FROM_DEV);
    EXPECT_EQ(direction(SCSI_IOCTL_DATA_IN, 0), SG_DXFER_NONE);
}

TEST_F(PassThroughTest, CheckConditionReturnsStatusAndSense)
{
    auto disk = Open("PhysicalDrive0");
    std::vector<BYTE> data(512);
    Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    std::memset(r.sense, 0xCC, sizeof r.sense);
    reply.status = 0x02;
    reply.driver_status = 0x08;  // DRIVER_SENSE: sense came back, not a failure
    replySense = {0x70, 0, 0x03, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0};
    reply.sb_len_wr = 18;
    reply.resid = 512;
    ASSERT_TRUE(Send(*disk, r)) << error;
    EXPECT_EQ(r.sptd.ScsiStatus, 0x02);
    EXPECT_EQ(r.sptd.SenseInfoLength, 18);
    EXPECT_EQ(r.sptd.DataTransferLength, 0u);
    EXPECT_TRUE(std::equal(replySense.begin(), replySense.end(), r.sense));
    EXPECT_EQ(r.sense[18], 0xCC);
    EXPECT_EQ(returned, offsetof(Request, sense) + 18);

    // Kernel counts beyond what was asked for are kept inside it.
    r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    r.sptd.SenseInfoLength = 8;
    reply.sb_len_wr = 200;
    reply.resid = -5;
    ASSERT_TRUE(Send(*disk, r));
    EXPECT_EQ(r.sptd.SenseInfoLength, 8);
    EXPECT_EQ(r.sptd.DataTransferLength, 512u);
    EXPECT_EQ(r.sense[8], 0);
}

TEST_F(PassThroughTest, UndeliveredCommandsFailWithWin32Errors)
{
    std::vector<BYTE> data(64);
    struct Case {
        unsigned short host, driver;
        int errnoValue;
        DWORD error;
    };
    for (const Case c : {Case{0x01, 0, 0, ERROR_SEM_TIMEOUT},  // DID_NO_CONNECT: selection time-out
                         Case{0x04, 0, 0, ERROR_SEM_TIMEOUT},  // DID_BAD_TARGET
                         Case{0x03, 0, 0, ERROR_SEM_TIMEOUT},  // DID_TIME_OUT
                         Case{0x02, 0, 0, ERROR_BUSY},         // DID_BUS_BUSY
                         Case{0x07, 0, 0, ERROR_IO_DEVICE},    // DID_ERROR
                         Case{0, 0x06, 0, ERROR_SEM_TIMEOUT},  // DRIVER_TIMEOUT
                         Case{0, 0x04, 0, ERROR_IO_DEVICE},    // DRIVER_ERROR
                         Case{0, 0, EACCES, ERROR_ACCESS_DENIED}, Case{0, 0, ENODEV, ERROR_DEVICE_NOT_CONNECTED},
                         Case{0, 0, EINVAL, ERROR_INVALID_PARAMETER}, Case{0, 0, EIO, ERROR_IO_DEVICE}}) {
        reply.host_status = c.host;
        reply.driver_status = c.driver;
        failure = c.errnoValue;
        Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
        const Request before = r;
        EXPECT_FALSE(Send(*port, r));
        EXPECT_EQ(error, c.error) << c.host << "/" << c.driver << "/" << c.errnoValue;
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0) << "a failed request is left as it was";
    }
}

// The checks are the port's own; what matters here is that both kinds of
// device apply them before anything reaches the kernel.
TEST_F(PassThroughTest, MalformedRequestsNeverReachTheKernel)
{
    std::vector<BYTE> data(64);
    Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    r.sptd.TimeOutValue = 108001;
    EXPECT_FALSE(Send(*port, r));
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
    r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    EXPECT_FALSE(Send(*Open("PhysicalDrive0"), r, sizeof(Request) - 1));  // no room for the sense bytes
    EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
    EXPECT_EQ(calls, 0);
}

TEST_F(PassThroughTest, UnitsAreReachedByPortAddressOrClassDevice)
{
    std::vector<BYTE> data(64);
    Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    r.sptd.TargetId = 9;
    EXPECT_FALSE(Send(*port, r));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    r.sptd.TargetId = 5;  // the tape has no sg node
    EXPECT_FALSE(Send(*Open("Tape0"), r));
    EXPECT_EQ(error, ERROR_NOT_SUPPORTED);

    // A class device sends to its own unit and says which in the answer.
    auto disk = Open("PhysicalDrive0");
    r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    r.sptd.PathId = 3;
    r.sptd.TargetId = 0;
    r.sptd.Lun = 7;
    ASSERT_TRUE(Send(*disk, r));
    EXPECT_EQ(seenNode, (fake.Dev() / "sg2").string());
    EXPECT_EQ(r.sptd.PathId, 0);
    EXPECT_EQ(r.sptd.TargetId, 4);
    EXPECT_EQ(r.sptd.Lun, 0);

    std::filesystem::remove(fake.Sys() / "bus" / "scsi" / "devices" / "1:0:4:0");  // unplugged
    goneNode = (fake.Dev() / "sg2").string();
    EXPECT_FALSE(Send(*disk, r));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
}

TEST_F(PassThroughTest, NodeStaysOpenUntilItsUnitIsGone)
{
    std::vector<BYTE> data(64);
    auto disk = Open("PhysicalDrive0");
    for (int i = 0; i < 5; ++i) {
        Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
        ASSERT_TRUE(Send(i % 2 == 0 ? *disk : *port, r)) << error;
    }
    EXPECT_EQ(machine.NodeOpens(), 1u) << "one open for five commands to one unit";
    EXPECT_EQ(io->OpenNow(), 1);

    // The open node still reaches its unit though sysfs no longer names it.
    const auto unit = fake.Sys() / "devices" / "1:0:4:0";
    std::filesystem::rename(unit / "scsi_generic" / "sg2", unit / "scsi_generic" / "sg7");
    Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    ASSERT_TRUE(Send(*disk, r));
    EXPECT_EQ(seenNode, (fake.Dev() / "sg2").string());

    // Removed and put back with another node: the old node answers ENODEV,
    // and the same command goes to the new one.
    goneNode = (fake.Dev() / "sg2").string();
    const int before = calls;
    r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    ASSERT_TRUE(Send(*disk, r)) << error;
    EXPECT_EQ(calls, before + 2);
    EXPECT_EQ(seenNode, (fake.Dev() / "sg7").string());
    EXPECT_EQ(machine.NodeOpens(), 2u);
    EXPECT_EQ(io->OpenNow(), 1) << "the dead node is closed";

    // A unit whose new node fails too is not tried a third time.
    goneNode = (fake.Dev() / "sg7").string();
    r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    EXPECT_FALSE(Send(*disk, r));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(calls, before + 4);
}

// 32 targets a bus: the kernel's target 40 is bus 1 target 8 of the port, so
// the transport's target 40 reaches it, and the answer says so.
TEST_F(PassThroughTest, HighTargetsSitOnVirtualBuses)
{
    std::vector<BYTE> data(64);
    Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    r.sptd.PathId = 1;
    r.sptd.TargetId = 8;
    ASSERT_TRUE(Send(*port, r));
    EXPECT_EQ(seenNode, (fake.Dev() / "sg3").string());
    EXPECT_EQ(r.sptd.PathId, 1);
    EXPECT_EQ(r.sptd.TargetId, 8);

    auto disk = Open("PhysicalDrive1");
    r = ReadTen(data, SCSI_IOCTL_DATA_IN);
    ASSERT_TRUE(Send(*disk, r));
    EXPECT_EQ(seenNode, (fake.Dev() / "sg3").string());
    EXPECT_EQ(r.sptd.PathId, 1);
    EXPECT_EQ(r.sptd.TargetId, 8);

    // Beyond a bus of 32, and beyond target 255: nothing is sent.
    const int before = calls;
    for (const auto& [path, target] : {std::pair<UCHAR, UCHAR>{0, 32}, {8, 0}}) {
        r.sptd.PathId = path;
        r.sptd.TargetId = target;
        EXPECT_FALSE(Send(*port, r));
        EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    }
    EXPECT_EQ(calls, before);
}

TEST(LinuxPassThroughTest, ConcurrentCommandsEachGetTheirOwnAnswer)
{
    FakeSysfs fake;
    fake.AddHost(1, "aic7xxx");
    fake.AddUnit("1:0:4:0", {0, kKestrelNames, "sd", "sg2", ""});
    // Answers with the CDB's tag byte, so crossed requests show.
    auto io = std::make_shared<testing::FakeSgIo>([](const std::string&, sg_io_hdr& h) {
        std::memset(h.dxferp, h.cmdp[5], h.dxfer_len);
        h.resid = h.cmdp[5] % 8;
        return 0;
    });
    SysfsMachine machine(fake.Sys(), fake.Dev(), io);
    DWORD openError = 0;
    const auto port = machine.Open("SCSI0:", 0, &openError);
    std::atomic<int> right{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<BYTE> data(256);
            for (int i = 0; i < 50; ++i) {
                Request r = ReadTen(data, SCSI_IOCTL_DATA_IN);
                const auto tag = r.sptd.Cdb[5] = static_cast<UCHAR>(t * 50 + i);
                DWORD error = 0;
                DWORD done = 0;
                const bool ok = port->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &r, sizeof r, &r, sizeof r, &done,
                                                &error) == TRUE;
                right += ok && r.sptd.DataTransferLength == 256u - tag % 8 &&
                         std::all_of(data.begin(), data.end(), [&](BYTE b) { return b == tag; });
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(right, 200);
}

}  // namespace
}  // namespace harrow::machine
