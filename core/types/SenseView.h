#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

// Sense keys (SPC-4 table 27).
constexpr int kSenseKeyNoSense = 0x0;
constexpr int kSenseKeyRecoveredError = 0x1;
constexpr int kSenseKeyNotReady = 0x2;
constexpr int kSenseKeyMediumError = 0x3;
constexpr int kSenseKeyHardwareError = 0x4;
constexpr int kSenseKeyIllegalRequest = 0x5;
constexpr int kSenseKeyUnitAttention = 0x6;
constexpr int kSenseKeyDataProtect = 0x7;
constexpr int kSenseKeyAbortedCommand = 0xB;

// Response codes (SPC-4 4.5.1).
constexpr int kSenseFixedCurrent = 0x70;
constexpr int kSenseFixedDeferred = 0x71;
constexpr int kSenseDescriptorCurrent = 0x72;
constexpr int kSenseDescriptorDeferred = 0x73;

// Descriptor types of descriptor-format sense (SPC-4 table 29).
constexpr int kSenseDescriptorInformation = 0x00;
constexpr int kSenseDescriptorCommandSpecific = 0x01;
constexpr int kSenseDescriptorKeySpecific = 0x02;
constexpr int kSenseDescriptorFru = 0x03;
constexpr int kSenseDescriptorStreamCommands = 0x04;
constexpr int kSenseDescriptorBlockCommands = 0x05;

// One reading of sense data in either format of SPC-4 4.5: fixed (70h, 71h)
// or descriptor (72h, 73h). Any other response code is read at the fixed
// offsets, as devices that predate the response code are. Never reads past
// the length it is given; a field that lies beyond it reads as zero.
class SenseView {
public:
    SenseView(const std::uint8_t* bytes, std::size_t length) : m_bytes(bytes), m_length(bytes != nullptr ? length : 0) {}
    template <std::size_t N>
    explicit SenseView(const std::array<std::uint8_t, N>& bytes) : SenseView(bytes.data(), N)
    {
    }

    int ResponseCode() const { return At(0) & 0x7F; }
    bool Known() const { return ResponseCode() >= kSenseFixedCurrent && ResponseCode() <= kSenseDescriptorDeferred; }
    bool Descriptor() const
    {
        return ResponseCode() == kSenseDescriptorCurrent || ResponseCode() == kSenseDescriptorDeferred;
    }
    bool Current() const { return ResponseCode() == kSenseFixedCurrent || ResponseCode() == kSenseDescriptorCurrent; }
    bool Deferred() const
    {
        return ResponseCode() == kSenseFixedDeferred || ResponseCode() == kSenseDescriptorDeferred;
    }

    // The length reaches the ASCQ, the last of key, ASC and ASCQ: byte 3 in
    // descriptor format (SPC-4 4.5.2.1), byte 13 in fixed (SPC-4 4.5.3).
    bool HasCodes() const { return m_length > (Descriptor() ? 3u : 13u); }
    int Key() const { return (Descriptor() ? At(1) : At(2)) & 0x0F; }
    int Asc() const { return Descriptor() ? At(2) : At(12); }
    int Ascq() const { return Descriptor() ? At(3) : At(13); }
    int Fru() const;

    bool Filemark() const { return (StreamBits() & 0x80) != 0; }
    bool EndOfMedium() const { return (StreamBits() & 0x40) != 0; }
    bool IncorrectLength() const { return (StreamBits() & 0x20) != 0; }
    // Byte 2 as fixed format carries it: the key with the filemark, EOM and
    // ILI bits, whichever format the device used.
    int KeyByte() const;

    // The INFORMATION field and its VALID bit; 64 bits in descriptor format.
    bool InformationValid() const;
    std::uint64_t Information() const;

    // The SENSE KEY SPECIFIC bytes (SPC-4 4.5.2.4), zero when absent.
    std::array<std::uint8_t, 3> SenseKeySpecific() const;
    bool SenseKeySpecificValid() const { return (SenseKeySpecific()[0] & 0x80) != 0; }
    // Progress of a format, self test or sanitize out of 65536 (SPC-4
    // 4.5.2.4.4): only with SKSV set and the key NO SENSE or NOT READY.
    std::optional<std::uint16_t> Progress() const;

    // The first descriptor of the type, with its two header bytes, or an empty
    // span when fixed format or absent. A descriptor cut by the length is absent.
    struct Span {
        const std::uint8_t* bytes = nullptr;
        std::size_t length = 0;
    };
    Span FindDescriptor(int type) const;

private:
    int At(std::size_t index) const { return index < m_length ? m_bytes[index] : 0; }
    std::size_t End() const;
    int StreamBits() const;

    const std::uint8_t* m_bytes;
    std::size_t m_length;
};
