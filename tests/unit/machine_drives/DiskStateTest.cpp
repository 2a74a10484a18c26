#include "DriveHarness.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

namespace harrow::machine::testing {
namespace {

using nlohmann::json;

json Unit(json extra = json::object())
{
    json unit = {{"vendor", "KESTREL"}, {"product", "KX18LVD"}, {"blocks", 8000}};
    unit.update(extra);
    return unit;
}

const std::vector<std::uint8_t> kSelfTestLog{0x4D, 0, 0x50, 0, 0, 0, 0, 0x02, 0, 0};
const std::vector<std::uint8_t> kShortTest{0x1D, 0x20, 0, 0, 0, 0};
const std::vector<std::uint8_t> kLongTest{0x1D, 0x40, 0, 0, 0, 0};

using DiskStateTest = DriveTest;

TEST_F(DiskStateTest, SelfTestRunsInTheBackgroundAndIsLogged)
{
    Drive drive(Unit({{"durations", {{"shortSelfTest", 10000}}}}), folder.Path());
    auto empty = drive.Send(kSelfTestLog, 512);
    ASSERT_EQ(empty.result.status, 0);
    EXPECT_EQ(empty.data[2] << 8 | empty.data[3], 0);  // never run

    ASSERT_EQ(drive.Send(kShortTest).result.status, 0);
    auto progress = drive.Send({0x03, 0, 0, 0, 0x13, 0}, 19);
    EXPECT_EQ(progress.result.status, 0);
    EXPECT_EQ(progress.data[2], 0x00);
    EXPECT_EQ(progress.data[12], 0x04);
    EXPECT_EQ(progress.data[13], 0x09);
    EXPECT_EQ(progress.data[15], 0x80);
    auto running = drive.Send(kSelfTestLog, 512);
    EXPECT_EQ(running.data[8], (1 << 5) | 0x0F);
    EXPECT_TRUE(HasSense(drive.Send(kLongTest), 2, 0x04, 0x09));
    EXPECT_EQ(drive.Send(Cdb10(0x28, 0, 1), 512).result.status, 0);  // a background test lets I/O through

    ASSERT_EQ(drive.Send({0x1D, 0x80, 0, 0, 0, 0}).result.status, 0);
    auto aborted = drive.Send(kSelfTestLog, 512);
    EXPECT_EQ(aborted.data[8], (1 << 5) | 0x01);
    EXPECT_TRUE(HasSense(drive.Send({0x1D, 0x80, 0, 0, 0, 0}), 5, 0x24, 0));  // nothing left to abort
    auto idle = drive.Send({0x03, 0, 0, 0, 0x13, 0}, 19);
    EXPECT_EQ(idle.data[2] | idle.data[12] | idle.data[13], 0);
}

TEST_F(DiskStateTest, SelfTestFailsInTheInjectedSegmentOrAtAMediumError)
{
    Drive segment(Unit({{"durations", {{"shortSelfTest", 0}}}, {"faults", {{"selfTestFailSegment", 3}}}}),
                  folder.Path());
    ASSERT_EQ(segment.Send(kShortTest).result.status, 0);
    auto log = segment.Send(kSelfTestLog, 512);
    EXPECT_EQ(log.data[8], (1 << 5) | 7);
    EXPECT_EQ(log.data[9], 3);
    EXPECT_EQ(log.data[20], 0x04);
    EXPECT_TRUE(HasSense(segment.Send({0x1D, 0xA0, 0, 0, 0, 0}), 4, 0x3E, 0x03));  // foreground short

    TempFolder other;
    Drive medium(Unit({{"durations", {{"longSelfTest", 0}}}, {"faults", {{"mediumErrors", {4500}}}}}),
                 other.Path());
    ASSERT_EQ(medium.Send(kLongTest).result.status, 0);
    auto result = medium.Send(kSelfTestLog, 512);
    EXPECT_EQ(result.data[8], (2 << 5) | 7);
    EXPECT_EQ(result.data[9], 5);  // 4500 of 8000 blocks lies in the fifth eighth
    EXPECT_EQ(result.data[19], 0x94);  // LBA 4500 = 0x1194
    EXPECT_EQ(result.data[20] & 0x0F, 3);
    EXPECT_EQ(result.data[21], 0x11);
}

TEST_F(DiskStateTest, WithoutSelfTestTheResultsPageIsMissing)
{
    Drive drive(Unit({{"dst", false}}), folder.Path());
    EXPECT_TRUE(HasSense(drive.Send({0x4D, 0, 0x50, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 65535), 5, 0x24, 0));
    EXPECT_TRUE(HasSense(drive.Send(kShortTest), 5, 0x24, 0));
    auto control = drive.Send({0x1A, 0, 0x0A, 0, 0xFF, 0}, 255);
    EXPECT_EQ(control.data[30] | control.data[31], 0);
}

TEST_F(DiskStateTest, MediumErrorsReassignmentAndDefectLists)
{
    Drive drive(Unit({{"faults", {{"mediumErrors", {100, 7000}}}}}), folder.Path());
    auto read = drive.Send(Cdb10(0x28, 96, 8), 8 * 512);
    EXPECT_TRUE(HasSense(read, 3, 0x11, 0));
    EXPECT_EQ(read.Information(), 100u);
    EXPECT_EQ(read.result.sense[0], 0xF0);
    EXPECT_EQ(read.result.transferred, 4u * 512);
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x2F, 6000, 2000)), 3, 0x11, 0));

    EXPECT_TRUE(HasSense(drive.Send({0x07, 0, 0, 0, 0, 0}, 0, {0, 0, 0, 4, 0, 0, 0x27, 0x10}), 5, 0x21, 0));
    EXPECT_TRUE(HasSense(drive.Send({0x07, 0, 0, 0, 0, 0}, 0, {0, 0, 0, 3, 0, 0, 0}), 5, 0x26, 0));
    EXPECT_EQ(drive.Send({0x07, 0, 0, 0, 0, 0}, 0, {0, 0, 0, 4, 0, 0, 0, 100}).result.status, 0);
    EXPECT_EQ(drive.Send(Cdb10(0x28, 96, 8), 8 * 512).result.status, 0);

    auto twelve = drive.Send({0xB7, 0x0C, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0}, 65535);
    ASSERT_EQ(twelve.result.status, 0);
    EXPECT_EQ(twelve.data[1], 0x0C);
    EXPECT_EQ(twelve.data[7], 8);  // one 8-byte descriptor
    EXPECT_EQ(twelve.result.transferred, 16u);
    auto ten = drive.Send({0x37, 0, 0x08, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 65535);
    EXPECT_EQ(ten.data[3], 4);
    EXPECT_EQ(ten.data[7], 100);
    auto none = drive.Send({0x37, 0, 0x10, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 65535);
    EXPECT_EQ(none.data[3], 0);
}

TEST_F(DiskStateTest, PortFaultsBusySelectionTimeoutAndUnitAttention)
{
    Drive busy(Unit({{"faults", {{"busy", 2}, {"unitAttentions", 1}}}}), folder.Path());
    EXPECT_EQ(busy.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0x08);
    EXPECT_EQ(busy.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0x08);
    EXPECT_EQ(busy.Send({0x12, 0, 0, 0, 36, 0}, 36).result.status, 0);  // INQUIRY passes a unit attention
    EXPECT_TRUE(HasSense(busy.Send({0x00, 0, 0, 0, 0, 0}), 6, 0x29, 0));
    EXPECT_EQ(busy.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0);

    TempFolder other;
    Drive gone(Unit({{"faults", {{"selectionTimeout", true}}}}), other.Path());
    EXPECT_EQ(gone.Send({0x12, 0, 0, 0, 36, 0}, 36).result.outcome, PortOutcome::SelectionTimeout);
}

TEST_F(DiskStateTest, StatePersistsAcrossProcesses)
{
    const json unit = Unit({{"durations", {{"longSelfTest", 100000}}}});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Drive drive(unit, folder.Path());
        std::vector<std::uint8_t> block(512, 0xA5);
        const bool ok = drive.Send(Cdb10(0x2A, 1234, 1), 0, block).result.status == 0 &&
                        drive.Send(kLongTest).result.status == 0 &&
                        drive.Send({0x07, 0, 0, 0, 0, 0}, 0, {0, 0, 0, 4, 0, 0, 0, 9}).result.status == 0;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);

    Drive drive(unit, folder.Path());
    EXPECT_EQ(drive.Send(Cdb10(0x28, 1234, 1), 512).data, std::vector<std::uint8_t>(512, 0xA5));
    EXPECT_EQ(drive.Send(kSelfTestLog, 512).data[8], (2 << 5) | 0x0F);  // still running
    EXPECT_EQ(drive.Send({0x37, 0, 0x08, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 512).data[3], 4);
    // The data file is sparse: one written block costs one block, not the drive.
    struct stat data {};
    ASSERT_EQ(stat((folder.Path() / "blocks.bin").c_str(), &data), 0);
    EXPECT_LE(data.st_blocks * 512, 64 * 1024);
}

TEST_F(DiskStateTest, StateIsWrittenOnlyOnceTheDriveChanges)
{
    const auto state = folder.Path() / "state.json";
    {
        Drive drive(Unit(), folder.Path());
        EXPECT_EQ(drive.Send({0x12, 0, 0, 0, 36, 0}, 36).result.status, 0);
        EXPECT_EQ(drive.Send(Cdb10(0x25, 0, 0), 8).result.status, 0);
        EXPECT_EQ(drive.Send(Cdb10(0x28, 0, 1), 512).result.status, 0);
    }
    EXPECT_FALSE(std::filesystem::exists(state));
    Drive drive(Unit(), folder.Path());
    ASSERT_EQ(drive.Send(kShortTest).result.status, 0);
    EXPECT_TRUE(std::filesystem::exists(state));
    Drive other(Unit(), folder.Path());
    EXPECT_EQ(other.Send(kSelfTestLog, 512).data[8] >> 5, 1);  // the short test, seen by another opener
}

TEST_F(DiskStateTest, DamagedStateIsRefusedWithItsPath)
{
    { Drive drive(Unit(), folder.Path()); }
    std::ofstream(folder.Path() / "state.json") << "{\"revision\": 12";
    try {
        Drive drive(Unit(), folder.Path());
        FAIL() << "a damaged state file was accepted";
    } catch (const MachineFileError& e) {
        EXPECT_NE(std::string(e.what()).find("state.json"), std::string::npos);
        EXPECT_NE(std::string(e.what()).find("ports[0].units[0]"), std::string::npos);
    }
    std::ofstream(folder.Path() / "state.json", std::ios::trunc) << "{}";
    EXPECT_THROW(Drive(Unit(), folder.Path()), MachineFileError);
}

TEST_F(DiskStateTest, MachineFileMistakesNameTheField)
{
    auto message = [&](json unit) {
        try {
            Drive drive(unit, folder.Path());
        } catch (const MachineFileError& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(message(Unit({{"blocks", -1}})).rfind("ports[0].units[0].blocks: ", 0), 0u);
    EXPECT_NE(message(Unit({{"blockSize", 513}})).find("blockSize"), std::string::npos);
    EXPECT_NE(message(Unit({{"colour", "red"}})).find("colour: is not a known field"), std::string::npos);
    EXPECT_NE(message(Unit({{"type", "printer"}})).find("type"), std::string::npos);
    EXPECT_NE(message(Unit({{"faults", {{"mediumErrors", {9000}}}}})).find("mediumErrors[0]"), std::string::npos);
    EXPECT_NE(message(Unit({{"vendor", "MUCH TOO LONG"}})).find("vendor"), std::string::npos);
    EXPECT_EQ(message(Unit({{"target", 3}, {"lun", 1}, {"bus", 0}})), "accepted");
}

}  // namespace
}  // namespace harrow::machine::testing
