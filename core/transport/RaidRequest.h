// The request the core hands the MegaRAID plug-in "ORBAMIRAID.DLL". It crosses
// a library boundary and is byte-exact; the two addresses are 8 bytes on this build.
#pragma once

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)
struct RaidRequest {
    std::uint8_t Cdb[16];
    std::uint8_t CdbLength;  // at most 10
    std::uint8_t Channel;
    std::uint8_t Adapter;  // SCSI port number of the controller
    std::uint8_t Target;
    std::uint8_t Lun;  // must be 0
    std::uint8_t SenseLength;
    std::uint8_t Direction;  // 0 data to the device, 1 data from it
    std::uint32_t DataLength;
    std::uint32_t Timeout;  // seconds
    void* Data;
    void* Sense;

    static constexpr std::uint8_t kDirectionOut = 0;
    static constexpr std::uint8_t kDirectionIn = 1;
    static constexpr std::uint8_t kMaxCdbLength = 10;
};
#pragma pack(pop)

static_assert(offsetof(RaidRequest, CdbLength) == 16);
static_assert(offsetof(RaidRequest, Channel) == 17);
static_assert(offsetof(RaidRequest, Adapter) == 18);
static_assert(offsetof(RaidRequest, Target) == 19);
static_assert(offsetof(RaidRequest, Lun) == 20);
static_assert(offsetof(RaidRequest, SenseLength) == 21);
static_assert(offsetof(RaidRequest, Direction) == 22);
static_assert(offsetof(RaidRequest, DataLength) == 23);
static_assert(offsetof(RaidRequest, Timeout) == 27);
static_assert(offsetof(RaidRequest, Data) == 31);
static_assert(offsetof(RaidRequest, Sense) == 39);
static_assert(sizeof(RaidRequest) == 47);
