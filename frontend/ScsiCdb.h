#pragma once

// Command descriptor blocks as the front ends send them: each builder makes
// the bytes, the length and the data direction, and does no I/O.
#include "core/types/ScsiOpcode.h"

#include <array>
#include <cstdint>

enum class CdbDirection { None, In, Out };

struct Cdb {
    std::array<std::uint8_t, 16> bytes{};
    int length = 0;
    CdbDirection direction = CdbDirection::None;

    constexpr const std::uint8_t* data() const { return bytes.data(); }
    constexpr std::uint8_t operator[](int index) const { return bytes[static_cast<std::size_t>(index)]; }
};

// Page control field of MODE SENSE and LOG SENSE (SPC-4 6.11.1, 6.6.1).
constexpr int kModeCurrent = 0;
constexpr int kModeChangeable = 1;
constexpr int kModeDefault = 2;
constexpr int kModeSaved = 3;
constexpr int kLogThreshold = 0;
constexpr int kLogCumulative = 1;

// Self-test codes of SEND DIAGNOSTIC (SPC-4 table 180).
constexpr int kSelfTestBackgroundShort = 1;
constexpr int kSelfTestBackgroundExtended = 2;
constexpr int kSelfTestAbortBackground = 4;
constexpr int kSelfTestForegroundShort = 5;
constexpr int kSelfTestForegroundExtended = 6;

// Modes of WRITE BUFFER (SPC-4 table 214).
constexpr int kBufferDownloadSave = 0x05;
constexpr int kBufferDownloadOffsetsSave = 0x07;

// Defect list formats (SBC-3 table 39).
constexpr int kDefectShortBlock = 0;
constexpr int kDefectLongBlock = 3;
constexpr int kDefectBytesFromIndex = 4;
constexpr int kDefectPhysicalSector = 5;

