// Assembles a log page (SPC-4 7.3.2) from its parameters, from a parameter
// pointer on.
#pragma once

#include "machine/drives/Bytes.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace harrow::machine::drives {

class LogPageBuilder {
public:
    LogPageBuilder(int code, std::uint16_t pointer)
        : m_bytes{static_cast<std::uint8_t>(code), 0, 0, 0}, m_pointer(pointer)
    {
    }

    void Add(std::uint16_t parameter, std::uint8_t control, std::span<const std::uint8_t> value)
    {
        if (parameter < m_pointer) {
            return;
        }
        const std::size_t at = m_bytes.size();
        m_bytes.resize(at + 4 + value.size());
        PutBE(m_bytes, at, 2, parameter);
        m_bytes[at + 2] = control;
        m_bytes[at + 3] = static_cast<std::uint8_t>(value.size());
        std::copy(value.begin(), value.end(), m_bytes.begin() + static_cast<std::ptrdiff_t>(at + 4));
    }

    void AddNumber(std::uint16_t parameter, std::size_t width, std::uint64_t value)
    {
        std::vector<std::uint8_t> bytes(width);
        PutBE(bytes, 0, width, value);
        Add(parameter, 0x00, bytes);
    }

    std::vector<std::uint8_t> Finish()
    {
        PutBE(m_bytes, 2, 2, m_bytes.size() - 4);
        return m_bytes;
    }

    std::vector<std::uint8_t>& Bytes() { return m_bytes; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::uint16_t m_pointer;
};

}  // namespace harrow::machine::drives
