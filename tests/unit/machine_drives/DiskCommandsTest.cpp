#include "DriveHarness.h"

#include "machine/drives/Firmware.h"

#include <cstring>
#include <string>
#include <thread>

namespace harrow::machine::testing {
namespace {

using nlohmann::json;

json KestrelUnit()
{
    return {{"type", "disk"}, {"vendor", "KESTREL"}, {"product", "KX36FC"}, {"revision", "K101"},
            {"serial", "3KX00042"}, {"blocks", 100000}, {"durations", {{"longSelfTest", 1500}}}};
}

std::string Text(const std::vector<std::uint8_t>& data, std::size_t at, std::size_t length)
{
    return std::string(data.begin() + at, data.begin() + at + length);
}

using DiskTest = DriveTest;

TEST_F(DiskTest, InquiryCarriesTheMakersDataWhereTheFrontEndsLook)
{
    Drive drive(KestrelUnit(), folder.Path());
    auto standard = drive.Send({0x12, 0, 0, 0, 0xFF, 0}, 255);
    ASSERT_EQ(standard.result.status, 0);
    EXPECT_EQ(standard.result.transferred, 148u);
    EXPECT_EQ(Text(standard.data, 8, 8), "KESTREL ");
    EXPECT_EQ(Text(standard.data, 16, 16), "KX36FC          ");
    EXPECT_EQ(Text(standard.data, 32, 4), "K101");
    EXPECT_EQ(Text(standard.data, 36, 8), "3KX00042");
    EXPECT_EQ(standard.data[96], 0);
    EXPECT_NE(Text(standard.data, 97, 47).find("Kestrel"), std::string::npos);

    auto family = drive.Send({0x12, 1, 0xC3, 0, 0x80, 0}, 128);
    ASSERT_EQ(family.result.status, 0);
    EXPECT_EQ(Text(family.data, 7, 2), "KX");
    auto firmware = drive.Send({0x12, 1, 0xC0, 0, 0x80, 0}, 128);
    EXPECT_EQ(Text(firmware.data, 4, 8), "K101    ");

    auto id = drive.Send({0x12, 1, 0x83, 0, 0x80, 0}, 128);
    EXPECT_EQ(id.data[1], 0x83);
    EXPECT_EQ(id.data[4] & 0x0F, 1);
    EXPECT_EQ(id.data[5] & 0x0F, 3);

    auto cut = drive.Send({0x12, 0, 0, 0, 5, 0}, 64);
    EXPECT_EQ(cut.result.transferred, 5u);
    EXPECT_EQ(cut.data[5], 0xEE);  // nothing past the allocation length

    EXPECT_TRUE(HasSense(drive.Send({0x12, 0, 0x80, 0, 0xFF, 0}, 255), 5, 0x24, 0));
    EXPECT_TRUE(HasSense(drive.Send({0x12, 1, 0xC7, 0, 0xFF, 0}, 255), 5, 0x24, 0));
}

TEST_F(DiskTest, AnotherMakersDiskHasNoVendorData)
{
    Drive drive({{"vendor", "SEAGATE"}, {"product", "ST318404LC"}}, folder.Path());
    auto standard = drive.Send({0x12, 0, 0, 0, 0xFF, 0}, 255);
    EXPECT_EQ(standard.result.transferred, 96u);
    EXPECT_TRUE(HasSense(drive.Send({0x12, 1, 0xC3, 0, 0x80, 0}, 128), 5, 0x24, 0));
    EXPECT_TRUE(HasSense(drive.Send({0x1A, 0, 0x00, 0, 0xFF, 0}, 255), 5, 0x24, 0));
    EXPECT_TRUE(HasSense(drive.Send({0x4D, 0, 0x7E, 0, 0, 0, 0, 2, 0, 0}, 512), 5, 0x24, 0));
}

TEST_F(DiskTest, SenseIsFixedFormatAndUnknownCommandsAreRefused)
{
    Drive drive(KestrelUnit(), folder.Path());
    auto unknown = drive.Send({0xC9, 0, 0, 0, 0, 0});
    EXPECT_TRUE(HasSense(unknown, 5, 0x20, 0));
    EXPECT_EQ(unknown.result.sense[0], 0x70);
    EXPECT_EQ(unknown.result.sense[7], 10);
    EXPECT_EQ(unknown.result.senseLength, 18);
    // A CDB shorter than its opcode's group reads as zero-filled.
    EXPECT_EQ(drive.Send({0x25}, 8).result.status, 0);
    auto sense = drive.Send({0x03, 0, 0, 0, 18, 0}, 18);
    EXPECT_EQ(sense.result.status, 0);
    EXPECT_EQ(sense.data[0], 0x70);
    EXPECT_EQ(sense.data[2], 0);
}

TEST_F(DiskTest, ReadsWhatWasWrittenAndRefusesAddressesPastTheEnd)
{
    Drive drive(KestrelUnit(), folder.Path());
    auto capacity = drive.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(capacity.data, (std::vector<std::uint8_t>{0, 0x01, 0x86, 0x9F, 0, 0, 2, 0}));

    std::vector<std::uint8_t> blocks(1024);
    for (std::size_t i = 0; i < blocks.size(); ++i) blocks[i] = static_cast<std::uint8_t>(i * 13);
    EXPECT_EQ(drive.Send(Cdb10(0x2A, 99998, 2), 0, blocks).result.status, 0);
    auto back = drive.Send(Cdb10(0x28, 99998, 2), 1024);
    EXPECT_EQ(back.result.status, 0);
    EXPECT_EQ(back.data, blocks);
    auto unwritten = drive.Send({0x08, 0, 0, 5, 1, 0}, 512);
    EXPECT_EQ(unwritten.data, std::vector<std::uint8_t>(512, 0));

    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x28, 99999, 2), 1024), 5, 0x21, 0));
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x2B, 100000, 0)), 5, 0x21, 0));
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x2A, 0, 2), 0, std::vector<std::uint8_t>(512)), 0xB, 0x4B, 0));
    EXPECT_EQ(drive.Send(Cdb10(0x2F, 0, 4095)).result.status, 0);

    auto wrongLength = drive.Send(Cdb10(0x3E, 0, 1024), 1024);
    EXPECT_TRUE(HasSense(wrongLength, 5, 0x24, 0));
    EXPECT_EQ(wrongLength.result.sense[0], 0xF0);
    EXPECT_TRUE(wrongLength.result.sense[2] & 0x20);  // ILI
    EXPECT_EQ(1024 - wrongLength.Information(), 566u);
    EXPECT_EQ(drive.Send(Cdb10(0x3E, 0, 566), 566).result.status, 0);
}

