#include "CliRunner.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <sstream>

namespace {

using namespace std::chrono_literals;

// A line logged with a time stamp and without the device address.
std::string Stamped(const std::string& text) { return "<TIME>  " + text + "\n"; }

// A line logged with a time stamp and the address of port 0, LUN 0.
std::string AtTarget(int target, const std::string& text)
{
    return "<TIME> Port:0 Target:" + std::to_string(target) + " Lun:0  " + text + "\n";
}

// Takes the progress lines ("\tDST is 12% complete . . .") out of the text and
// gives their percentages in order; how many a run prints depends on timing.
std::vector<int> TakeProgress(std::string& text, const std::string& what)
{
    const std::string head = "\t" + what + " is ";
    const std::string tail = "% complete . . .";
    std::vector<int> values;
    std::string kept;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t digits = line.size() - std::min(line.size(), head.size() + tail.size());
        const std::string number = line.substr(std::min(line.size(), head.size()), digits);
        if (digits > 0 && line.starts_with(head) && line.ends_with(tail) &&
            number.find_first_not_of("0123456789") == std::string::npos) {
            values.push_back(std::stoi(number));
        } else {
            kept += line + "\n";
        }
    }
    text = kept;
    return values;
}

// Each line is printed at the first poll that reaches the next 10 % threshold.
void ExpectThresholds(const std::vector<int>& progress, int below)
{
    for (std::size_t i = 0; i < progress.size(); ++i) {
        EXPECT_GE(progress[i], 10 * static_cast<int>(i + 1)) << "line " << i;
        EXPECT_LT(progress[i], below) << "line " << i;
        if (i > 0) {
            EXPECT_GT(progress[i], progress[i - 1]) << "line " << i;
        }
    }
}

// A test ending between the progress read and the log read of one poll is
// also reported from the log; that line is a matter of timing.
void DropCompletedReport(std::string& text)
{
    const std::string report = Stamped("Disc Drive Self Test Completed Without Error");
    if (const auto at = text.find(report); at != std::string::npos) {
        text.erase(at, report.size());
    }
}

CliRunner::Result StopSelfTest(const CliRunner& cli, const std::string& device) { return cli.Run({"-s", device}); }

const std::vector<std::string> kShortPhases = {
    Stamped("Performing Sequential Read (start of disk)"), Stamped("Performing Sequential Read (end of disk)"),
    Stamped("Performing Random Read Commands"), Stamped("Performing Random Seek Commands")};

std::string Phases(std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += kShortPhases[i];
    }
    return text;
}

// The verify lines count the blocks verified against the blocks to verify.
std::string VerifyLines(std::initializer_list<int> percents)
{
    std::string text;
    for (const int percent : percents) {
        text += "\tVerify is " + std::to_string(percent) + "% complete . . .\n";
    }
    return text;
}

struct ExactRun {
    std::vector<std::string> arguments;
    std::string expected;
    int exitCode;
};

// Each run of the machine file with its exact lines after initialisation and its exit code.
void ExpectRuns(const std::string& machine, const std::vector<ExactRun>& runs)
{
    CliRunner cli(MachinePath(machine));
    for (const ExactRun& row : runs) {
        const auto run = cli.Run(row.arguments);
        EXPECT_EQ(AfterInit(run), row.expected) << row.arguments.back();
        EXPECT_EQ(run.exitCode, row.exitCode) << row.arguments.back();
    }
}

// ---- the drive's own self test ----

TEST(SelfTest, ShortAndLongTestsPassWithProgressLines)
{
    CliRunner cli(MachinePath("self-test.json"));
    for (const std::string word : {"Short", "Long"}) {
        const auto run = cli.Run({word == "Short" ? "-t" : "-tl", "0:0:0"});
        std::string text = AfterInit(run);
        const auto progress = TakeProgress(text, "DST");
        DropCompletedReport(text);
        EXPECT_EQ(text, Stamped("Starting 100 % DST " + word + " Test") +
                            Stamped("DST " + word + " Test complete without error"));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_GE(progress.size(), 3U) << run.out;
        ExpectThresholds(progress, 100);

        // The drive ran the test to its end: it was not aborted at 100 %.
        const auto stop = StopSelfTest(cli, "0:0:0");
        EXPECT_EQ(AfterInit(stop), Stamped("Disc Drive Self Test Completed Without Error"));
        EXPECT_EQ(stop.exitCode, 0);
    }
}

