// Sense data in both formats of SPC-4 4.5, written out byte by byte.
#include "core/types/SenseData.h"
#include "core/types/SenseView.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

SenseView ViewOf(const Bytes& bytes) { return SenseView(bytes.data(), bytes.size()); }

// Fixed format, SPC-4 table 45: MEDIUM ERROR, unrecovered read error at LBA
// 0x00012345, FRU 0x42, VALID set.
const Bytes kFixedMedium = {0xF0, 0x00, 0x03, 0x00, 0x01, 0x23, 0x45, 0x0A, 0x00, 0x00, 0x00, 0x00,
                            0x11, 0x00, 0x42, 0x00, 0x00, 0x00};

// The same error in descriptor format, SPC-4 table 26: information descriptor
// (VALID, 64-bit LBA 0x00000001_00012345) and FRU descriptor.
const Bytes kDescriptorMedium = {0x72, 0x03, 0x11, 0x00, 0x00, 0x00, 0x00, 0x10,
                                 0x00, 0x0A, 0x80, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x23, 0x45,
                                 0x03, 0x02, 0x00, 0x42};

TEST(SenseView, FixedFormatFields)
{
    const SenseView view = ViewOf(kFixedMedium);
    EXPECT_TRUE(view.Known());
    EXPECT_FALSE(view.Descriptor());
    EXPECT_TRUE(view.Current());
    EXPECT_FALSE(view.Deferred());
    EXPECT_EQ(view.ResponseCode(), 0x70);
    EXPECT_EQ(view.Key(), 0x03);
    EXPECT_EQ(view.Asc(), 0x11);
    EXPECT_EQ(view.Ascq(), 0x00);
    EXPECT_EQ(view.Fru(), 0x42);
    EXPECT_TRUE(view.InformationValid());
    EXPECT_EQ(view.Information(), 0x00012345u);
    EXPECT_FALSE(view.SenseKeySpecificValid());
    EXPECT_FALSE(view.Progress().has_value());
}

TEST(SenseView, DescriptorFormatFields)
{
    const SenseView view = ViewOf(kDescriptorMedium);
    EXPECT_TRUE(view.Known());
    EXPECT_TRUE(view.Descriptor());
    EXPECT_TRUE(view.Current());
    EXPECT_EQ(view.Key(), 0x03);
    EXPECT_EQ(view.Asc(), 0x11);
    EXPECT_EQ(view.Ascq(), 0x00);
    EXPECT_EQ(view.Fru(), 0x42);
    EXPECT_EQ(view.KeyByte(), 0x03);
    EXPECT_TRUE(view.InformationValid());
    EXPECT_EQ(view.Information(), 0x0000000100012345u);
}

TEST(SenseView, DeferredCodesOfBothFormats)
{
    EXPECT_TRUE(ViewOf({0x71, 0, 0x04}).Deferred());
    EXPECT_TRUE(ViewOf({0xF1, 0, 0x04}).Deferred());
    EXPECT_EQ(ViewOf({0x71, 0, 0x04}).Key(), 0x04);
    EXPECT_TRUE(ViewOf({0x73, 0x04, 0x44, 0x00}).Deferred());
    EXPECT_EQ(ViewOf({0x73, 0x04, 0x44, 0x00}).Key(), 0x04);
    EXPECT_EQ(ViewOf({0x73, 0x04, 0x44, 0x00}).Asc(), 0x44);
    EXPECT_FALSE(ViewOf({0x73, 0x04}).Current());
}

// SPC-4 4.5.2.4.4: progress of a format with NOT READY, 04h/04h, SKSV set.
TEST(SenseView, ProgressInBothFormats)
{
    const Bytes fixed = {0x70, 0, 0x02, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x04, 0x04, 0x00, 0x80, 0x40, 0x00};
    const Bytes descriptor = {0x72, 0x02, 0x04, 0x04, 0, 0, 0, 0x08, 0x02, 0x06, 0x00, 0x00, 0x80, 0x40, 0x00, 0x00};
    for (const Bytes& bytes : {fixed, descriptor}) {
        const SenseView view = ViewOf(bytes);
        EXPECT_TRUE(view.SenseKeySpecificValid());
        ASSERT_TRUE(view.Progress().has_value());
        EXPECT_EQ(*view.Progress(), 0x4000);
    }
    // The same bytes under MEDIUM ERROR carry an actual retry count, no progress.
    Bytes medium = fixed;
    medium[2] = 0x03;
    EXPECT_TRUE(ViewOf(medium).SenseKeySpecificValid());
    EXPECT_FALSE(ViewOf(medium).Progress().has_value());
    // SKSV clear: the bytes mean nothing.
    Bytes unset = descriptor;
    unset[12] = 0x00;
    EXPECT_FALSE(ViewOf(unset).Progress().has_value());
    // NO SENSE with progress, as REQUEST SENSE answers during a self test.
    const Bytes noSense = {0x70, 0, 0x00, 0, 0, 0, 0, 0x0A, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF};
    EXPECT_EQ(ViewOf(noSense).Progress().value_or(0), 0xFFFF);
}

