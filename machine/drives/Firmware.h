// Firmware images the maker's drives accept over WRITE BUFFER, and the
// ".kst" files the front ends read them from.
#pragma once

#include "machine/drives/Reply.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace harrow::machine::drives {

inline constexpr std::size_t kImageHeaderSize = 40;
inline constexpr std::size_t kKstHeaderSize = 80;
inline constexpr std::uint32_t kMaxImageSize = 16u << 20;

struct FirmwareIdentity {
    std::string revision;      // 4
    std::string scsiFirmware;  // 8
};

// The CRC-32 of zlib, PNG and Ethernet.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// An image: "KXFW", revision, SCSI firmware number, total length, CRC-32
// (computed with its own field zero), product, then payload bytes.
std::vector<std::uint8_t> MakeFirmwareImage(const std::string& product, const std::string& revision,
                                            const std::string& scsiFirmware, std::size_t payloadBytes);

// The 80-byte text header "KESTREL,<product>,<revision>" followed by the image.
std::vector<std::uint8_t> MakeKstFile(const std::string& product, std::span<const std::uint8_t> image);

// Collects an image from WRITE BUFFER pieces, in order, and checks it once
// the length its header announces has arrived.
class FirmwareCollector {
public:
    struct Outcome {
        std::optional<SenseCode> failure;
        std::optional<FirmwareIdentity> installed;  // set when a whole good image arrived
    };

    Outcome Receive(std::uint64_t offset, std::span<const std::uint8_t> piece, const std::string& product);

private:
    Outcome Reject(SenseCode code);

    std::vector<std::uint8_t> m_image;
    std::uint32_t m_expected = 0;
};

}  // namespace harrow::machine::drives