// The drive's 0.5 s test ends between the status read after the start and
// the first poll a second later; a larger time scale keeps those apart on a busy machine.
TEST(SelfTest, DriveFinishingBetweenPollsCountsAsComplete)
{
    CliRunner cli(MachinePath("self-test.json"), 0.1);
    auto run = cli.Run({"-t", "0:1:0"});
    EXPECT_EQ(AfterInit(run), Stamped("Starting 100 % DST Short Test") +
                                  Stamped("DST Short Test complete without error"));
    EXPECT_EQ(run.exitCode, 0);

    run = cli.Run({"-tl", "50%", "0:1:0"});
    EXPECT_EQ(AfterInit(run), Stamped("Starting 50 % DST Long Test") +
                                  Stamped("DST Long Test complete without error"));
    EXPECT_EQ(run.exitCode, 0);
}

// The usage's lowest percentage is the first progress threshold: the test is
// aborted at the first poll that shows it, before any progress line.
TEST(SelfTest, PercentageAtFirstThresholdAbortsWithoutProgressLine)
{
    CliRunner cli(MachinePath("self-test.json"));
    const auto run = cli.Run({"-t", "10%", "0:4:0"});
    EXPECT_EQ(AfterInit(run), Stamped("Starting 10 % DST Short Test") +
                                  Stamped("DST Short Test complete without error"));
    EXPECT_EQ(run.exitCode, 0);

    // The program aborted the drive's test; nothing is left running.
    const auto stop = StopSelfTest(cli, "0:4:0");
    EXPECT_EQ(AfterInit(stop), Stamped("Disc Drive Self Test Aborted"));
    EXPECT_EQ(stop.exitCode, 1);
}

TEST(SelfTest, ShortTestFailingInSecondSegmentReportsTheLogEntry)
{
    CliRunner cli(MachinePath("self-test.json"));
    const auto run = cli.Run({"-t", "0:2:0"});
    std::string text = AfterInit(run);
    ExpectThresholds(TakeProgress(text, "DST"), 19);
    EXPECT_EQ(text, Stamped("Starting 100 % DST Short Test") +
                        Stamped("Disc Drive Self Test Second Segment Failed") +
                        Stamped("Self-Test Code: 1 (Background Short Self-Test)") +
                        Stamped("Self-Test Result: 6 (Second Segment Failed)") +
                        Stamped("Power On Hours At Test: 1234") +
                        Stamped("Failed Segment: 2, First Failing LBA: 4294967295") +
                        Stamped("Sense Key / ASC / ASCQ: 04 / 40 / 80") +
                        Stamped("DST Short Test complete with error"));
    EXPECT_EQ(run.exitCode, 1);
    // The report is kept in the log file too; progress lines are for the console only.
    EXPECT_TRUE(MaskTimes(cli.ReadWorkFile("HarrowCLI.log")).ends_with(text)) << cli.ReadWorkFile("HarrowCLI.log");
}

// The failure lies beyond the percentage asked for, but the test reaches it
// before the progress does: the percentage counts whole-test progress.
TEST(SelfTest, LongTestFindingMediumErrorNamesSegmentAndLba)
{
    CliRunner cli(MachinePath("self-test.json"));
    const auto run = cli.Run({"-tl", "90%", "0:3:0"});
    std::string text = AfterInit(run);
    ExpectThresholds(TakeProgress(text, "DST"), 63);
    EXPECT_EQ(text, Stamped("Starting 90 % DST Long Test") +
                        Stamped("Disc Drive Self Test Segment  6 Failed") +
                        Stamped("Self-Test Code: 2 (Background Extended Self-Test)") +
                        Stamped("Self-Test Result: 7 (Segment Failed)") +
                        Stamped("Power On Hours At Test: 1234") +
                        Stamped("Failed Segment: 6, First Failing LBA: 5000") +
                        Stamped("Sense Key / ASC / ASCQ: 03 / 11 / 00") +
                        Stamped("DST Long Test complete with error"));
    EXPECT_EQ(run.exitCode, 1);

    // The short test does not read the surface and passes.
    const auto shortRun = cli.Run({"-t", "0:3:0"});
    EXPECT_EQ(shortRun.exitCode, 0) << shortRun.out;
}

TEST(SelfTest, StopFromSecondRunEndsTheFirst)
{
    CliRunner cli(MachinePath("self-test.json"));
    auto first = cli.Start({"-tl", "0:4:0"});
    ASSERT_TRUE(first.WaitForText(cli.LogFile(), "Starting 100 % DST Long Test", 10s));

    const auto stop = StopSelfTest(cli, "0:4:0");
    EXPECT_EQ(AfterInit(stop), Stamped("Disc Drive Self Test Aborted"));
    EXPECT_EQ(stop.exitCode, 1);

    // The drive's test would run 10 s; the first run ends at its next poll.
    ASSERT_TRUE(first.WaitForText(cli.LogFile(), "DST Long Test complete", 5s)) << first.Kill().out;
    const auto run = first.Wait();
    std::string text = AfterInit(run);
    ExpectThresholds(TakeProgress(text, "DST"), 100);
    EXPECT_EQ(text, Stamped("Starting 100 % DST Long Test") + Stamped("Disc Drive Self Test Aborted") +
                        Stamped("DST Long Test complete with error"));
    EXPECT_EQ(run.exitCode, 1);
}

