#pragma once

#include "frontend/ScsiCdb.h"

#include <cstdint>

// The block commands of the host tests and the block dump: the 10-byte forms
// for a drive whose last LBA fits 32 bits, as the design sends them, the
// 16-byte forms of SBC-3 for a larger one.
constexpr std::uint64_t kLastLbaCdb10 = 0xFFFFFFFF;

constexpr bool NeedsCdb16(std::uint64_t lastLba) { return lastLba > kLastLbaCdb10; }

constexpr Cdb ReadBlocks(std::uint64_t lba, std::uint32_t count, bool wide)
{
    return wide ? cdb::Read16(lba, count)
                : cdb::Read10(static_cast<std::uint32_t>(lba), static_cast<std::uint16_t>(count));
}

constexpr Cdb VerifyBlocks(std::uint64_t lba, std::uint32_t count, bool wide)
{
    return wide ? cdb::Verify16(lba, count)
                : cdb::Verify10(static_cast<std::uint32_t>(lba), static_cast<std::uint16_t>(count));
}
