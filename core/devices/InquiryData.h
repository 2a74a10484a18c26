#pragma once

#include <cstddef>
#include <cstdint>

// Standard INQUIRY data as far as the longest allocation length of INQUIRY(6)
// reaches; SetDevProperties never looks past it.
#pragma pack(push, 1)
struct SCSI_InquiryData_s {
    std::uint8_t PeripheralType;  // bits 0-4 device type, 5-7 qualifier
    std::uint8_t Removable;
    std::uint8_t Versions;        // bits 0-2 ANSI version
    std::uint8_t ResponseFormat;
    std::uint8_t AdditionalLength;
    std::uint8_t Flags[3];
    char VendorId[8];
    char ProductId[16];
    char ProductRevision[4];
    std::uint8_t VendorSpecific[219];  // bytes 36-254; the copyright text starts at 96
};
#pragma pack(pop)

constexpr std::size_t kInquiryDataBytes = 255;
// Bytes of standard data that the additional length does not count.
constexpr std::size_t kInquiryHeaderBytes = 4;
constexpr std::size_t kInquiryCopyrightOffset = 96;
static_assert(sizeof(SCSI_InquiryData_s) == kInquiryDataBytes);
static_assert(offsetof(SCSI_InquiryData_s, AdditionalLength) == 4);
static_assert(offsetof(SCSI_InquiryData_s, VendorId) == 8);
static_assert(offsetof(SCSI_InquiryData_s, ProductId) == 16);
static_assert(offsetof(SCSI_InquiryData_s, ProductRevision) == 32);
static_assert(offsetof(SCSI_InquiryData_s, VendorSpecific) == 36);
