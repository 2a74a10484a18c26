#pragma once

#include <cstddef>
#include <cstdint>

// A raw command a caller builds for SCSIDevice::SCSI_CDB_DANGER.
#pragma pack(push, 1)
struct SCSI_Cdb_UserDef16Byte_s {
    std::uint8_t Cdb[16];
    std::uint8_t CdbLength;
    std::uint8_t Reserved1[3];
    std::uint8_t Flags;  // 0x08 data in, 0x10 data out
    std::uint8_t Reserved2[3];
    std::uint32_t DataLength;
    std::uint32_t Timeout;  // seconds
};
#pragma pack(pop)
static_assert(sizeof(SCSI_Cdb_UserDef16Byte_s) == 32);
static_assert(offsetof(SCSI_Cdb_UserDef16Byte_s, Cdb) == 0);
static_assert(offsetof(SCSI_Cdb_UserDef16Byte_s, CdbLength) == 16);
static_assert(offsetof(SCSI_Cdb_UserDef16Byte_s, Flags) == 20);
static_assert(offsetof(SCSI_Cdb_UserDef16Byte_s, DataLength) == 24);
static_assert(offsetof(SCSI_Cdb_UserDef16Byte_s, Timeout) == 28);

// Which mode parameter header a mode page buffer carries.
enum eDataHeaderKind_t : std::int32_t {
    MODE_HDR_6 = 1,
    MODE_HDR_10 = 2,
};
