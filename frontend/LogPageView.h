#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// One log parameter (SPC-4 7.3.2.2): code, control byte and the value bytes
// that lie inside the page.
struct LogParameter {
    std::uint16_t code = 0;
    std::uint8_t control = 0;
    std::span<const std::uint8_t> value;
};

// The parameters of one LOG SENSE reply (SPC-4 7.3.2). The walk stops at the
// end of the page length or of the bytes received, whichever comes first; a
// parameter whose length runs past that end is dropped and marks the page cut.
class LogPageView {
public:
    explicit LogPageView(std::span<const std::uint8_t> reply);

    // False when the reply is shorter than the 4-byte page header.
    bool Valid() const { return m_valid; }
    int PageCode() const { return m_pageCode; }
    // The page's bytes after the header, within what was received.
    std::span<const std::uint8_t> Body() const { return m_body; }
    const std::vector<LogParameter>& Parameters() const { return m_parameters; }
    // A parameter ran past the page or the reply.
    bool Cut() const { return m_cut; }
    const LogParameter* Find(std::uint16_t code) const;

private:
    bool m_valid = false;
    bool m_cut = false;
    int m_pageCode = 0;
    std::span<const std::uint8_t> m_body;
    std::vector<LogParameter> m_parameters;
};

// A big-endian unsigned value of 1 to 8 bytes; nothing for an empty or longer one.
std::optional<std::uint64_t> BigEndianValue(std::span<const std::uint8_t> bytes);
// The same for a field of `width` bytes at `at`; nothing when it lies outside.
std::optional<std::uint64_t> FieldAt(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width);