TEST(SelfTest, TestLeftRunningOnTheDriveIsStoppedAndBlocksANewStart)
{
    CliRunner cli(MachinePath("self-test.json"));
    auto first = cli.Start({"-tl", "0:4:0"});
    ASSERT_TRUE(first.WaitForText(cli.LogFile(), "Starting 100 % DST Long Test", 10s));
    // Ctrl+C ends the program, not the drive's own test.
    EXPECT_EQ(first.Interrupt().signal, SIGINT);

    // The drive refuses a second test while the first runs on.
    const auto second = cli.Run({"-t", "0:4:0"});
    EXPECT_EQ(AfterInit(second), AtTarget(4, "Disc 0:4:0 Drive Self Test Failed: 02 / 04 / 09") +
                                     Stamped("Failed to start 100 % DST Short Test"));
    EXPECT_EQ(second.exitCode, 1);

    const auto stop = StopSelfTest(cli, "0:4:0");
    EXPECT_EQ(AfterInit(stop), Stamped("Disc Drive Self Test Aborted"));
    EXPECT_EQ(stop.exitCode, 1);

    // Once stopped, a new test starts.
    const auto third = cli.Run({"-t", "10%", "0:4:0"});
    EXPECT_EQ(third.exitCode, 0) << third.out;
}

// A drive that never ran a self test has an empty log: there is no result to
// report. A drive without the self test refuses the log page, and says so,
// and runs the host tests instead; so does another maker's drive, whatever it
// supports. Nothing answers at target 12: the address is refused (4).
TEST(SelfTest, FallbacksAndResultsWithoutProgress)
{
    const std::string fallback = Stamped("DST not supported...Using Legacy test instead.");
    const std::string longStart = Stamped("Starting 100% Generic Long Test (^C to abort)");
    ExpectRuns("self-test.json", {
        {{"-tl", "0:8:0"},
         Stamped("Starting 100 % DST Long Test") + Stamped("Disc Drive Self Test First Segment Failed") +
             Stamped("Self-Test Code: 2 (Background Extended Self-Test)") +
             Stamped("Self-Test Result: 5 (First Segment Failed)") + Stamped("Power On Hours At Test: 77") +
             Stamped("Failed Segment: 1, First Failing LBA: 4294967295") +
             Stamped("Sense Key / ASC / ASCQ: 04 / 40 / 80") + Stamped("DST Long Test complete with error"),
         1},
        {{"-s", "0:0:0"}, "", 0},
        {{"-s", "0:5:0"},
         AtTarget(5, "Log Sense Failed: 05 / 24 / 00") + Stamped("Unable To Read The Self-Test Results Log Page"), 0},
        {{"-t", "10%", "0:5:0"},
         fallback + Stamped("Start 10% Generic Short Test (^C to abort)") + Phases(4) +
             AtTarget(5, "Legacy Short Test Passed"),
         0},
        {{"-tl", "0:5:0"}, fallback + longStart + AtTarget(5, " Legacy Long Test Passed"), 0},
        {{"-tl", "0:6:0"}, fallback + longStart + AtTarget(6, " Generic Long Test Passed"), 0},
        {{"-t", "0:12:0"}, "", 4},
    });
}

// ---- host tests ----

TEST(GenericShortTest, PhasesAndTheirFailures)
{
    const std::string legacy = Stamped("DST not supported...Using Legacy test instead.");
    const std::string onePercent = Stamped("Start 1% Generic Short Test (^C to abort)");
    // The lowest percentage the self-test commands take.
    const std::string tenPercent = Stamped("Start 10% Generic Short Test (^C to abort)");
    ExpectRuns("host-tests.json", {
        {{"-g", "1%", "0:6:0"}, onePercent + Phases(4) + AtTarget(6, "Generic Short Test Passed"), 0},
        // Phase B reads from n blocks before the last LBA through the last one.
        {{"-g", "1%", "0:5:0"}, onePercent + Phases(2) + AtTarget(5, " Generic Short Test Failed 03 / 11 / 00"), 2},
        // The maker's drive without a self test: same test, worded "Legacy".
        {{"-t", "10%", "0:10:0"},
         legacy + tenPercent + Phases(2) + AtTarget(10, " Legacy Short Test Failed 03 / 11 / 00"), 2},
        {{"-g", "0:11:0"},
         Stamped("Start 100% Generic Short Test (^C to abort)") + Phases(1) +
             AtTarget(11, " Generic Short Test Failed 03 / 11 / 00"),
         2},
        // A drive refusing SEEK still fails on a bad block, before the seeks are tried. At 1 %
        // (a percentage only -g takes) phase A cannot read through its 8190 blocks to the bad one.
        {{"-g", "1%", "0:14:0"}, onePercent + Phases(2) + AtTarget(14, " Legacy Short Test Failed 03 / 11 / 00"), 2},
        // Phase A stops at the last LBA of a drive it reads through in less than the phase time.
        {{"-g", "10%", "0:8:0"},
         Stamped("Start 10% Generic Short Test (^C to abort)") + Phases(4) + AtTarget(8, "Generic Short Test Passed"),
         0},
    });
}

