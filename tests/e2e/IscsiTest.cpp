// HarrowCLI against a real iSCSI target (tgtd): a disk of another maker that
// refuses what a plain LUN lacks (SEEK, self tests, LOG SENSE).
#include "CliRunner.h"
#include "support/FileText.h"

#include "support/TgtTarget.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

using test_support::ReadText;

namespace {

namespace fs = std::filesystem;
using harrow::testing::TgtTarget;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1 << 20;
// LUN 1: 64 MiB, so the timed reads of the short test never run off its end.
// LUN 2: exactly two VERIFY chunks of 4095 blocks.
constexpr std::uint64_t kLun1Bytes = 64 * kMiB;
constexpr std::uint64_t kLun2Bytes = 2 * 4095 * 512;

// The tgtd this process started for the given portal; -1 when there is none.
pid_t OwnTgtd(std::uint16_t port)
{
    const std::string portal = "portal=127.0.0.1:" + std::to_string(port);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c) != 0; })) {
            continue;
        }
        std::string command = ReadText(entry.path() / "cmdline");
        std::replace(command.begin(), command.end(), '\0', ' ');
        const std::string stat = ReadText(entry.path() / "stat");
        const auto close = stat.rfind(')');
        if (command.find("tgtd") == std::string::npos || command.find(portal) == std::string::npos ||
            close == std::string::npos) {
            continue;
        }
        std::istringstream fields(stat.substr(close + 1));
        char state = 0;
        pid_t parent = 0;
        fields >> state >> parent;
        if (parent == ::getpid()) {
            return static_cast<pid_t>(std::stoi(name));
        }
    }
    return -1;
}

// Holds a tgtd stopped: the kernel still accepts connections, nobody answers.
// It is let go at the latest after `limit`, so a run that would hang on it
// ends and fails its time check instead of hanging the test.
class FrozenTgtd {
public:
    FrozenTgtd(pid_t pid, std::chrono::seconds limit) : m_pid(pid)
    {
        ::kill(m_pid, SIGSTOP);
        m_watchdog = std::thread([this, limit] {
            std::unique_lock lock(m_lock);
            m_wake.wait_for(lock, limit, [this] { return m_released; });
            ::kill(m_pid, SIGCONT);
        });
    }
    ~FrozenTgtd()
    {
        {
            std::lock_guard lock(m_lock);
            m_released = true;
        }
        m_wake.notify_one();
        m_watchdog.join();
    }
    FrozenTgtd(const FrozenTgtd&) = delete;
    FrozenTgtd& operator=(const FrozenTgtd&) = delete;

private:
    const pid_t m_pid;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_released = false;
    std::thread m_watchdog;
};

class IscsiCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_target = TgtTarget::Start({kLun1Bytes, kLun2Bytes}, &s_why); }
    static void TearDownTestSuite() { s_target.reset(); }

    void SetUp() override
    {
        if (!s_target) {
            GTEST_SKIP() << "tgtd cannot be started here: " << s_why;
        }
        m_cli = std::make_unique<CliRunner>(s_target->Url());
    }

    CliRunner::Result Run(const std::vector<std::string>& arguments) const
    {
        auto run = m_cli->Run(arguments);
        EXPECT_EQ(run.err, "") << "a reachable target leaves standard error empty";
        return run;
    }

    static std::unique_ptr<TgtTarget> s_target;
    static std::string s_why;
    std::unique_ptr<CliRunner> m_cli;
};

std::unique_ptr<TgtTarget> IscsiCli::s_target;
std::string IscsiCli::s_why;

TEST_F(IscsiCli, ListingShowsEveryLunWithTheTargetsIdentity)
{
    const auto run = Run({"-l"});
    EXPECT_EQ(run.exitCode, 0);
    // LUN 0 is tgtd's storage-array controller, for which no device is built.
    EXPECT_EQ(AfterInit(run), "<TIME>  Device(s) found during bus scan:\n"
                              " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n"
                              "   0:0:1 Disc     IET       VIRTUAL DISK      0001              \n"
                              "   0:0:2 Disc     IET       VIRTUAL DISK      0001              \n");
}

