// Every command builder's bytes, length and direction, written out from the
// CDB layouts of SPC-4 and SBC-3 rather than from the builders.
#include "frontend/ScsiCdb.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct CdbCase {
    std::string name;
    Cdb cdb;
    Bytes bytes;
    CdbDirection direction;
};

Bytes BytesOf(const Cdb& cdb) { return Bytes(cdb.bytes.begin(), cdb.bytes.begin() + cdb.length); }

constexpr CdbDirection kNone = CdbDirection::None;
constexpr CdbDirection kIn = CdbDirection::In;
constexpr CdbDirection kOut = CdbDirection::Out;

TEST(ScsiCdb, EveryBuilderMakesItsBytesLengthAndDirection)
{
    const std::vector<CdbCase> cases = {
        {"TEST UNIT READY", cdb::TestUnitReady(), {0x00, 0, 0, 0, 0, 0}, kNone},
        {"INQUIRY", cdb::Inquiry(0x24), {0x12, 0x00, 0x00, 0x00, 0x24, 0x00}, kIn},
        {"INQUIRY two-byte allocation", cdb::Inquiry(0x0102), {0x12, 0x00, 0x00, 0x01, 0x02, 0x00}, kIn},
        {"INQUIRY page C3h", cdb::InquiryPage(0xC3, 0x80), {0x12, 0x01, 0xC3, 0x00, 0x80, 0x00}, kIn},
        {"MODE SENSE(6) all pages", cdb::ModeSense6(0x3F, kModeCurrent, 0xFF), {0x1A, 0x00, 0x3F, 0x00, 0xFF, 0x00},
         kIn},
        {"MODE SENSE(6) saved, DBD, subpage", cdb::ModeSense6(0x0A, kModeSaved, 0x20, true, 0x01),
         {0x1A, 0x08, 0xCA, 0x01, 0x20, 0x00}, kIn},
        {"MODE SENSE(10) changeable, LLBAA", cdb::ModeSense10(0x08, kModeChangeable, 0x1234, false, true),
         {0x5A, 0x10, 0x48, 0x00, 0, 0, 0, 0x12, 0x34, 0x00}, kIn},
        {"MODE SELECT(6) PF SP", cdb::ModeSelect6(0x18, true, true), {0x15, 0x11, 0x00, 0x00, 0x18, 0x00}, kOut},
        {"MODE SELECT(6) PF only", cdb::ModeSelect6(0x0C), {0x15, 0x10, 0x00, 0x00, 0x0C, 0x00}, kOut},
        {"MODE SELECT(10)", cdb::ModeSelect10(0x0118, true, true), {0x55, 0x11, 0, 0, 0, 0, 0, 0x01, 0x18, 0x00},
         kOut},
        {"LOG SENSE self-test results", cdb::LogSense(0x10, kLogCumulative, 0x0200),
         {0x4D, 0x00, 0x50, 0x00, 0, 0, 0, 0x02, 0x00, 0x00}, kIn},
        {"LOG SENSE pointer, SP, subpage", cdb::LogSense(0x2F, kLogThreshold, 0xFFFF, 0x0102, true, 0xFF),
         {0x4D, 0x01, 0x2F, 0xFF, 0, 0x01, 0x02, 0xFF, 0xFF, 0x00}, kIn},
        {"READ CAPACITY(10)", cdb::ReadCapacity10(), {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, kIn},
        {"READ CAPACITY(16)", cdb::ReadCapacity16(32),
         {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x00, 0x20, 0, 0}, kIn},
        {"READ(10)", cdb::Read10(0x01020304, 0x0506), {0x28, 0x00, 0x01, 0x02, 0x03, 0x04, 0x00, 0x05, 0x06, 0x00},
         kIn},
        {"READ(10) FUA last 32-bit LBA", cdb::Read10(0xFFFFFFFF, 1, true),
         {0x28, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}, kIn},
        {"WRITE(10)", cdb::Write10(0x00000010, 8), {0x2A, 0x00, 0, 0, 0, 0x10, 0x00, 0x00, 0x08, 0x00}, kOut},
        {"VERIFY(10)", cdb::Verify10(0x00ABCDEF, 0xFFFF), {0x2F, 0x00, 0x00, 0xAB, 0xCD, 0xEF, 0x00, 0xFF, 0xFF, 0x00},
         kNone},
        {"VERIFY(10) BYTCHK", cdb::Verify10(1, 1, true), {0x2F, 0x02, 0, 0, 0, 1, 0, 0, 1, 0}, kOut},
        {"READ(16) LBA 2^32", cdb::Read16(0x100000000ULL, 0x00010000),
         {0x88, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0, 0}, kIn},
        {"WRITE(16) FUA", cdb::Write16(0x0102030405060708ULL, 2, true),
         {0x8A, 0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0, 0, 0, 2, 0, 0}, kOut},
        {"VERIFY(16)", cdb::Verify16(0xFFFFFFFFFFFFFFFFULL, 0xFFFFFFFF),
         {0x8F, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0}, kNone},
        {"SEEK(10)", cdb::Seek10(0x89ABCDEF), {0x2B, 0x00, 0x89, 0xAB, 0xCD, 0xEF, 0, 0, 0, 0}, kNone},
        {"SEND DIAGNOSTIC background short", cdb::SendDiagnostic(kSelfTestBackgroundShort),
         {0x1D, 0x20, 0, 0, 0, 0}, kNone},
        {"SEND DIAGNOSTIC abort", cdb::SendDiagnostic(kSelfTestAbortBackground), {0x1D, 0x80, 0, 0, 0, 0}, kNone},
        {"SEND DIAGNOSTIC default self test", cdb::SendDiagnostic(0, 0, false, true, true, true),
         {0x1D, 0x07, 0, 0, 0, 0}, kNone},
        {"SEND DIAGNOSTIC page list", cdb::SendDiagnostic(0, 0x0102, true),
         {0x1D, 0x10, 0x00, 0x01, 0x02, 0x00}, kOut},
        {"WRITE BUFFER download with offsets", cdb::WriteBuffer(kBufferDownloadOffsetsSave, 0, 0x018000, 0x8000),
         {0x3B, 0x07, 0x00, 0x01, 0x80, 0x00, 0x00, 0x80, 0x00, 0x00}, kOut},
        {"WRITE BUFFER 24-bit fields", cdb::WriteBuffer(kBufferDownloadSave, 3, 0xFFFFFF, 0x123456),
         {0x3B, 0x05, 0x03, 0xFF, 0xFF, 0xFF, 0x12, 0x34, 0x56, 0x00}, kOut},
        {"READ BUFFER", cdb::ReadBuffer(2, 7, 0x012345, 0x400),
         {0x3C, 0x02, 0x07, 0x01, 0x23, 0x45, 0x00, 0x04, 0x00, 0x00}, kIn},
        {"START STOP UNIT start", cdb::StartStopUnit(true), {0x1B, 0x00, 0, 0, 0x01, 0}, kNone},
        {"START STOP UNIT eject immediately", cdb::StartStopUnit(false, true, true), {0x1B, 0x01, 0, 0, 0x02, 0},
         kNone},
        {"START STOP UNIT power condition", cdb::StartStopUnit(false, false, false, 0x3),
         {0x1B, 0x00, 0, 0, 0x30, 0}, kNone},
        {"FORMAT UNIT plain", cdb::FormatUnit(false), {0x04, 0, 0, 0, 0, 0}, kNone},
        {"FORMAT UNIT list, CMPLST, block format", cdb::FormatUnit(true, true, kDefectShortBlock),
         {0x04, 0x18, 0, 0, 0, 0}, kOut},
        {"FORMAT UNIT protection, long list", cdb::FormatUnit(true, false, kDefectLongBlock, 2, true),
         {0x04, 0xB3, 0, 0, 0, 0}, kOut},
        {"REQUEST SENSE", cdb::RequestSense(0x13), {0x03, 0x00, 0, 0, 0x13, 0}, kIn},
        {"REQUEST SENSE descriptor", cdb::RequestSense(0xFC, true), {0x03, 0x01, 0, 0, 0xFC, 0}, kIn},
        {"READ DEFECT DATA(10) grown", cdb::ReadDefectData10(false, true, kDefectPhysicalSector, 0xFFFF),
         {0x37, 0x00, 0x0D, 0, 0, 0, 0, 0xFF, 0xFF, 0x00}, kIn},
        {"READ DEFECT DATA(12) both", cdb::ReadDefectData12(true, true, kDefectBytesFromIndex, 0x0000FFFF),
         {0xB7, 0x1C, 0, 0, 0, 0, 0x00, 0x00, 0xFF, 0xFF, 0, 0}, kIn},
        {"REPORT LUNS", cdb::ReportLuns(0x200), {0xA0, 0, 0x00, 0, 0, 0, 0x00, 0x00, 0x02, 0x00, 0, 0}, kIn},
        {"REPORT LUNS select report", cdb::ReportLuns(0x01020304, 2),
         {0xA0, 0, 0x02, 0, 0, 0, 0x01, 0x02, 0x03, 0x04, 0, 0}, kIn},
    };
    for (const CdbCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BytesOf(c.cdb), c.bytes);
        EXPECT_EQ(c.cdb.direction, c.direction);
        // Bytes past the command's length stay clear.
        for (std::size_t i = static_cast<std::size_t>(c.cdb.length); i < c.cdb.bytes.size(); ++i) {
            EXPECT_EQ(c.cdb.bytes[i], 0) << "byte " << i;
        }
    }
}

