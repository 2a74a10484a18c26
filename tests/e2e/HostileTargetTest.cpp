// HarrowCLI against iSCSI targets that misbehave on purpose: one that never
// answers, one that goes mute after the login, one that asks for a logout in
// the middle of a test, short and oversized answers and broken PDUs. The fake
// target of tests/support counts what it saw.
#include "CliRunner.h"

#include "support/FakeIscsiTarget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace {

using harrow::testing::FakeIscsiTarget;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::unique_ptr<FakeIscsiTarget> StartFake(const std::string& mode, const std::vector<std::string>& options = {})
{
    std::string why;
    auto target = FakeIscsiTarget::Start(mode, options, &why);
    EXPECT_TRUE(target) << why;
    return target;
}

std::string DiskLine(int port, int lun)
{
    return "   " + std::to_string(port) + ":0:" + std::to_string(lun) +
           " Disc     FAKE      ISCSI DISK        0001              \n";
}

TEST(HostileTarget, ADeadTargetIsProbedOnceAndTheOtherTargetIsListed)
{
    const auto dead = StartFake("dead");
    const auto alive = StartFake("normal");
    ASSERT_TRUE(dead && alive);
    CliRunner cli(dead->Url() + " " + alive->Url());

    const auto start = Clock::now();
    const auto run = cli.Run({"-l"});
    const auto took = Clock::now() - start;
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(AfterInit(run), "<TIME>  Device(s) found during bus scan:\n"
                              " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n"
                              " SCSI Port 1 SCSI ID: 7 iScsiPrt ScsiPort1\n" +
                                  DiskLine(1, 0));
    EXPECT_EQ(run.err, "harrow: \\\\.\\SCSI0: " + dead->Url() + ": no answer to the login within 5000 ms\n");
    EXPECT_EQ(dead->Events("connect"), 1) << "a dead target costs one login time-out a start, not one per scan";
    // One login time-out of 5 s, and slack for a loaded machine; three probes took 15 s.
    EXPECT_LT(took, 9s);
}

TEST(HostileTarget, ATargetMuteAfterTheLoginCostsOneCommandTimeOut)
{
    const auto mute = StartFake("mute");
    ASSERT_TRUE(mute);
    CliRunner cli(mute->Url());

    const auto start = Clock::now();
    const auto run = cli.Run({"-l"});
    const auto took = Clock::now() - start;
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(AfterInit(run), "<TIME>  Device(s) found during bus scan:\n"
                              " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n"
                              "<TIME>  No HBA has been detected\n");
    EXPECT_EQ(run.err, "harrow: \\\\.\\SCSI0: " + mute->Url() + " LUN 0: no answer within 10 s\n");
    // REPORT LUNS went unanswered: no INQUIRY of LUN 0 waits as long again.
    EXPECT_EQ(mute->Events("command"), 1);
    EXPECT_EQ(mute->Events("command A0 0"), 1);
    EXPECT_EQ(mute->Events("connect"), 1);
    EXPECT_LT(took, 14s);
}

