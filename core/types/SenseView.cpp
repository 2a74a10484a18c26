#include "core/types/SenseView.h"

namespace {

constexpr std::size_t kFixedInformation = 3;
constexpr std::size_t kFixedFru = 14;
constexpr std::size_t kFixedKeySpecific = 15;
// Descriptor-format header: descriptors begin after the additional length byte 7.
constexpr std::size_t kDescriptorsBegin = 8;
constexpr std::size_t kAdditionalLength = 7;

std::uint8_t ByteOf(const SenseView::Span& span, std::size_t index)
{
    return index < span.length ? span.bytes[index] : 0;
}

}  // namespace

std::size_t SenseView::End() const
{
    const std::size_t stated = kDescriptorsBegin + static_cast<std::size_t>(At(kAdditionalLength));
    return stated < m_length ? stated : m_length;
}

SenseView::Span SenseView::FindDescriptor(int type) const
{
    if (!Descriptor()) {
        return {};
    }
    const std::size_t end = End();
    std::size_t at = kDescriptorsBegin;
    while (at + 2 <= end) {
        const std::size_t length = 2 + static_cast<std::size_t>(m_bytes[at + 1]);
        if (at + length > end) {
            return {};
        }
        if (m_bytes[at] == type) {
            return {m_bytes + at, length};
        }
        at += length;
    }
    return {};
}

int SenseView::Fru() const
{
    if (!Descriptor()) {
        return At(kFixedFru);
    }
    return ByteOf(FindDescriptor(kSenseDescriptorFru), 3);
}

int SenseView::StreamBits() const
{
    if (!Descriptor()) {
        return At(2) & 0xE0;
    }
    // SPC-4 4.5.2.6: filemark, EOM, ILI; SBC-3 4.18.3 block commands: ILI only.
    const Span stream = FindDescriptor(kSenseDescriptorStreamCommands);
    if (stream.bytes != nullptr) {
        return ByteOf(stream, 3) & 0xE0;
    }
    return ByteOf(FindDescriptor(kSenseDescriptorBlockCommands), 3) & 0x20;
}

int SenseView::KeyByte() const
{
    if (!Descriptor()) {
        return At(2);
    }
    return StreamBits() | Key();
}

bool SenseView::InformationValid() const
{
    if (!Descriptor()) {
        return (At(0) & 0x80) != 0;
    }
    return (ByteOf(FindDescriptor(kSenseDescriptorInformation), 2) & 0x80) != 0;
}

std::uint64_t SenseView::Information() const
{
    std::uint64_t value = 0;
    if (!Descriptor()) {
        for (std::size_t i = 0; i < 4; ++i) {
            value = (value << 8) | static_cast<std::uint64_t>(At(kFixedInformation + i));
        }
        return value;
    }
    // SPC-4 4.5.2.2: eight bytes from byte 4 of the descriptor.
    const Span information = FindDescriptor(kSenseDescriptorInformation);
    for (std::size_t i = 0; i < 8; ++i) {
        value = (value << 8) | ByteOf(information, 4 + i);
    }
    return value;
}

std::array<std::uint8_t, 3> SenseView::SenseKeySpecific() const
{
    if (!Descriptor()) {
        return {static_cast<std::uint8_t>(At(kFixedKeySpecific)), static_cast<std::uint8_t>(At(kFixedKeySpecific + 1)),
                static_cast<std::uint8_t>(At(kFixedKeySpecific + 2))};
    }
    // SPC-4 4.5.2.3: the three bytes from byte 4 of the descriptor.
    const Span specific = FindDescriptor(kSenseDescriptorKeySpecific);
    return {ByteOf(specific, 4), ByteOf(specific, 5), ByteOf(specific, 6)};
}

std::optional<std::uint16_t> SenseView::Progress() const
{
    if (!SenseKeySpecificValid() || (Key() != kSenseKeyNoSense && Key() != kSenseKeyNotReady)) {
        return std::nullopt;
    }
    const std::array<std::uint8_t, 3> specific = SenseKeySpecific();
    return static_cast<std::uint16_t>((specific[1] << 8) | specific[2]);
}
