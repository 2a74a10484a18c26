// A format without IMMED (SBC-3 FORMAT UNIT): the initiator waits, others
// are told NOT READY with the progress, and a format whose process is killed
// leaves the medium format corrupted until the next format.
#include "DriveHarness.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace harrow::machine::testing {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// 200 s of format: 2 s at the tests' time scale of 0.01.
json FormattingUnit()
{
    return {{"type", "disk"}, {"vendor", "MERIDIAN"}, {"blocks", 4096}, {"durations", {{"format", 200}}}};
}

const std::vector<std::uint8_t> kFormatWaiting{0x04, 0x00, 0, 0, 0, 0};  // no FmtData: no IMMED
const std::vector<std::uint8_t> kTestUnitReady{0x00, 0, 0, 0, 0, 0};

// Waits (bounded) until the unit answers NOT READY, FORMAT IN PROGRESS.
bool SeesFormatInProgress(Drive& drive)
{
    for (int tries = 0; tries < 2000; ++tries) {
        if (HasSense(drive.Send(kTestUnitReady), 2, 0x04, 0x04)) {
            return true;
        }
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

TEST_F(DriveTest, OthersHearTheProgressOfAFormatWithoutImmedInsteadOfWaiting)
{
    Drive formatting(FormattingUnit(), folder.Path());
    Drive other(FormattingUnit(), folder.Path());  // another process's view of the same unit
    Answer formatted;
    std::thread initiator([&] { formatted = formatting.Send(kFormatWaiting); });
    ASSERT_TRUE(SeesFormatInProgress(other));
    const auto asked = std::chrono::steady_clock::now();
    const Answer busy = other.Send(kTestUnitReady);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 500ms);  // answered, not queued behind the format
    EXPECT_TRUE(HasSense(busy, 2, 0x04, 0x04));
    EXPECT_EQ(busy.result.sense[15], 0x80);  // SKSV: the progress indication follows
    initiator.join();
    EXPECT_EQ(formatted.result.status, 0);
    EXPECT_EQ(other.Send(kTestUnitReady).result.status, 0);
    EXPECT_EQ(formatting.Send(kTestUnitReady).result.status, 0);
}

TEST_F(DriveTest, AFormatKilledMidwayLeavesTheMediumFormatCorruptedUntilFormattedAgain)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Drive formatting(FormattingUnit(), folder.Path());
        formatting.Send(kFormatWaiting);
        ::_exit(0);
    }
    {
        Drive watcher(FormattingUnit(), folder.Path());
        const bool started = SeesFormatInProgress(watcher);
        ::kill(child, SIGKILL);  // kill -9 in the middle of the format
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(started);
        ASSERT_TRUE(WIFSIGNALED(status));
    }

    json quick = FormattingUnit();
    quick["durations"]["format"] = 0;
    Drive after(quick, folder.Path());  // the next run
    EXPECT_TRUE(HasSense(after.Send(kTestUnitReady), 3, 0x31, 0x00));
    EXPECT_TRUE(HasSense(after.Send(Cdb10(0x28, 0, 1), 512), 3, 0x31, 0x00));
    EXPECT_TRUE(HasSense(after.Send(Cdb10(0x25, 0, 0), 8), 3, 0x31, 0x00));
    EXPECT_EQ(after.Send({0x12, 0, 0, 0, 36, 0}, 36).result.status, 0);  // INQUIRY still answers
    Drive again(quick, folder.Path());  // and it stays so in later runs
    EXPECT_TRUE(HasSense(again.Send(kTestUnitReady), 3, 0x31, 0x00));

    EXPECT_EQ(after.Send(kFormatWaiting).result.status, 0);
    EXPECT_EQ(after.Send(kTestUnitReady).result.status, 0);
    EXPECT_EQ(after.Send(Cdb10(0x28, 0, 1), 512).result.status, 0);
    EXPECT_EQ(again.Send(kTestUnitReady).result.status, 0);
}

}  // namespace
}  // namespace harrow::machine::testing
