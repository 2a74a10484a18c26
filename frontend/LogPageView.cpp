#include "frontend/LogPageView.h"

#include <algorithm>

namespace {

constexpr std::size_t kPageHeader = 4;
constexpr std::size_t kParameterHeader = 4;
constexpr std::size_t kMaxValueBytes = 8;

}  // namespace

LogPageView::LogPageView(std::span<const std::uint8_t> reply)
{
    if (reply.size() < kPageHeader) {
        return;
    }
    m_valid = true;
    m_pageCode = reply[0] & 0x3F;
    const std::size_t pageLength = (static_cast<std::size_t>(reply[2]) << 8) | reply[3];
    const std::size_t received = reply.size() - kPageHeader;
    m_cut = pageLength > received;
    m_body = reply.subspan(kPageHeader, std::min(pageLength, received));
    std::size_t at = 0;
    while (at + kParameterHeader <= m_body.size()) {
        const std::size_t length = m_body[at + 3];
        if (at + kParameterHeader + length > m_body.size()) {
            m_cut = true;
            return;
        }
        LogParameter parameter;
        parameter.code = static_cast<std::uint16_t>((m_body[at] << 8) | m_body[at + 1]);
        parameter.control = m_body[at + 2];
        parameter.value = m_body.subspan(at + kParameterHeader, length);
        m_parameters.push_back(parameter);
        at += kParameterHeader + length;
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
    if (bytes.empty() || bytes.size() > kMaxValueBytes) {
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
