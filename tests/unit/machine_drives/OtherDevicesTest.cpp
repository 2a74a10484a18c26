#include "DriveHarness.h"

#include <random>

namespace harrow::machine::testing {
namespace {

using nlohmann::json;

using OtherDevicesTest = DriveTest;

TEST_F(OtherDevicesTest, TapeKeepsRecordsAndFilemarks)
{
    Drive tape({{"type", "tape"}}, folder.Path());
    EXPECT_EQ(tape.Send({0x12, 0, 0, 0, 36, 0}, 36).data[0], 0x01);
    EXPECT_EQ(tape.Send({0x0A, 0, 0, 0, 100, 0}, 0, std::vector<std::uint8_t>(100, 1)).result.status, 0);
    EXPECT_EQ(tape.Send({0x10, 0, 0, 0, 1, 0}).result.status, 0);
    EXPECT_EQ(tape.Send({0x0A, 0, 0, 0, 50, 0}, 0, std::vector<std::uint8_t>(50, 2)).result.status, 0);
    EXPECT_EQ(tape.Send({0x01, 0, 0, 0, 0, 0}).result.status, 0);

    auto shortRead = tape.Send({0x08, 0, 0, 0, 200, 0}, 200);
    EXPECT_EQ(shortRead.result.status, 2);
    EXPECT_TRUE(shortRead.result.sense[2] & 0x20);  // ILI
    EXPECT_EQ(shortRead.Information(), 100u);
    EXPECT_EQ(shortRead.result.transferred, 100u);
    auto mark = tape.Send({0x08, 0, 0, 0, 200, 0}, 200);
    EXPECT_TRUE(mark.result.sense[2] & 0x80);  // filemark
    EXPECT_EQ(tape.Send({0x08, 0x02, 0, 0, 200, 0}, 200).result.status, 0);  // SILI
    EXPECT_TRUE(HasSense(tape.Send({0x08, 0, 0, 0, 10, 0}, 10), 8, 0x00, 0x05));

    EXPECT_EQ(tape.Send({0x01, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_EQ(tape.Send({0x11, 0x01, 0, 0, 1, 0}).result.status, 0);  // past the filemark
    EXPECT_EQ(tape.Send({0x08, 0, 0, 0, 50, 0}, 50).data[0], 2);
    auto back = tape.Send({0x11, 0x00, 0xFF, 0xFF, 0xFD, 0});  // three blocks back meets the filemark
    EXPECT_TRUE(back.result.sense[2] & 0x80);
    EXPECT_EQ(back.Information(), 2u);

    EXPECT_EQ(tape.Send({0x1B, 0, 0, 0, 0, 0}).result.status, 0);  // unload
    EXPECT_TRUE(HasSense(tape.Send({0x00, 0, 0, 0, 0, 0}), 2, 0x3A, 0));
    EXPECT_EQ(tape.Send({0x1B, 0, 0, 0, 1, 0}).result.status, 0);
    EXPECT_EQ(tape.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0);

    std::vector<std::uint8_t> fixed{0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 16};
    EXPECT_EQ(tape.Send({0x15, 0x10, 0, 0, 12, 0}, 0, fixed).result.status, 0);
    EXPECT_EQ(tape.Send({0x0A, 1, 0, 0, 2, 0}, 0, std::vector<std::uint8_t>(32, 3)).result.status, 0);
    EXPECT_EQ(tape.Send({0x01, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_EQ(tape.Send({0x08, 1, 0, 0, 2, 0}, 32).result.transferred, 32u);
}

TEST_F(OtherDevicesTest, CdromIsReadOnlyAndChangerMovesCartridges)
{
    Drive cd({{"type", "cdrom"}, {"blocks", 1000}}, folder.Path());
    EXPECT_EQ(cd.Send({0x12, 0, 0, 0, 36, 0}, 36).data[0], 0x05);
    auto capacity = cd.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(capacity.data[2] << 8 | capacity.data[3], 999);
    EXPECT_EQ(capacity.data[6] << 8 | capacity.data[7], 2048);
    EXPECT_EQ(cd.Send(Cdb10(0x28, 10, 1), 2048).result.transferred, 2048u);
    EXPECT_TRUE(HasSense(cd.Send(Cdb10(0x2A, 0, 1), 0, std::vector<std::uint8_t>(2048)), 7, 0x27, 0));
    EXPECT_EQ(cd.Send({0x1B, 0, 0, 0, 0x02, 0}).result.status, 0);  // eject
    EXPECT_TRUE(HasSense(cd.Send(Cdb10(0x28, 0, 1), 2048), 2, 0x3A, 0));

    Drive changer({{"type", "changer"}}, folder.Path());
    EXPECT_EQ(changer.Send({0x12, 0, 0, 0, 36, 0}, 36).data[0], 0x08);
    EXPECT_EQ(changer.Send({0xA5, 0, 0, 0, 0x10, 0x00, 0x01, 0x00, 0, 0, 0, 0}).result.status, 0);
    EXPECT_TRUE(HasSense(changer.Send({0xA5, 0, 0, 0, 0x10, 0x00, 0x01, 0x00, 0, 0, 0, 0}), 5, 0x3B, 0x0E));
    EXPECT_TRUE(HasSense(changer.Send({0xA5, 0, 0, 0, 0x10, 0x01, 0x01, 0x00, 0, 0, 0, 0}), 5, 0x3B, 0x0D));
    EXPECT_TRUE(HasSense(changer.Send({0xA5, 0, 0, 0, 0x20, 0x00, 0x01, 0x00, 0, 0, 0, 0}), 5, 0x21, 0x01));
    auto status = changer.Send({0xB8, 0x04, 0, 0, 0, 10, 0, 0, 0x04, 0, 0, 0}, 1024);
    EXPECT_EQ(status.data[3], 1);        // one data-transfer element
    EXPECT_EQ(status.data[8 + 8 + 2], 1);  // and it is full now
}

// Any CDB gets a drive's answer: GOOD, CHECK CONDITION or BUSY, never a crash.
TEST_F(OtherDevicesTest, RandomCommandsGetADrivesAnswer)
{
    std::mt19937 random(7);
    for (const char* type : {"disk", "tape", "cdrom", "changer"}) {
        TempFolder state;
        Drive drive({{"type", type}, {"blocks", 4096}, {"durations", {{"format", 0}, {"shortSelfTest", 0},
                                                                        {"longSelfTest", 0}}}},
                    state.Path());
        for (int i = 0; i < 3000; ++i) {
            std::vector<std::uint8_t> cdb(1 + random() % 16);
            for (auto& b : cdb) b = static_cast<std::uint8_t>(random());
            std::vector<std::uint8_t> data(random() % 4 == 0 ? 0 : random() % 70000, 0);
            auto answer = drive.Send(cdb, 0, data.empty() ? std::vector<std::uint8_t>{} : data);
            ASSERT_TRUE(answer.result.status == 0 || answer.result.status == 2) << type << " op " << int(cdb[0]);
            ASSERT_LE(answer.result.transferred, data.size());
        }
    }
}

}  // namespace
}  // namespace harrow::machine::testing