TEST(HostileTarget, ReadCapacityAnsweredGoodWithFourBytesIsAFailedCapacityRead)
{
    const auto target = StartFake("short-capacity");
    ASSERT_TRUE(target);
    CliRunner cli(target->Url());
    const auto run = cli.Run({"-i", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(AfterInit(run), " \tDevice = Port:0 Target:0 Lun:0 \n"
                              "\tVendor = FAKE     \n"
                              "\tProduct = ISCSI DISK       \n"
                              "\tVersion = 0001\n"
                              "\tSerial Number = FAKE0001\n"
                              " \t-Cannot read capacity  (Sense data = 00/00/00)\n");
    EXPECT_GE(target->Events("command 25"), 1);
}

TEST(HostileTarget, TenThousandLunsAreSummedUpInOneShortLine)
{
    const auto target = StartFake("many-luns");
    ASSERT_TRUE(target);
    CliRunner cli(target->Url());
    const auto run = cli.Run({"-l"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // LUNs 0-255 are what a port can address. The list is longer than the
    // first REPORT LUNS has room for: it is asked for again whole.
    std::string expected = "<TIME>  Device(s) found during bus scan:\n"
                           " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n";
    for (int lun = 0; lun < 256; ++lun) {
        expected += DiskLine(0, lun);
    }
    EXPECT_EQ(AfterInit(run), expected);
    EXPECT_EQ(run.err, "harrow: \\\\.\\SCSI0: 9744 LUNs cannot be addressed through a port and are left out "
                       "(the first is 4100000000000000)\n");
}

// SPC-4 6.33 leaves the list's order to the target: a LUN a port can
// address may come after 256 it cannot. The scan and the listing ask for the
// whole list again, and find it.
TEST(HostileTarget, ALunListedAfterTheFirstAsksRoomIsListed)
{
    const auto target = StartFake("late-lun");
    ASSERT_TRUE(target);
    const auto run = CliRunner(target->Url()).Run({"-l"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(AfterInit(run), "<TIME>  Device(s) found during bus scan:\n"
                              " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n" +
                                  DiskLine(0, 0) + DiskLine(0, 12));
    EXPECT_EQ(run.err, "harrow: \\\\.\\SCSI0: 300 LUNs cannot be addressed through a port and are left out "
                       "(the first is 4100000000000000)\n");
}

// A target that asks for a logout (AsyncEvent 1) in the middle of a test gets
// a new login, and the command it dropped is sent again.
TEST(HostileTarget, ALogoutTheTargetAsksForMidTestChangesNoVerdict)
{
    const auto calm = StartFake("normal");
    ASSERT_TRUE(calm);
    const auto expected = CliRunner(calm->Url()).Run({"-gl", "0:0:0"});
    ASSERT_EQ(expected.exitCode, 0) << expected.out;
    const int verifies = calm->Events("command 2F");
    ASSERT_GE(verifies, 2) << "the logout must come between two VERIFYs";

    // The logout comes instead of an answer to the second VERIFY.
    const int before = calm->Events("command") - verifies + 1;
    const auto target = StartFake("async-logout", {"--after", std::to_string(before)});
    ASSERT_TRUE(target);
    const auto run = CliRunner(target->Url()).Run({"-gl", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(AfterInit(run), AfterInit(expected));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(target->Events("async-logout"), 1);
    EXPECT_EQ(target->Events("logout"), 1);
    EXPECT_EQ(target->Events("login"), 2);
    EXPECT_EQ(target->Events("command 2F"), verifies + 1) << "the dropped VERIFY goes again";
}

TEST(HostileTarget, ALogoutAskedForAtTheFirstCommandStillListsTheDisk)
{
    const auto target = StartFake("async-logout", {"--after", "0"});
    ASSERT_TRUE(target);
    const auto run = CliRunner(target->Url()).Run({"-l"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(AfterInit(run), "<TIME>  Device(s) found during bus scan:\n"
                              " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n" +
                                  DiskLine(0, 0));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(target->Events("login"), 2);
}

// A target that asks again and again is given up on, not served forever.
TEST(HostileTarget, ATargetThatKeepsAskingForLogoutsFailsTheCommand)
{
    const auto target = StartFake("async-logout", {"--after", "0", "--logouts", "100"});
    ASSERT_TRUE(target);
    const auto run = CliRunner(target->Url()).Run({"-l"});
    EXPECT_EQ(run.exitCode, 1) << run.out;
    EXPECT_EQ(run.err, "harrow: \\\\.\\SCSI0: " + target->Url() + " LUN 0: the target asked to log out\n");
    // The first session and three new ones, each dropped at its first command.
    EXPECT_EQ(target->Events("logout"), 4);
    EXPECT_EQ(target->Events("command"), 4);
}

// Broken answers end in a clear note and an empty port, never in a crash or a hang.
TEST(HostileTarget, BrokenAnswersLeaveAnEmptyPortAndANote)
{
    for (const std::string mode : {"bad-length", "bad-offset", "wrong-itt", "truncated"}) {
        const auto target = StartFake(mode);
        ASSERT_TRUE(target);
        CliRunner cli(target->Url());
        const auto start = Clock::now();
        const auto run = cli.Run({"-l"});
        EXPECT_LT(Clock::now() - start, 14s) << mode;
        EXPECT_EQ(run.signal, 0) << mode;
        EXPECT_EQ(run.exitCode, 1) << mode << "\n" << run.out;
        EXPECT_EQ(AfterInit(run), "<TIME>  Device(s) found during bus scan:\n"
                                  " SCSI Port 0 SCSI ID: 7 iScsiPrt ScsiPort0\n"
                                  "<TIME>  No HBA has been detected\n")
            << mode;
        EXPECT_TRUE(run.err.starts_with("harrow: \\\\.\\SCSI0: " + target->Url() + " LUN 0: ")) << mode << run.err;
        EXPECT_EQ(target->Events("connect"), target->Events("login")) << mode;
    }
}

}  // namespace
