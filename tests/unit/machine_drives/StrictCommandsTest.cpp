// Fields an SBC-2 disk or an SSC tape refuses with ILLEGAL REQUEST, INVALID
// FIELD IN CDB, beside the same command without them; and page control.
#include "DriveHarness.h"

namespace harrow::machine::testing {
namespace {

using StrictCommandsTest = DriveTest;

struct Refusal {
    const char* name;
    std::vector<std::uint8_t> refused;
    std::vector<std::uint8_t> accepted;
    std::size_t length;
};

void ExpectRefusals(Drive& drive, const std::vector<Refusal>& cases)
{
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(HasSense(drive.Send(c.refused, c.length), 5, 0x24, 0));
        EXPECT_EQ(drive.Send(c.accepted, c.length).result.status, 0);
    }
}

TEST_F(StrictCommandsTest, DiskRefusesProtectionAndRelativeAddressing)
{
    Drive disk({{"type", "disk"}, {"blocks", 4096}}, folder.Path());
    ExpectRefusals(disk, {
        {"VERIFY protection", Cdb10(0x2F, 1, 1, 0x20), Cdb10(0x2F, 1, 1), 0},
        {"VERIFY LUN 7 bits", Cdb10(0x2F, 1, 1, 0xE0), Cdb10(0x2F, 1, 1), 0},
        {"WRITE AND VERIFY protection", Cdb10(0x2E, 1, 1, 0x40), Cdb10(0x2E, 1, 1), 512},
        {"READ protection", Cdb10(0x28, 1, 1, 0x20), Cdb10(0x28, 1, 1), 512},
        {"READ CAPACITY RelAdr", {0x25, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8},
        {"PRE-FETCH RelAdr", Cdb10(0x34, 1, 1, 0x01), Cdb10(0x34, 1, 1), 0},
        {"SYNCHRONIZE CACHE RelAdr", Cdb10(0x35, 0, 0, 0x01), Cdb10(0x35, 0, 0), 0},
    });
}

TEST_F(StrictCommandsTest, TapeRefusesEotLoadSetmarksAndMissingPartitions)
{
    Drive tape({{"type", "tape"}}, folder.Path());
    ExpectRefusals(tape, {
        {"LOAD with EOT", {0x1B, 0, 0, 0, 0x05, 0}, {0x1B, 0, 0, 0, 0x01, 0}, 0},
        {"WRITE FILEMARKS as setmarks", {0x10, 0x02, 0, 0, 1, 0}, {0x10, 0, 0, 0, 1, 0}, 0},
        {"LOCATE partition 1", {0x2B, 0x02, 0, 0, 0, 0, 0, 0, 1, 0}, {0x2B, 0x02, 0, 0, 0, 0, 0, 0, 0, 0}, 0},
    });
}

TEST_F(StrictCommandsTest, LogSenseHonoursPageControl)
{
    Drive disk({{"type", "disk"}, {"vendor", "KESTREL"}, {"blocks", 4096}}, folder.Path());
    ASSERT_EQ(disk.Send(Cdb10(0x28, 0, 8), 4096).result.status, 0);
    // The self-test results exist only as cumulative values.
    EXPECT_EQ(disk.Send({0x4D, 0, 0x50, 0, 0, 0, 0, 0x02, 0, 0}, 512).result.status, 0);
    for (std::uint8_t thresholds : {0x10, 0x90, 0xD0}) {
        EXPECT_TRUE(HasSense(disk.Send({0x4D, 0, thresholds, 0, 0, 0, 0, 0x02, 0, 0}, 512), 5, 0x24, 0))
            << int(thresholds);
    }
    // Read counters: the bytes read now, zero as threshold or default.
    const auto bytesRead = [&disk](std::uint8_t pageByte) {
        const auto answer = disk.Send({0x4D, 0, pageByte, 0, 0, 0, 0, 0x01, 0, 0}, 256);
        EXPECT_EQ(answer.result.status, 0);
        // Parameters 0-4 take 8 bytes each after the 4-byte header; parameter 5 holds 8 value bytes.
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value = (value << 8) | answer.data[4 + 5 * 8 + 4 + i];
        return value;
    };
    EXPECT_EQ(bytesRead(0x43), 4096u);
    EXPECT_EQ(bytesRead(0x03), 0u);
    EXPECT_EQ(bytesRead(0xC3), 0u);
}

}  // namespace
}  // namespace harrow::machine::testing