namespace cdb {
namespace detail {

constexpr Cdb Make(ScsiOp op, int length, CdbDirection direction)
{
    Cdb cdb;
    cdb.bytes[0] = OpByte(op);
    cdb.length = length;
    cdb.direction = direction;
    return cdb;
}

// Big-endian field of `width` bytes at `offset`.
constexpr void Put(Cdb& cdb, int offset, int width, std::uint64_t value)
{
    for (int i = width - 1; i >= 0; --i) {
        cdb.bytes[static_cast<std::size_t>(offset + i)] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

constexpr std::uint8_t Bit(bool on, int position) { return static_cast<std::uint8_t>((on ? 1 : 0) << position); }

constexpr std::uint8_t PageByte(int pageControl, int page)
{
    return static_cast<std::uint8_t>(((pageControl & 0x03) << 6) | (page & 0x3F));
}

}  // namespace detail

// SPC-4 6.33.
constexpr Cdb TestUnitReady() { return detail::Make(ScsiOp::TestUnitReady, 6, CdbDirection::None); }

// SPC-4 6.4.1: standard INQUIRY data.
constexpr Cdb Inquiry(std::uint16_t allocation)
{
    Cdb cdb = detail::Make(ScsiOp::Inquiry, 6, CdbDirection::In);
    detail::Put(cdb, 3, 2, allocation);
    return cdb;
}

// SPC-4 6.4.1: a vital product data page (EVPD set).
constexpr Cdb InquiryPage(std::uint8_t page, std::uint16_t allocation)
{
    Cdb cdb = Inquiry(allocation);
    cdb.bytes[1] = 0x01;
    cdb.bytes[2] = page;
    return cdb;
}

// SPC-4 6.11.
constexpr Cdb ModeSense6(int page, int pageControl, std::uint8_t allocation, bool disableBlockDescriptors = false,
                         std::uint8_t subpage = 0)
{
    Cdb cdb = detail::Make(ScsiOp::ModeSense6, 6, CdbDirection::In);
    cdb.bytes[1] = detail::Bit(disableBlockDescriptors, 3);
    cdb.bytes[2] = detail::PageByte(pageControl, page);
    cdb.bytes[3] = subpage;
    cdb.bytes[4] = allocation;
    return cdb;
}

// SPC-4 6.12.
constexpr Cdb ModeSense10(int page, int pageControl, std::uint16_t allocation, bool disableBlockDescriptors = false,
                          bool longLba = false, std::uint8_t subpage = 0)
{
    Cdb cdb = detail::Make(ScsiOp::ModeSense10, 10, CdbDirection::In);
    cdb.bytes[1] = static_cast<std::uint8_t>(detail::Bit(longLba, 4) | detail::Bit(disableBlockDescriptors, 3));
    cdb.bytes[2] = detail::PageByte(pageControl, page);
    cdb.bytes[3] = subpage;
    detail::Put(cdb, 7, 2, allocation);
    return cdb;
}

// SPC-4 6.9: PF set means the list holds pages in the standard layout.
constexpr Cdb ModeSelect6(std::uint8_t listLength, bool pageFormat = true, bool save = false)
{
    Cdb cdb = detail::Make(ScsiOp::ModeSelect6, 6, CdbDirection::Out);
    cdb.bytes[1] = static_cast<std::uint8_t>(detail::Bit(pageFormat, 4) | detail::Bit(save, 0));
    cdb.bytes[4] = listLength;
    return cdb;
}

// SPC-4 6.10.
constexpr Cdb ModeSelect10(std::uint16_t listLength, bool pageFormat = true, bool save = false)
{
    Cdb cdb = detail::Make(ScsiOp::ModeSelect10, 10, CdbDirection::Out);
    cdb.bytes[1] = static_cast<std::uint8_t>(detail::Bit(pageFormat, 4) | detail::Bit(save, 0));
    detail::Put(cdb, 7, 2, listLength);
    return cdb;
}

// SPC-4 6.6.
constexpr Cdb LogSense(int page, int pageControl, std::uint16_t allocation, std::uint16_t parameterPointer = 0,
                       bool saveParameters = false, std::uint8_t subpage = 0)
{
    Cdb cdb = detail::Make(ScsiOp::LogSense, 10, CdbDirection::In);
    cdb.bytes[1] = detail::Bit(saveParameters, 0);
    cdb.bytes[2] = detail::PageByte(pageControl, page);
    cdb.bytes[3] = subpage;
    detail::Put(cdb, 5, 2, parameterPointer);
    detail::Put(cdb, 7, 2, allocation);
    return cdb;
}

// SBC-3 5.15.
constexpr Cdb ReadCapacity10() { return detail::Make(ScsiOp::ReadCapacity10, 10, CdbDirection::In); }

// SBC-3 5.16: SERVICE ACTION IN(16) with READ CAPACITY(16).
constexpr Cdb ReadCapacity16(std::uint32_t allocation)
{
    Cdb cdb = detail::Make(ScsiOp::ServiceActionIn16, 16, CdbDirection::In);
    cdb.bytes[1] = static_cast<std::uint8_t>(ServiceActionIn::ReadCapacity16);
    detail::Put(cdb, 10, 4, allocation);
    return cdb;
}

namespace detail {

constexpr Cdb Blocks10(ScsiOp op, CdbDirection direction, std::uint32_t lba, std::uint16_t blocks)
{
    Cdb cdb = Make(op, 10, direction);
    Put(cdb, 2, 4, lba);
    Put(cdb, 7, 2, blocks);
    return cdb;
}

constexpr Cdb Blocks16(ScsiOp op, CdbDirection direction, std::uint64_t lba, std::uint32_t blocks)
{
    Cdb cdb = Make(op, 16, direction);
    Put(cdb, 2, 8, lba);
    Put(cdb, 10, 4, blocks);
    return cdb;
}

}  // namespace detail

// SBC-3 5.8, 5.10, 5.29, 5.31, 5.38, 5.40; FUA is bit 3 of byte 1.
constexpr Cdb Read10(std::uint32_t lba, std::uint16_t blocks, bool forceUnitAccess = false)
{
    Cdb cdb = detail::Blocks10(ScsiOp::Read10, CdbDirection::In, lba, blocks);
    cdb.bytes[1] = detail::Bit(forceUnitAccess, 3);
    return cdb;
}

constexpr Cdb Read16(std::uint64_t lba, std::uint32_t blocks, bool forceUnitAccess = false)
{
    Cdb cdb = detail::Blocks16(ScsiOp::Read16, CdbDirection::In, lba, blocks);
    cdb.bytes[1] = detail::Bit(forceUnitAccess, 3);
    return cdb;
}

constexpr Cdb Write10(std::uint32_t lba, std::uint16_t blocks, bool forceUnitAccess = false)
{
    Cdb cdb = detail::Blocks10(ScsiOp::Write10, CdbDirection::Out, lba, blocks);
    cdb.bytes[1] = detail::Bit(forceUnitAccess, 3);
    return cdb;
}

constexpr Cdb Write16(std::uint64_t lba, std::uint32_t blocks, bool forceUnitAccess = false)
{
    Cdb cdb = detail::Blocks16(ScsiOp::Write16, CdbDirection::Out, lba, blocks);
    cdb.bytes[1] = detail::Bit(forceUnitAccess, 3);
    return cdb;
}

// With BYTCHK clear the medium is verified alone and no data moves.
constexpr Cdb Verify10(std::uint32_t lba, std::uint16_t blocks, bool byteCheck = false)
{
    Cdb cdb = detail::Blocks10(ScsiOp::Verify10, byteCheck ? CdbDirection::Out : CdbDirection::None, lba, blocks);
    cdb.bytes[1] = detail::Bit(byteCheck, 1);
    return cdb;
}

constexpr Cdb Verify16(std::uint64_t lba, std::uint32_t blocks, bool byteCheck = false)
{
    Cdb cdb = detail::Blocks16(ScsiOp::Verify16, byteCheck ? CdbDirection::Out : CdbDirection::None, lba, blocks);
    cdb.bytes[1] = detail::Bit(byteCheck, 1);
    return cdb;
}

// SBC-2 5.14 (made obsolete by SBC-3, still answered by disks).
constexpr Cdb Seek10(std::uint32_t lba)
{
    Cdb cdb = detail::Make(ScsiOp::Seek10, 10, CdbDirection::None);
    detail::Put(cdb, 2, 4, lba);
    return cdb;
}

// SPC-4 6.32.
constexpr Cdb SendDiagnostic(int selfTestCode, std::uint16_t parameterLength = 0, bool pageFormat = false,
                             bool selfTest = false, bool deviceOffline = false, bool unitOffline = false)
{
    Cdb cdb = detail::Make(ScsiOp::SendDiagnostic, 6, parameterLength != 0 ? CdbDirection::Out : CdbDirection::None);
    cdb.bytes[1] = static_cast<std::uint8_t>(((selfTestCode & 0x07) << 5) | detail::Bit(pageFormat, 4) |
                                             detail::Bit(selfTest, 2) | detail::Bit(deviceOffline, 1) |
                                             detail::Bit(unitOffline, 0));
    detail::Put(cdb, 3, 2, parameterLength);
    return cdb;
}

// SPC-4 6.39: offset and length are 24-bit fields.
constexpr Cdb WriteBuffer(int mode, std::uint8_t bufferId, std::uint32_t offset, std::uint32_t length)
{
    Cdb cdb = detail::Make(ScsiOp::WriteBuffer, 10, CdbDirection::Out);
    cdb.bytes[1] = static_cast<std::uint8_t>(mode & 0x1F);
    cdb.bytes[2] = bufferId;
    detail::Put(cdb, 3, 3, offset & 0xFFFFFF);
    detail::Put(cdb, 6, 3, length & 0xFFFFFF);
    return cdb;
}

// SPC-4 6.15.
constexpr Cdb ReadBuffer(int mode, std::uint8_t bufferId, std::uint32_t offset, std::uint32_t allocation)
{
    Cdb cdb = WriteBuffer(mode, bufferId, offset, allocation);
    cdb.bytes[0] = OpByte(ScsiOp::ReadBuffer);
    cdb.direction = CdbDirection::In;
    return cdb;
}

// SBC-3 5.25.
constexpr Cdb StartStopUnit(bool start, bool loadEject = false, bool immediate = false, int powerCondition = 0)
{
    Cdb cdb = detail::Make(ScsiOp::StartStopUnit, 6, CdbDirection::None);
    cdb.bytes[1] = detail::Bit(immediate, 0);
    cdb.bytes[4] = static_cast<std::uint8_t>(((powerCondition & 0x0F) << 4) | detail::Bit(loadEject, 1) |
                                             detail::Bit(start, 0));
    return cdb;
}

// SBC-3 5.3: FMTDATA says a parameter list follows; CMPLST replaces the grown
// list; the defect list format sits in bits 0-2.
constexpr Cdb FormatUnit(bool formatData, bool completeList = false, int defectListFormat = 0, int protection = 0,
                         bool longList = false)
{
    Cdb cdb = detail::Make(ScsiOp::FormatUnit, 6, formatData ? CdbDirection::Out : CdbDirection::None);
    cdb.bytes[1] = static_cast<std::uint8_t>(((protection & 0x03) << 6) | detail::Bit(longList, 5) |
                                             detail::Bit(formatData, 4) | detail::Bit(completeList, 3) |
                                             (defectListFormat & 0x07));
    return cdb;
}

// SPC-4 6.27: DESC asks for descriptor-format sense.
constexpr Cdb RequestSense(std::uint8_t allocation, bool descriptorFormat = false)
{
    Cdb cdb = detail::Make(ScsiOp::RequestSense, 6, CdbDirection::In);
    cdb.bytes[1] = detail::Bit(descriptorFormat, 0);
    cdb.bytes[4] = allocation;
    return cdb;
}

// SBC-3 5.18.
constexpr Cdb ReadDefectData10(bool primary, bool grown, int listFormat, std::uint16_t allocation)
{
    Cdb cdb = detail::Make(ScsiOp::ReadDefectData10, 10, CdbDirection::In);
    cdb.bytes[2] = static_cast<std::uint8_t>(detail::Bit(primary, 4) | detail::Bit(grown, 3) | (listFormat & 0x07));
    detail::Put(cdb, 7, 2, allocation);
    return cdb;
}

// SBC-3 5.19.
constexpr Cdb ReadDefectData12(bool primary, bool grown, int listFormat, std::uint32_t allocation)
{
    Cdb cdb = detail::Make(ScsiOp::ReadDefectData12, 12, CdbDirection::In);
    cdb.bytes[1] = static_cast<std::uint8_t>(detail::Bit(primary, 4) | detail::Bit(grown, 3) | (listFormat & 0x07));
    detail::Put(cdb, 6, 4, allocation);
    return cdb;
}

// SPC-4 6.29.
constexpr Cdb ReportLuns(std::uint32_t allocation, std::uint8_t selectReport = 0)
{
    Cdb cdb = detail::Make(ScsiOp::ReportLuns, 12, CdbDirection::In);
    cdb.bytes[2] = selectReport;
    detail::Put(cdb, 6, 4, allocation);
    return cdb;
}

}  // namespace cdb
