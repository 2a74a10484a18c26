// The miniport pass-through buffer the MegaRAID plug-in builds from the
// core's request. It crosses a driver boundary and is byte-exact.
#pragma once

#include <cstddef>
#include <cstdint>

// The fixed part of the pass-through buffer; the data follows at offset 96.
#pragma pack(push, 1)
struct MegaRaidPassThrough {
    std::uint32_t HeaderLength;  // 28
    std::uint8_t Signature[8];
    std::uint32_t Timeout;
    std::uint32_t ControlCode;
    std::uint32_t ReturnCode;
    std::uint32_t Length;  // data length + 72
    std::uint8_t Command;  // 3
    std::uint8_t Status;   // preset 0xAA; the miniport writes the result here
    std::uint8_t Reserved30[6];
    std::uint8_t TimeoutClass;  // bits 0-2, with AUTO_SENSE
    std::uint8_t Lun;
    std::uint8_t Reserved38;
    std::uint8_t ChannelTarget;  // channel * 16 + target
    std::uint8_t Reserved40[2];
    std::uint8_t Cdb[10];
    std::uint8_t CdbLength;
    std::uint8_t SenseLength;  // 32
    std::uint8_t SenseArea[32];
    std::uint8_t Reserved86;
    std::uint8_t ScsiStatus;  // preset 0xFF
    std::uint8_t Reserved88[4];
    std::uint32_t DataLength;

    static constexpr std::uint32_t HEADER_LENGTH = 28;
    static constexpr std::uint32_t LENGTH_BEYOND_DATA = 72;
    static constexpr std::uint8_t COMMAND = 3;
    static constexpr std::uint8_t STATUS_UNTOUCHED = 0xAA;
    static constexpr std::uint8_t SCSI_STATUS_UNSET = 0xFF;
    static constexpr std::uint8_t AUTO_SENSE = 0x08;
    static constexpr std::uint8_t SENSE_LENGTH = 32;
    // What the plug-in allocates beyond the data.
    static constexpr std::size_t ALLOCATED_BEYOND_DATA = 100;
};
#pragma pack(pop)

static_assert(offsetof(MegaRaidPassThrough, Timeout) == 12);
static_assert(offsetof(MegaRaidPassThrough, ControlCode) == 16);
static_assert(offsetof(MegaRaidPassThrough, ReturnCode) == 20);
static_assert(offsetof(MegaRaidPassThrough, Length) == 24);
static_assert(offsetof(MegaRaidPassThrough, Command) == 28);
static_assert(offsetof(MegaRaidPassThrough, Status) == 29);
static_assert(offsetof(MegaRaidPassThrough, TimeoutClass) == 36);
static_assert(offsetof(MegaRaidPassThrough, Lun) == 37);
static_assert(offsetof(MegaRaidPassThrough, ChannelTarget) == 39);
static_assert(offsetof(MegaRaidPassThrough, Cdb) == 42);
static_assert(offsetof(MegaRaidPassThrough, CdbLength) == 52);
static_assert(offsetof(MegaRaidPassThrough, SenseLength) == 53);
static_assert(offsetof(MegaRaidPassThrough, SenseArea) == 54);
static_assert(offsetof(MegaRaidPassThrough, ScsiStatus) == 87);
static_assert(offsetof(MegaRaidPassThrough, DataLength) == 92);
static_assert(sizeof(MegaRaidPassThrough) == 96);
