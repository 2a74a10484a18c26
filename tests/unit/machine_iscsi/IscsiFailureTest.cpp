#include "machine/iscsi/IscsiMachine.h"

#include "support/TgtTarget.h"
#include "unit/machine_iscsi/PassThroughHelper.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace harrow::machine {
namespace {

constexpr UCHAR kNone = SCSI_IOCTL_DATA_UNSPECIFIED;

// A loopback port whose connections complete but are never served.
class SilentListener {
public:
    SilentListener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_fd, 4);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
    }
    ~SilentListener() { ::close(m_fd); }
    std::uint16_t Port() const { return m_port; }

private:
    int m_fd = -1;
    std::uint16_t m_port = 0;
};

std::size_t UnitCount(platform::Device& port)
{
    std::vector<std::uint8_t> list(4096);
    DWORD returned = 0;
    DWORD error = 0;
    if (!port.IoControl(IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(), static_cast<DWORD>(list.size()),
                        &returned, &error)) {
        return 0;
    }
    return reinterpret_cast<const SCSI_ADAPTER_BUS_INFO*>(list.data())->BusData[0].NumberOfLogicalUnits;
}

BOOL Rescan(platform::Device& port, DWORD* error)
{
    std::vector<std::uint8_t> out(2048);
    DWORD returned = 0;
    return port.IoControl(IOCTL_SCSI_RESCAN_BUS, nullptr, 0, out.data(), static_cast<DWORD>(out.size()), &returned,
                          error);
}

TEST(IscsiFailureTest, TargetThatNeverAnswersIsAPortWithoutDevicesNotAHang)
{
    SilentListener silent;
    const std::string url = "iscsi://127.0.0.1:" + std::to_string(silent.Port()) + "/iqn.2026-12.org.harrow:silent";
    const auto start = std::chrono::steady_clock::now();
    IscsiMachine machine(url, std::chrono::milliseconds(200));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(machine.Port(0).Problem(), url + ": no answer to the login within 200 ms");

    DWORD error = 0;
    auto port = machine.Open("SCSI0:", 0, &error);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(UnitCount(*port), 0u);
    const auto tur = SendCdb(*port, {0x00, 0, 0, 0, 0, 0}, kNone, {});
    EXPECT_FALSE(tur.ok);
    EXPECT_EQ(tur.error, ERROR_SEM_TIMEOUT);
    EXPECT_FALSE(Rescan(*port, &error));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
}

TEST(IscsiFailureTest, ATargetThatNeverAnsweredIsNotProbedAgainByARescan)
{
    SilentListener silent;
    const std::string url = "iscsi://127.0.0.1:" + std::to_string(silent.Port()) + "/iqn.2026-12.org.harrow:silent";
    IscsiMachine machine(url, std::chrono::milliseconds(400));
    DWORD error = 0;
    auto port = machine.Open("SCSI0:", 0, &error);
    ASSERT_NE(port, nullptr);
    // The program rescans every port at start and again to list: no second wait for the login.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Rescan(*port, &error));
    EXPECT_FALSE(Rescan(*port, &error));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(machine.Port(0).Problem(), url + ": no answer to the login within 400 ms");
}

TEST(IscsiFailureTest, RescanFindsNewLunsAndALostTargetFailsCommandsKeepingTheListing)
{
    std::string why;
    auto target = testing::TgtTarget::Start({1 << 20}, &why);
    if (!target) {
        GTEST_SKIP() << "tgtd cannot be started here: " << why;
    }
    IscsiMachine machine(target->Url(), std::chrono::milliseconds(2000));
    DWORD error = 0;
    auto port = machine.Open("SCSI0:", 0, &error);
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(UnitCount(*port), 2u);

    ASSERT_TRUE(target->AddLun(2, 1 << 20));
    ASSERT_TRUE(Rescan(*port, &error));
    EXPECT_EQ(UnitCount(*port), 3u);
    EXPECT_EQ(machine.Port(0).Problem(), "");

    target->Stop();
    const auto tur = SendCdb(*port, {0x00, 0, 0, 0, 0, 0}, kNone, {}, {.lun = 1});
    EXPECT_FALSE(tur.ok);
    EXPECT_EQ(tur.error, ERROR_SEM_TIMEOUT);
    EXPECT_FALSE(Rescan(*port, &error));
    EXPECT_EQ(error, ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(UnitCount(*port), 3u);
    EXPECT_NE(machine.Port(0).Problem().find(": cannot connect: Connection refused"), std::string::npos)
        << machine.Port(0).Problem();
}

TEST(IscsiFailureTest, MalformedOrTooManyTargetsAreRefused)
{
    EXPECT_THROW(IscsiMachine("iscsi://host"), IscsiSpecError);
    std::string many;
    for (int i = 0; i < 257; ++i) {
        many += "iscsi://127.0.0.1:1/iqn.x ";
    }
    try {
        IscsiMachine machine(many, std::chrono::milliseconds(10));
        FAIL() << "accepted 257 targets";
    } catch (const IscsiSpecError& e) {
        EXPECT_STREQ(e.what(), "HARROW_MACHINE: 257 iSCSI targets given; at most 256 ports can be numbered");
    }
}

}  // namespace
}  // namespace harrow::machine