TEST_F(DiskTest, ModePagesHoldWhatTheToolsRead)
{
    Drive drive(KestrelUnit(), folder.Path());
    auto control = drive.Send({0x1A, 0, 0x0A, 0, 0xFF, 0}, 255);
    ASSERT_EQ(control.result.status, 0);
    EXPECT_EQ(control.data[3], 8);
    EXPECT_EQ(control.data[12] & 0x3F, 0x0A);
    EXPECT_EQ(control.data[30] << 8 | control.data[31], 1500);  // long self-test seconds
    EXPECT_EQ(control.data[22] << 8 | control.data[23], 1500);

    auto changeable = drive.Send({0x1A, 0, 0x40, 0, 0xFF, 0}, 255);
    EXPECT_EQ(changeable.data[12 + 2], 0x80);  // PM
    EXPECT_EQ(changeable.data[12 + 4], 0x0F);  // JIT
    auto all = drive.Send({0x5A, 0, 0x3F, 0, 0, 0, 0, 0x04, 0, 0}, 1024);
    EXPECT_EQ(all.result.status, 0);
    EXPECT_EQ(all.result.transferred, (all.data[0] << 8 | all.data[1]) + 2u);
    EXPECT_TRUE(HasSense(drive.Send({0x1A, 0, 0x05, 0, 0xFF, 0}, 255), 5, 0x24, 0));
}

TEST_F(DiskTest, ModeSelectChangesOnlyChangeableBitsAndSaves)
{
    {
        Drive drive(KestrelUnit(), folder.Path());
        auto caching = drive.Send({0x1A, 0, 0x08, 0, 0xFF, 0}, 255);
        std::vector<std::uint8_t> list(caching.data.begin() + 8, caching.data.begin() + 8 + 24);
        list[0] = list[1] = list[2] = list[3] = 0;
        list[4] &= 0x3F;
        list[4 + 2] = 0x01;  // RCD on, WCE off
        list[4 + 13] = 200;  // rounded to the most segments the cache has
        EXPECT_EQ(drive.Send({0x15, 0x11, 0, 0, 24, 0}, 0, list).result.status, 0);

        list[4 + 3] = 0x55;  // not changeable
        EXPECT_TRUE(HasSense(drive.Send({0x15, 0x11, 0, 0, 24, 0}, 0, list), 5, 0x26, 0));
        list[4 + 3] = 0;
        list[5] = 0x10;  // wrong page length
        EXPECT_TRUE(HasSense(drive.Send({0x15, 0x11, 0, 0, 24, 0}, 0, list), 5, 0x26, 0));
        EXPECT_TRUE(HasSense(drive.Send({0x15, 0x11, 0, 0, 24, 0}, 0, std::vector<std::uint8_t>(10)), 5, 0x1A, 0));
    }
    Drive again(KestrelUnit(), folder.Path());
    auto current = again.Send({0x1A, 0, 0x08, 0, 0xFF, 0}, 255);
    EXPECT_EQ(current.data[12 + 2], 0x01);
    EXPECT_EQ(current.data[12 + 3], 0x00);
    EXPECT_EQ(current.data[12 + 13], 64);
    auto saved = again.Send({0x1A, 0, 0xC8, 0, 0xFF, 0}, 255);
    EXPECT_EQ(saved.data[12 + 2], 0x01);
    auto defaults = again.Send({0x1A, 0, 0x88, 0, 0xFF, 0}, 255);
    EXPECT_EQ(defaults.data[12 + 2], 0x04);
    EXPECT_EQ(defaults.data[12 + 13], 16);
}

