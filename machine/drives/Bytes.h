// Big-endian fields of CDBs, pages and parameter lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace harrow::machine::drives {

inline std::uint64_t GetBE(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        value = (value << 8) | (at + i < bytes.size() ? bytes[at + i] : 0);
    }
    return value;
}

inline void PutBE(std::span<std::uint8_t> bytes, std::size_t at, std::size_t width, std::uint64_t value)
{
    for (std::size_t i = 0; i < width; ++i) {
        if (at + width - 1 - i < bytes.size()) {
            bytes[at + width - 1 - i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
}

// Writes text blank-padded (or cut) to width bytes, as INQUIRY fields are.
inline void PutText(std::span<std::uint8_t> bytes, std::size_t at, std::size_t width, std::string_view text)
{
    for (std::size_t i = 0; i < width && at + i < bytes.size(); ++i) {
        bytes[at + i] = i < text.size() ? static_cast<std::uint8_t>(text[i]) : ' ';
    }
}

}  // namespace harrow::machine::drives
