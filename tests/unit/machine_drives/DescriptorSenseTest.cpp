// Sense in descriptor format (SPC-3 4.5.2), chosen by the machine file, by
// D_SENSE of the Control mode page or by REQUEST SENSE's DESC bit. Expected
// bytes are written out from the standard's layouts.
#include "DriveHarness.h"

#include <vector>

namespace harrow::machine::testing {
namespace {

using nlohmann::json;
using Bytes = std::vector<std::uint8_t>;

json Disk(bool descriptor)
{
    return {{"type", "disk"}, {"blocks", 10000}, {"descriptorSense", descriptor},
            {"faults", {{"mediumErrors", {1000}}}}, {"durations", {{"format", 100}}}};
}

Bytes SenseOf(const Answer& answer)
{
    return Bytes(answer.result.sense.begin(), answer.result.sense.begin() + answer.result.senseLength);
}

using DescriptorSenseTest = DriveTest;

TEST_F(DescriptorSenseTest, MachineFileChoosesDescriptorFormat)
{
    Drive drive(Disk(true), folder.Path());
    // LOGICAL BLOCK ADDRESS OUT OF RANGE: the header alone, no descriptors.
    EXPECT_EQ(SenseOf(drive.Send(Cdb10(0x28, 10000, 1), 512)), (Bytes{0x72, 0x05, 0x21, 0x00, 0, 0, 0, 0x00}));
    // UNRECOVERED READ ERROR at LBA 1000: information descriptor, VALID, 64-bit field.
    EXPECT_EQ(SenseOf(drive.Send(Cdb10(0x28, 1000, 1), 512)),
              (Bytes{0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0x0C, 0x00, 0x0A, 0x80, 0x00, 0, 0, 0, 0, 0, 0, 0x03, 0xE8}));
    // INVALID COMMAND OPERATION CODE from the dispatch table's empty row.
    EXPECT_EQ(SenseOf(drive.Send({0xC0, 0, 0, 0, 0, 0})), (Bytes{0x72, 0x05, 0x20, 0x00, 0, 0, 0, 0x00}));
}

TEST_F(DescriptorSenseTest, FixedFormatStaysTheDefault)
{
    Drive drive(Disk(false), folder.Path());
    EXPECT_EQ(SenseOf(drive.Send(Cdb10(0x28, 1000, 1), 512)),
              (Bytes{0xF0, 0, 0x03, 0, 0, 0x03, 0xE8, 0x0A, 0, 0, 0, 0, 0x11, 0x00, 0, 0, 0, 0}));
    // The Control page offers D_SENSE as changeable and holds it clear.
    auto changeable = drive.Send({0x1A, 0x08, 0x4A, 0, 0xFF, 0}, 255);
    EXPECT_EQ(changeable.data[4 + 2] & 0x04, 0x04);
    auto current = drive.Send({0x1A, 0x08, 0x0A, 0, 0xFF, 0}, 255);
    EXPECT_EQ(current.data[4 + 2] & 0x04, 0x00);
}

TEST_F(DescriptorSenseTest, ModeSelectOfDSenseSwitchesTheFormat)
{
    Drive drive(Disk(false), folder.Path());
    auto control = drive.Send({0x1A, 0x08, 0x0A, 0, 0xFF, 0}, 255);
    const std::size_t length = 4 + 2 + control.data[4 + 1];
    Bytes list(control.data.begin(), control.data.begin() + static_cast<std::ptrdiff_t>(length));
    list[0] = 0;
    list[4] &= 0x3F;
    list[4 + 2] |= 0x04;
    // The self-test time the drive fills in when read is not a changeable field.
    for (std::size_t i : {10u, 11u, 18u, 19u}) {
        if (4 + i < list.size()) {
            list[4 + i] = 0;
        }
    }
    ASSERT_EQ(drive.Send({0x15, 0x10, 0, 0, static_cast<std::uint8_t>(length), 0}, 0, list).result.status, 0);
    EXPECT_EQ(SenseOf(drive.Send(Cdb10(0x28, 10000, 1), 512)), (Bytes{0x72, 0x05, 0x21, 0x00, 0, 0, 0, 0x00}));
    list[4 + 2] &= static_cast<std::uint8_t>(~0x04);
    ASSERT_EQ(drive.Send({0x15, 0x10, 0, 0, static_cast<std::uint8_t>(length), 0}, 0, list).result.status, 0);
    const auto fixed = drive.Send(Cdb10(0x28, 10000, 1), 512);
    EXPECT_EQ(fixed.result.sense[0], 0x70);
    EXPECT_TRUE(HasSense(fixed, 5, 0x21, 0));
}

TEST_F(DescriptorSenseTest, FormatProgressInASenseKeySpecificDescriptor)
{
    Drive drive(Disk(true), folder.Path());
    ASSERT_EQ(drive.Send({0x04, 0x18, 0, 0, 0, 0}, 0, {0x00, 0x82, 0x00, 0x00}).result.status, 0);
    const Bytes busy = SenseOf(drive.Send({0x00, 0, 0, 0, 0, 0}));
    ASSERT_EQ(busy.size(), 16u);
    EXPECT_EQ(Bytes(busy.begin(), busy.begin() + 12), (Bytes{0x72, 0x02, 0x04, 0x04, 0, 0, 0, 0x08, 0x02, 0x06, 0, 0}));
    EXPECT_EQ(busy[12], 0x80);  // SKSV
    EXPECT_EQ(busy[15], 0x00);
    // REQUEST SENSE follows its DESC bit alone.
    auto descriptor = drive.Send({0x03, 0x01, 0, 0, 0xFC, 0}, 252);
    EXPECT_EQ(descriptor.result.transferred, 16u);
    EXPECT_EQ(Bytes(descriptor.data.begin(), descriptor.data.begin() + 4), (Bytes{0x72, 0x02, 0x04, 0x04}));
    EXPECT_EQ(descriptor.data[12], 0x80);
    auto fixed = drive.Send({0x03, 0x00, 0, 0, 18, 0}, 18);
    EXPECT_EQ(fixed.result.transferred, 18u);
    EXPECT_EQ(fixed.data[0], 0x70);
    EXPECT_EQ(fixed.data[12], 0x04);
    EXPECT_EQ(fixed.data[15], 0x80);
}

TEST_F(DescriptorSenseTest, DeferredErrorsKeepTheirResponseCode)
{
    json unit = Disk(true);
    unit["faults"]["formatFails"] = true;
    unit["durations"]["format"] = 0;  // over by the next command
    Drive drive(unit, folder.Path());
    ASSERT_EQ(drive.Send({0x04, 0x18, 0, 0, 0, 0}, 0, {0x00, 0x82, 0x00, 0x00}).result.status, 0);
    const Answer answer = drive.Send({0x00, 0, 0, 0, 0, 0});
    EXPECT_EQ(SenseOf(answer), (Bytes{0x73, 0x03, 0x31, 0x01, 0, 0, 0, 0x00}));
}

TEST_F(DescriptorSenseTest, MediumCommandsOfAStoppedUnitAreRefusedOthersAnswer)
{
    Drive drive(Disk(false), folder.Path());
    ASSERT_EQ(drive.Send({0x1B, 0, 0, 0, 0x00, 0}).result.status, 0);
    EXPECT_TRUE(HasSense(drive.Send(Cdb10(0x28, 0, 1), 512), 2, 0x04, 0x02));
    EXPECT_TRUE(HasSense(drive.Send({0x00, 0, 0, 0, 0, 0}), 2, 0x04, 0x02));
    EXPECT_TRUE(HasSense(drive.Send({0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8), 2, 0x04, 0x02));
    EXPECT_EQ(drive.Send({0x1A, 0, 0x3F, 0, 0xFF, 0}, 255).result.status, 0);
    EXPECT_EQ(drive.Send({0x4D, 0, 0x40, 0, 0, 0, 0, 0x01, 0x00, 0}, 256).result.status, 0);
    // A refused operation code is refused before the unit's state is asked.
    EXPECT_TRUE(HasSense(drive.Send({0xC0, 0, 0, 0, 0, 0}), 5, 0x20, 0));
    ASSERT_EQ(drive.Send({0x1B, 0, 0, 0, 0x01, 0}).result.status, 0);
    EXPECT_EQ(drive.Send(Cdb10(0x28, 0, 1), 512).result.status, 0);
}

}  // namespace
}  // namespace harrow::machine::testing