// 81900 blocks are 20 chunks of 4095: 10 % every second chunk. 8190 blocks
// are two full chunks: the second ends on the last LBA. At 50 % of 81900
// blocks the switch point is LBA 40949, verified inclusive: ten chunks.
TEST(GenericLongTest, ChunksProgressAndSwitchPoint)
{
    const std::string whole = Stamped("Starting 100% Generic Long Test (^C to abort)");
    const std::string half = Stamped("Starting 50% Generic Long Test (^C to abort)");
    const std::string tenths = VerifyLines({10, 20, 30, 40, 50, 60, 70, 80, 90});
    ExpectRuns("host-tests.json", {
        {{"-gl", "0:0:0"}, whole + tenths + AtTarget(0, " Generic Long Test Passed"), 0},
        {{"-gl", "0:9:0"}, whole + VerifyLines({50}) + AtTarget(9, " Generic Long Test Passed"), 0},
        {{"-gl", "0:1:0"}, whole + VerifyLines({50}) + AtTarget(1, "Generic Long Test Failed 03 / 11 / 00"), 2},
        {{"-gl", "100%", "0:2:0"}, whole + VerifyLines({50}) + AtTarget(2, "Legacy Long Test Failed 03 / 11 / 00"), 2},
        {{"-gl", "50%", "0:3:0"}, half + tenths + AtTarget(3, " Generic Long Test Passed"), 0},
        {{"-gl", "50%", "0:4:0"}, half + tenths + AtTarget(4, "Generic Long Test Failed 03 / 11 / 00"), 2},
        {{"-gl", "0:12:0"}, "", 4},
    });
}

// Reading a drive never grows its data file, so a file-size limit far below
// the drive's size neither ends the run nor fails it.
TEST(GenericShortTest, RunsUnderAFileSizeLimitBelowTheDrivesSize)
{
    CliRunner cli(MachinePath("host-tests.json"));
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limit = saved;
    limit.rlim_cur = 1 << 20;  // the drive holds 512 MiB
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto run = cli.Run({"-g", "1%", "0:6:0"});
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(AfterInit(run).ends_with(AtTarget(6, "Generic Short Test Passed"))) << run.out;
}

// SEEK is obsolete since SBC-2: a drive refusing it is judged on its reads alone.
TEST(GenericShortTest, DriveRefusingSeekSkipsThatPhase)
{
    CliRunner cli(MachinePath("host-tests.json"));
    const std::string skipped = Stamped("Random Seek Commands skipped: the drive does not support SEEK");
    const auto run = cli.Run({"-g", "1%", "0:13:0"});
    EXPECT_EQ(AfterInit(run), Stamped("Start 1% Generic Short Test (^C to abort)") + Phases(4) + skipped +
                                  AtTarget(13, "Generic Short Test Passed"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(MaskTimes(cli.ReadWorkFile("HarrowCLI.log")).find(skipped), std::string::npos);
}

// Ctrl+C on a run writing into a file: every line written so far is there.
TEST(GenericShortTest, InterruptedRunIntoAFileKeepsItsLines)
{
    CliRunner cli(MachinePath("host-tests.json"), 1.0);  // 30 s phases: still reading when stopped
    auto run = cli.Start({"-g", "0:6:0"});
    const std::string reading = "Performing Sequential Read (start of disk)";
    ASSERT_TRUE(run.WaitForText(run.OutPath(), reading, 10s)) << run.Kill().out;
    const auto stopped = run.Interrupt();
    EXPECT_EQ(stopped.signal, SIGINT);
    EXPECT_EQ(AfterInit(stopped), Stamped("Start 100% Generic Short Test (^C to abort)") + Stamped(reading));
    EXPECT_TRUE(stopped.out.starts_with("<TIME>  Harrow Viraradiza NT Command Line diagnostic\n")) << stopped.out;
}

}  // namespace
