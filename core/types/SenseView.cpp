#include "core/types/SenseView.h"

namespace {

constexpr std::size_t FIXED_INFORMATION = 3;
constexpr std::size_t FIXED_FRU = 14;
constexpr std::size_t FIXED_KEY_SPECIFIC = 15;
// Descriptor-format header: descriptors begin after the additional length byte 7.
constexpr std::size_t DESCRIPTORS_BEGIN = 8;
constexpr std::size_t ADDITIONAL_LENGTH = 7;

std::uint8_t ByteOf(const SenseView::Span& span, std::size_t index)
{
    return index < span.length ? span.bytes[index] : 0;
}

}  // namespace

std::size_t SenseView::End() const
{
    const std::size_t stated = DESCRIPTORS_BEGIN + static_cast<std::size_t>(At(ADDITIONAL_LENGTH));
    return stated < m_length ? stated : m_length;
}

SenseView::Span SenseView::FindDescriptor(int type) const
{
    if (!Descriptor()) {
        return {};
    }
    const std::size_t end = End();
    std::size_t at = DESCRIPTORS_BEGIN;
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
        return At(FIXED_FRU);
    }
    return ByteOf(FindDescriptor(SENSE_DESCRIPTOR_FRU), 3);
}

int SenseView::StreamBits() const
{
    if (!Descriptor()) {
        return At(2) & 0xE0;
    }
    // SPC-4 4.5.2.6: filemark, EOM, ILI; SBC-3 4.18.3 block commands: ILI only.
    const Span stream = FindDescriptor(SENSE_DESCRIPTOR_STREAM_COMMANDS);
    if (stream.bytes != nullptr) {
        return ByteOf(stream, 3) & 0xE0;
    }
    return ByteOf(FindDescriptor(SENSE_DESCRIPTOR_BLOCK_COMMANDS), 3) & 0x20;
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
    return (ByteOf(FindDescriptor(SENSE_DESCRIPTOR_INFORMATION), 2) & 0x80) != 0;
}

std::uint64_t SenseView::Information() const
{
    std::uint64_t value = 0;
    if (!Descriptor()) {
        for (std::size_t i = 0; i < 4; ++i) {
            value = (value << 8) | static_cast<std::uint64_t>(At(FIXED_INFORMATION + i));
        }
        return value;
    }
    // SPC-4 4.5.2.2: eight bytes from byte 4 of the descriptor.
    const Span information = FindDescriptor(SENSE_DESCRIPTOR_INFORMATION);
    for (std::size_t i = 0; i < 8; ++i) {
        value = (value << 8) | ByteOf(information, 4 + i);
    }
    return value;
}

std::array<std::uint8_t, 3> SenseView::SenseKeySpecific() const
{
    if (!Descriptor()) {
        return {static_cast<std::uint8_t>(At(FIXED_KEY_SPECIFIC)), static_cast<std::uint8_t>(At(FIXED_KEY_SPECIFIC + 1)),
                static_cast<std::uint8_t>(At(FIXED_KEY_SPECIFIC + 2))};
    }
    // SPC-4 4.5.2.3: the three bytes from byte 4 of the descriptor.
    const Span specific = FindDescriptor(SENSE_DESCRIPTOR_KEY_SPECIFIC);
    return {ByteOf(specific, 4), ByteOf(specific, 5), ByteOf(specific, 6)};
}

std::optional<std::uint16_t> SenseView::Progress() const
{
    if (!SenseKeySpecificValid() || (Key() != SENSE_KEY_NO_SENSE && Key() != SENSE_KEY_NOT_READY)) {
        return std::nullopt;
    }
    const std::array<std::uint8_t, 3> specific = SenseKeySpecific();
    return static_cast<std::uint16_t>((specific[1] << 8) | specific[2]);
}