TEST_F(IscsiCli, InquiryReportOfADiskOfAnotherMaker)
{
    const auto run = Run({"-i", "0:0:1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), " \tDevice = Port:0 Target:0 Lun:1 \n"
                              "\tVendor = IET      \n"
                              "\tProduct = VIRTUAL DISK     \n"
                              "\tVersion = 0001\n"
                              "\tSerial Number =         \n"
                              " \tBlocksize = 512, Highblock = 131071, Capacity = 64 MB\n");

    const auto second = Run({"-i", "0:0:2"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(AfterInit(second).find(" \tBlocksize = 512, Highblock = 8189, Capacity = 4 MB\n"), std::string::npos)
        << second.out;

    const auto absent = Run({"-i", "0:0:5"});
    EXPECT_EQ(absent.exitCode, 1);
    EXPECT_EQ(AfterInit(absent), " Device Failed Inquiry No Sense Data\n");
}

TEST_F(IscsiCli, GenericLongTestVerifiesEveryBlockTheTargetHas)
{
    // A VERIFY past the last LBA would come back as ILLEGAL REQUEST from tgtd.
    for (const std::string lun : {"0:0:1", "0:0:2"}) {
        const auto run = Run({"-gl", lun});
        EXPECT_EQ(run.exitCode, 0) << lun << "\n" << run.out;
        const std::string report = AfterInit(run);
        EXPECT_TRUE(report.starts_with("<TIME>  Starting 100% Generic Long Test (^C to abort)\n")) << report;
        const std::string passed = "<TIME> Port:0 Target:0 Lun:" + lun.substr(4) + "   Generic Long Test Passed\n";
        EXPECT_TRUE(report.ends_with(passed)) << report;
    }
}

// tgtd refuses SEEK, obsolete since SBC-2: the test skips that phase and passes on its reads.
TEST_F(IscsiCli, GenericShortTestSkipsTheSeeksTheTargetRefuses)
{
    const auto run = Run({"-g", "1%", "0:0:1"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(AfterInit(run), "<TIME>  Start 1% Generic Short Test (^C to abort)\n"
                              "<TIME>  Performing Sequential Read (start of disk)\n"
                              "<TIME>  Performing Sequential Read (end of disk)\n"
                              "<TIME>  Performing Random Read Commands\n"
                              "<TIME>  Performing Random Seek Commands\n"
                              "<TIME>  Random Seek Commands skipped: the drive does not support SEEK\n"
                              "<TIME> Port:0 Target:0 Lun:1  Generic Short Test Passed\n");
}

TEST_F(IscsiCli, SelfTestCommandsFallBackToTheGenericTests)
{
    const auto shortRun = Run({"-t", "10%", "0:0:1"});
    EXPECT_EQ(shortRun.exitCode, 0);
    EXPECT_EQ(AfterInit(shortRun), "<TIME>  DST not supported...Using Legacy test instead.\n"
                                   "<TIME>  Start 10% Generic Short Test (^C to abort)\n"
                                   "<TIME>  Performing Sequential Read (start of disk)\n"
                                   "<TIME>  Performing Sequential Read (end of disk)\n"
                                   "<TIME>  Performing Random Read Commands\n"
                                   "<TIME>  Performing Random Seek Commands\n"
                                   "<TIME>  Random Seek Commands skipped: the drive does not support SEEK\n"
                                   "<TIME> Port:0 Target:0 Lun:1  Generic Short Test Passed\n");

    const auto longRun = Run({"-tl", "0:0:2"});
    EXPECT_EQ(longRun.exitCode, 0);
    const std::string report = AfterInit(longRun);
    EXPECT_TRUE(report.starts_with("<TIME>  DST not supported...Using Legacy test instead.\n"
                                   "<TIME>  Starting 100% Generic Long Test (^C to abort)\n"))
        << report;
    EXPECT_TRUE(report.ends_with("<TIME> Port:0 Target:0 Lun:2   Generic Long Test Passed\n")) << report;
}

TEST_F(IscsiCli, StoppingASelfTestTheTargetRefusesIsNoSuccess)
{
    const auto run = Run({"-s", "0:0:1"});
    EXPECT_EQ(run.exitCode, 0) << "the drive never reports an aborted test";
    EXPECT_EQ(AfterInit(run).find("Without Error"), std::string::npos) << run.out;
}

std::string RefusedNote(const std::string& url) { return "harrow: \\\\.\\SCSI0: " + url + ": cannot connect: Connection refused\n"; }

TEST(IscsiCliLostTarget, StoppedTargetIsAClearErrorAtOnce)
{
    std::string why;
    auto target = TgtTarget::Start({kMiB}, &why);
    if (!target) {
        GTEST_SKIP() << "tgtd cannot be started here: " << why;
    }
    const std::string url = target->Url();
    target->Stop();
    CliRunner cli(url);

    const auto start = Clock::now();
    const auto listing = cli.Run({"-l"});
    EXPECT_EQ(listing.exitCode, 1);
    EXPECT_EQ(AfterInit(listing), "<TIME>  Device(s) found during bus scan:\n"
                                  " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n"
                                  "<TIME>  No HBA has been detected\n");
    EXPECT_NE(listing.err.find(RefusedNote(url)), std::string::npos) << listing.err;

    const auto inquiry = cli.Run({"-i", "0:0:1"});
    EXPECT_EQ(inquiry.exitCode, 1);
    EXPECT_EQ(AfterInit(inquiry), " Device Failed Inquiry No Sense Data\n");
    EXPECT_NE(inquiry.err.find(RefusedNote(url)), std::string::npos) << inquiry.err;

    // No device was found at the address: the test is refused, not failed.
    const auto verify = cli.Run({"-gl", "0:0:1"});
    EXPECT_EQ(verify.exitCode, 4);
    EXPECT_EQ(AfterInit(verify), "");
    EXPECT_NE(verify.err.find(RefusedNote(url)), std::string::npos) << verify.err;
    EXPECT_NE(verify.err.find("HarrowCLI: no device answers at 0:0:1 (-l lists the devices)\n"), std::string::npos)
        << verify.err;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "a refused connection needs no waiting";
}

TEST(IscsiCliLostTarget, TargetThatStopsAnsweringEndsTheRunWithinTheLoginTimeOut)
{
    std::string why;
    auto target = TgtTarget::Start({kMiB}, &why);
    if (!target) {
        GTEST_SKIP() << "tgtd cannot be started here: " << why;
    }
    const pid_t tgtd = OwnTgtd(target->Port());
    ASSERT_GT(tgtd, 0) << "cannot find our own tgtd";
    CliRunner cli(target->Url());

    // Two logins of 5 s at most (at start, then once more for the test's
    // first command) plus slack; the watchdog lets tgtd go at 30 s.
    constexpr auto bound = std::chrono::seconds(20);
    CliRunner::Result verify;
    Clock::duration took{};
    {
        FrozenTgtd frozen(tgtd, std::chrono::seconds(30));
        const auto start = Clock::now();
        verify = cli.Run({"-gl", "0:0:1"});
        took = Clock::now() - start;
    }
    EXPECT_LT(took, bound);
    // The scan's login found nothing at the address.
    EXPECT_EQ(verify.exitCode, 4);
    EXPECT_EQ(AfterInit(verify), "");
    EXPECT_NE(verify.err.find("harrow: \\\\.\\SCSI0: " + target->Url() + ": no answer to the login within 5000 ms\n"),
              std::string::npos)
        << verify.err;

    // Once it answers again, so does the drive.
    const auto listing = cli.Run({"-l"});
    EXPECT_EQ(listing.exitCode, 0) << listing.out << listing.err;
}

}  // namespace
