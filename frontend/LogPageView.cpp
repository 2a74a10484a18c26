#include "frontend/LogPageView.h"

#include <algorithm>

namespace {

constexpr std::size_t PAGE_HEADER = 4;
constexpr std::size_t PARAMETER_HEADER = 4;
constexpr std::size_t MAX_VALUE_BYTES = 8;

}  // namespace

LogPageView::LogPageView(std::span<const std::uint8_t> reply)
{
    if (reply.size() < PAGE_HEADER) {
        return;
    }
    m_valid = true;
    m_pageCode = reply[0] & 0x3F;
    const std::size_t pageLength = (static_cast<std::size_t>(reply[2]) << 8) | reply[3];
    const std::size_t received = reply.size() - PAGE_HEADER;
    m_cut = pageLength > received;
    m_body = reply.subspan(PAGE_HEADER, std::min(pageLength, received));
    std::size_t at = 0;
    while (at + PARAMETER_HEADER <= m_body.size()) {
        const std::size_t length = m_body[at + 3];
        if (at + PARAMETER_HEADER + length > m_body.size()) {
            m_cut = true;
            return;
        }
        LogParameter parameter;
        parameter.code = static_cast<std::uint16_t>((m_body[at] << 8) | m_body[at + 1]);
        parameter.control = m_body[at + 2];
        parameter.value = m_body.subspan(at + PARAMETER_HEADER, length);
        m_parameters.push_back(parameter);
        at += PARAMETER_HEADER + length;
    }
    m_cut = m_cut || at != m_body.size();
}

const LogParameter* LogPageView::Find(std::uint16_t code) const
{
    for (const LogParameter& parameter : m_parameters) {
        if (parameter.code == code) {
            return &parameter;
        }
    }
    return nullptr;
}

std::optional<std::uint64_t> BigEndianValue(std::span<const std::uint8_t> bytes)
{
    if (bytes.empty() || bytes.size() > MAX_VALUE_BYTES) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) {
        value = (value << 8) | byte;
    }
    return value;
}

std::optional<std::uint64_t> FieldAt(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width)
{
    if (at > bytes.size() || width > bytes.size() - at) {
        return std::nullopt;
    }
    return BigEndianValue(bytes.subspan(at, width));
}
