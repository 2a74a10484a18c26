#pragma once

#include <cstdint>

// How a FORMAT UNIT is asked for, as the format test hands it over.
struct format_struct {
    std::uint32_t Flags;             // bits 0-2 defect list format, bit 3 CmpLst, bit 4 FmtData
    std::uint32_t HeaderCopyLength;  // bytes of header and pattern descriptor copied; 4 in practice
    std::uint32_t PatternLength;     // initialization pattern bytes after the descriptor
};

// The 4-byte parameter-list header and initialization pattern descriptor,
// each as its bytes lie in memory (byte 0 in the low byte).
using defectListHeader = std::uint32_t;
using IPdescriptor = std::uint32_t;

// IP: an initialization pattern descriptor follows the header (byte 1 bit 3).
inline constexpr defectListHeader kDefectHeaderIp = 0x800;