TEST_F(DiskTest, FormatAppliesTheNewBlockSizeAndReportsProgress)
{
    json unit = KestrelUnit();
    unit["durations"]["format"] = 100;  // one second at the test time scale
    Drive drive(unit, folder.Path());
    std::vector<std::uint8_t> select{0, 0, 0, 8, 0, 0x01, 0x86, 0xA0, 0, 0, 0x02, 0x08};  // 520
    EXPECT_EQ(drive.Send({0x15, 0x11, 0, 0, 12, 0}, 0, select).result.status, 0);
    EXPECT_EQ(drive.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).data[6], 0x02);  // still 512 until the format
    std::vector<std::uint8_t> bad = select;
    bad[10] = 0x00, bad[11] = 0x07;
    EXPECT_TRUE(HasSense(drive.Send({0x15, 0x11, 0, 0, 12, 0}, 0, bad), 5, 0x26, 0));

    EXPECT_EQ(drive.Send({0x04, 0x18, 0, 0, 0, 0}, 0, {0x00, 0x82, 0x00, 0x00}).result.status, 0);
    auto busy = drive.Send({0x00, 0, 0, 0, 0, 0});
    EXPECT_TRUE(HasSense(busy, 2, 0x04, 0x04));
    EXPECT_EQ(busy.result.sense[15], 0x80);
    EXPECT_EQ(drive.Send({0x12, 0, 0, 0, 36, 0}, 36).result.status, 0);
    auto sense = drive.Send({0x03, 0, 0, 0, 18, 0}, 18);
    EXPECT_EQ(sense.data[2], 0x02);
    EXPECT_EQ(sense.data[12], 0x04);

    TempFolder quick;
    unit["durations"]["format"] = 0;
    Drive instant(unit, quick.Path());
    EXPECT_EQ(instant.Send({0x15, 0x11, 0, 0, 12, 0}, 0, select).result.status, 0);
    EXPECT_EQ(instant.Send({0x04, 0x18, 0, 0, 0, 0}, 0, {0x00, 0x82, 0x00, 0x00}).result.status, 0);
    auto capacity = instant.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(capacity.data[6] << 8 | capacity.data[7], 520);
    EXPECT_EQ((capacity.data[0] << 24 | capacity.data[1] << 16 | capacity.data[2] << 8 | capacity.data[3]) + 1,
              100000 * 512 / 520);
}

TEST_F(DiskTest, ChangeCapacityThroughTheBlockDescriptor)
{
    json unit = KestrelUnit();
    unit["maxBlocks"] = 200000;
    Drive drive(unit, folder.Path());
    std::vector<std::uint8_t> select{0, 0, 0, 8, 0, 0, 0x03, 0xE8, 0, 0, 0x02, 0x00};  // 1000 blocks
    EXPECT_EQ(drive.Send({0x15, 0x11, 0, 0, 12, 0}, 0, select).result.status, 0);
    EXPECT_EQ(drive.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8).data[3], 0xE7);
    select[4] = select[5] = select[6] = select[7] = 0xFF;  // factory maximum
    EXPECT_EQ(drive.Send({0x15, 0x11, 0, 0, 12, 0}, 0, select).result.status, 0);
    auto capacity = drive.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
    EXPECT_EQ(capacity.data[1] << 16 | capacity.data[2] << 8 | capacity.data[3], 199999);
    select[4] = 0x7F;
    EXPECT_TRUE(HasSense(drive.Send({0x15, 0x11, 0, 0, 12, 0}, 0, select), 5, 0x26, 0));
}