// The builders are usable where only constants are allowed.
TEST(ScsiCdb, BuildersAreConstantExpressions)
{
    constexpr Cdb read = cdb::Read16(0xFFFFFFFFULL, 1);
    static_assert(read.length == 16 && read[0] == 0x88 && read[9] == 0xFF && read[5] == 0x00);
    constexpr Cdb seek = cdb::Seek10(0);
    static_assert(seek.length == 10 && seek[0] == 0x2B && seek.direction == CdbDirection::None);
    SUCCEED();
}

// Arguments wider than their field are cut to the field, not spilled into the next one.
TEST(ScsiCdb, WideArgumentsStayInTheirFields)
{
    EXPECT_EQ(BytesOf(cdb::ModeSense6(0x7F, 7, 4)), (Bytes{0x1A, 0x00, 0xFF, 0x00, 0x04, 0x00}));
    EXPECT_EQ(BytesOf(cdb::SendDiagnostic(0x0F)), (Bytes{0x1D, 0xE0, 0, 0, 0, 0}));
    EXPECT_EQ(BytesOf(cdb::WriteBuffer(0x25, 0, 0x01000000, 0x01000001)),
              (Bytes{0x3B, 0x05, 0x00, 0, 0, 0, 0x00, 0x00, 0x01, 0x00}));
    EXPECT_EQ(BytesOf(cdb::ReadDefectData10(false, false, 0x0F, 1)),
              (Bytes{0x37, 0x00, 0x07, 0, 0, 0, 0, 0x00, 0x01, 0x00}));
}

}  // namespace