TEST(SenseView, StreamAndBlockBitsRebuildFixedByteTwo)
{
    // SPC-4 4.5.2.6 stream commands descriptor: FILEMARK, EOM, ILI.
    const Bytes stream = {0x72, 0x08, 0x00, 0x01, 0, 0, 0, 0x04, 0x04, 0x02, 0x00, 0xE0};
    const SenseView view = ViewOf(stream);
    EXPECT_TRUE(view.Filemark());
    EXPECT_TRUE(view.EndOfMedium());
    EXPECT_TRUE(view.IncorrectLength());
    EXPECT_EQ(view.KeyByte(), 0xE8);
    // SBC-3 block commands descriptor: only ILI counts.
    const Bytes block = {0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0x04, 0x05, 0x02, 0x00, 0xE0};
    EXPECT_EQ(ViewOf(block).KeyByte(), 0x25);
    EXPECT_FALSE(ViewOf(block).Filemark());
    // Fixed: byte 2 as it stands.
    EXPECT_EQ(ViewOf({0x70, 0, 0xA8}).KeyByte(), 0xA8);
    EXPECT_TRUE(ViewOf({0x70, 0, 0xA8}).Filemark());
    EXPECT_TRUE(ViewOf({0x70, 0, 0xA8}).IncorrectLength());
    EXPECT_FALSE(ViewOf({0x70, 0, 0xA8}).EndOfMedium());
}

TEST(SenseView, InformationValidOnlyWithTheBit)
{
    Bytes fixed = kFixedMedium;
    fixed[0] = 0x70;
    EXPECT_FALSE(ViewOf(fixed).InformationValid());
    EXPECT_EQ(ViewOf(fixed).Information(), 0x00012345u);
    Bytes descriptor = kDescriptorMedium;
    descriptor[10] = 0x00;
    EXPECT_FALSE(ViewOf(descriptor).InformationValid());
    // All 64 bits, the top one included.
    descriptor[12] = 0xFF;
    EXPECT_EQ(ViewOf(descriptor).Information(), 0xFF00000100012345u);
}

TEST(SenseView, NeverReadsPastTheLengthGiven)
{
    // Fixed format cut after the ASC: ASCQ, FRU and SKS read as zero.
    Bytes cut(kFixedMedium.begin(), kFixedMedium.begin() + 13);
    cut.shrink_to_fit();
    const SenseView fixed = ViewOf(cut);
    EXPECT_EQ(fixed.Asc(), 0x11);
    EXPECT_EQ(fixed.Fru(), 0);
    EXPECT_FALSE(fixed.SenseKeySpecificValid());
    // Descriptor format whose FRU descriptor is cut by the length: absent.
    const SenseView descriptor(kDescriptorMedium.data(), kDescriptorMedium.size() - 1);
    EXPECT_EQ(descriptor.Fru(), 0);
    EXPECT_TRUE(descriptor.InformationValid());
    // Additional length shorter than the buffer: descriptors past it are absent.
    Bytes shortLength = kDescriptorMedium;
    shortLength[7] = 0x0C;
    EXPECT_EQ(ViewOf(shortLength).Fru(), 0);
    EXPECT_EQ(ViewOf(shortLength).Information(), 0x0000000100012345u);
    // A descriptor whose length runs past the end ends the walk.
    const Bytes runaway = {0x72, 0x03, 0x11, 0x00, 0, 0, 0, 0x06, 0x00, 0xFF, 0x80, 0, 0, 0};
    EXPECT_FALSE(ViewOf(runaway).InformationValid());
    // Nothing at all.
    const SenseView empty(nullptr, 18);
    EXPECT_EQ(empty.Key(), 0);
    EXPECT_FALSE(empty.Known());
    EXPECT_EQ(ViewOf({}).Asc(), 0);
}

TEST(SenseView, LaterDescriptorsFoundAfterUnknownOnes)
{
    // A vendor descriptor (80h) before the sense-key-specific one.
    const Bytes bytes = {0x72, 0x00, 0x00, 0x00, 0, 0, 0, 0x0C, 0x80, 0x02, 0xAA, 0xBB,
                         0x02, 0x06, 0x00, 0x00, 0x80, 0x12, 0x34, 0x00};
    EXPECT_EQ(ViewOf(bytes).Progress().value_or(0), 0x1234);
    EXPECT_EQ(ViewOf(bytes).FindDescriptor(0x80).length, 4u);
    EXPECT_EQ(ViewOf(bytes).FindDescriptor(kSenseDescriptorFru).bytes, nullptr);
}

// Devices that predate the response code put the key and codes at the fixed offsets.
TEST(SenseView, UnknownResponseCodeReadsFixedOffsets)
{
    Bytes bytes(18, 0);
    bytes[2] = 0x05;
    bytes[12] = 0x20;
    bytes[14] = 0x07;
    const SenseView view = ViewOf(bytes);
    EXPECT_FALSE(view.Known());
    EXPECT_EQ(view.Key(), 0x05);
    EXPECT_EQ(view.Asc(), 0x20);
    EXPECT_EQ(view.Fru(), 0x07);
}

TEST(SenseView, SenseBufferReadsBothFormats)
{
    SCSI_SenseData_s sense{};
    std::memcpy(&sense, kDescriptorMedium.data(), kDescriptorMedium.size());
    EXPECT_EQ(sense.SenseKey(), 0x03);
    EXPECT_EQ(sense.Asc(), 0x11);
    EXPECT_EQ(sense.Fru(), 0x42);
    EXPECT_TRUE(sense.IsValid());
    EXPECT_EQ(sense.InformationValue(), 0x00012345);
    SCSI_SenseData_s fixed{};
    std::memcpy(&fixed, kFixedMedium.data(), kFixedMedium.size());
    EXPECT_EQ(fixed.SenseKey(), 0x03);
    EXPECT_EQ(fixed.Ascq(), 0x00);
    EXPECT_EQ(fixed.InformationValue(), 0x00012345);
}

TEST(SenseView, CodesReachedByFormat)
{
    for (std::size_t length : {0u, 3u, 4u, 13u, 14u, 18u}) {
        EXPECT_EQ(SenseView(kFixedMedium.data(), length).HasCodes(), length >= 14) << length;
        EXPECT_EQ(SenseView(kDescriptorMedium.data(), length).HasCodes(), length >= 4) << length;
    }
    EXPECT_FALSE(SenseView(nullptr, 18).HasCodes());
}

}  // namespace