TEST_F(DiskTest, FirmwareDownloadChangesTheRevisionOnlyForAGoodImage)
{
    json unit = KestrelUnit();
    unit["faults"] = {{"notReadyAfterDownload", 2}};
    Drive drive(unit, folder.Path());
    auto send = [&](const std::vector<std::uint8_t>& image) {
        ScsiResult last;
        for (std::size_t chunk = 0; chunk * 32768 < image.size(); ++chunk) {
            const auto from = image.begin() + static_cast<std::ptrdiff_t>(chunk * 32768);
            std::vector<std::uint8_t> piece(from, from + std::min<std::ptrdiff_t>(32768, image.end() - from));
            last = drive.Send({0x3B, 0x05, static_cast<std::uint8_t>(chunk), 0, 0, 0, 0, 0x80, 0, 0}, 0, piece).result;
            if (last.status != 0) break;
        }
        return last;
    };
    auto broken = drives::MakeFirmwareImage("KX36FC", "K200", "K200", 70000);
    broken[50000] ^= 0xFF;
    auto refused = send(broken);
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.sense[2] & 0x0F, 5);
    EXPECT_EQ(refused.sense[12], 0x26);
    EXPECT_EQ(drive.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_EQ(Text(drive.Send({0x12, 0, 0, 0, 36, 0}, 36).data, 32, 4), "K101");
    EXPECT_EQ(send(drives::MakeFirmwareImage("KX99", "K200", "K200", 100)).status, 2);  // another product

    EXPECT_EQ(send(drives::MakeFirmwareImage("KX36FC", "K200", "FW200", 70000)).status, 0);
    EXPECT_TRUE(HasSense(drive.Send({0x00, 0, 0, 0, 0, 0}), 6, 0x3F, 0x01));
    EXPECT_TRUE(HasSense(drive.Send({0x00, 0, 0, 0, 0, 0}), 2, 0x04, 0x01));
    EXPECT_TRUE(HasSense(drive.Send({0x00, 0, 0, 0, 0, 0}), 2, 0x04, 0x01));
    EXPECT_EQ(drive.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_EQ(Text(drive.Send({0x12, 0, 0, 0, 36, 0}, 36).data, 32, 4), "K200");
    EXPECT_EQ(Text(drive.Send({0x12, 1, 0xC0, 0, 0x80, 0}, 128).data, 4, 8), "FW200   ");

    // The published check value: images made by other tools carry the same CRC-32.
    const std::string check = "123456789";
    EXPECT_EQ(drives::Crc32(std::span(reinterpret_cast<const std::uint8_t*>(check.data()), check.size())),
              0xCBF43926u);

    const auto file = drives::MakeKstFile("KX36FC", drives::MakeFirmwareImage("KX36FC", "K300", "K300", 10));
    const std::string header(file.begin(), file.begin() + 80);
    EXPECT_NE(header.find("KESTREL,"), std::string::npos);
    EXPECT_NE(header.find("KX36FC"), std::string::npos);
}

TEST_F(DiskTest, EchoBufferAndReservationsAnswerGood)
{
    Drive drive(KestrelUnit(), folder.Path());
    std::vector<std::uint8_t> pattern(100, 0x5A);
    EXPECT_EQ(drive.Send({0x3B, 0x02, 0, 0, 0, 0, 0, 0, 100, 0}, 0, pattern).result.status, 0);
    auto back = drive.Send({0x3C, 0x02, 0, 0, 0, 0, 0, 0, 100, 0}, 100);
    EXPECT_EQ(back.data, pattern);
    EXPECT_TRUE(HasSense(drive.Send({0x3C, 0x02, 0, 0x01, 0, 0, 0, 0, 1, 0}, 1), 5, 0x24, 0));
    EXPECT_EQ(drive.Send({0x16, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_EQ(drive.Send({0x57, 0, 0, 0, 0, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_EQ(drive.Send({0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}).result.status, 0);
    auto luns = drive.Send({0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0}, 16);
    EXPECT_EQ(luns.data[3], 8);
    EXPECT_TRUE(HasSense(drive.Send({0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0}, 8), 5, 0x24, 0));
    EXPECT_EQ(drive.Send({0x1B, 0, 0, 0, 0, 0}).result.status, 0);
    EXPECT_TRUE(HasSense(drive.Send({0x00, 0, 0, 0, 0, 0}), 2, 0x04, 0x02));
    EXPECT_EQ(drive.Send({0x1B, 0, 0, 0, 1, 0}).result.status, 0);
    EXPECT_EQ(drive.Send({0x00, 0, 0, 0, 0, 0}).result.status, 0);
}

TEST_F(DiskTest, ConcurrentCommandsNeverInterleave)
{
    Drive drive(KestrelUnit(), folder.Path());
    auto worker = [&](std::uint8_t fill) {
        std::vector<std::uint8_t> block(512 * 8, fill);
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(drive.Send(Cdb10(0x2A, 0, 8), 0, block).result.status, 0);
            auto back = drive.Send(Cdb10(0x28, 0, 8), block.size());
            // A read sees one writer's blocks whole, never a mixture.
            EXPECT_TRUE(std::all_of(back.data.begin(), back.data.end(), [&](auto b) { return b == back.data[0]; }));
        }
    };
    std::thread a(worker, 0x11), b(worker, 0x22);
    a.join();
    b.join();
}

}  // namespace
}  // namespace harrow::machine::testing
