#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types/SenseView.h"

// A command's sense buffer: the full 128 bytes, laid out as fixed-format
// sense (response codes 0x70 and 0x71). A device may answer in descriptor
// format instead, so the fields are read through SenseView. Bytes past the
// additional length the device reported carry no meaning.
#pragma pack(push, 1)
struct SCSI_SenseData_s {
    std::uint8_t ResponseCode;          // bit 7 Valid, bits 0-6 response code
    std::uint8_t SegmentNumber;
    std::uint8_t Flags;                 // bits 0-3 sense key, 5 ILI, 6 EOM, 7 filemark
    std::uint8_t Information[4];        // big-endian
    std::uint8_t AdditionalSenseLength;
    std::uint8_t CommandSpecificInformation[4];
    std::uint8_t AdditionalSenseCode;
    std::uint8_t AdditionalSenseCodeQualifier;
    std::uint8_t FieldReplaceableUnitCode;
    std::uint8_t SenseKeySpecific[3];   // byte 15 bit 7 SKSV, bit 6 C/D
    std::uint8_t AdditionalBytes[110];

    // Every field through the view, so descriptor-format sense reads the same.
    SenseView View() const { return SenseView(reinterpret_cast<const std::uint8_t*>(this), sizeof(*this)); }
    bool IsValid() const { return View().InformationValid(); }
    int SenseKey() const { return View().Key(); }
    int Asc() const { return View().Asc(); }
    int Ascq() const { return View().Ascq(); }
    int Fru() const { return View().Fru(); }
    bool IsIncorrectLength() const { return View().IncorrectLength(); }
    bool IsEndOfMedia() const { return View().EndOfMedium(); }
    bool IsFileMark() const { return View().Filemark(); }
    bool IsCommandDataError() const { return (View().SenseKeySpecific()[0] & 0x40) != 0; }
    std::int32_t InformationValue() const { return static_cast<std::int32_t>(View().Information()); }
};
#pragma pack(pop)

constexpr std::size_t kSenseDataBytes = 128;
// The additional bytes begin after the 18-byte fixed header.
constexpr std::size_t kFixedSenseHeaderBytes = 18;

static_assert(sizeof(SCSI_SenseData_s) == kSenseDataBytes);
static_assert(offsetof(SCSI_SenseData_s, ResponseCode) == 0);
static_assert(offsetof(SCSI_SenseData_s, SegmentNumber) == 1);
static_assert(offsetof(SCSI_SenseData_s, Flags) == 2);
static_assert(offsetof(SCSI_SenseData_s, Information) == 3);
static_assert(offsetof(SCSI_SenseData_s, AdditionalSenseLength) == 7);
static_assert(offsetof(SCSI_SenseData_s, CommandSpecificInformation) == 8);
static_assert(offsetof(SCSI_SenseData_s, AdditionalSenseCode) == 12);
static_assert(offsetof(SCSI_SenseData_s, AdditionalSenseCodeQualifier) == 13);
static_assert(offsetof(SCSI_SenseData_s, FieldReplaceableUnitCode) == 14);
static_assert(offsetof(SCSI_SenseData_s, SenseKeySpecific) == 15);
static_assert(offsetof(SCSI_SenseData_s, AdditionalBytes) == kFixedSenseHeaderBytes);
