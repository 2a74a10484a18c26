#include "machine/drives/Firmware.h"

#include "machine/drives/Bytes.h"

#include <string_view>

#include <zlib.h>

namespace harrow::machine::drives {
namespace {

constexpr std::string_view kMagic = "KXFW";

std::string Trimmed(std::span<const std::uint8_t> bytes)
{
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::uint32_t Crc32(std::span<const std::uint8_t> bytes)
{
    return static_cast<std::uint32_t>(crc32_z(crc32_z(0, nullptr, 0), bytes.data(), bytes.size()));
}

std::vector<std::uint8_t> MakeFirmwareImage(const std::string& product, const std::string& revision,
                                            const std::string& scsiFirmware, std::size_t payloadBytes)
{
    std::vector<std::uint8_t> image(kImageHeaderSize + payloadBytes);
    PutText(image, 0, 4, kMagic);
    PutText(image, 4, 4, revision);
    PutText(image, 8, 8, scsiFirmware);
    PutBE(image, 16, 4, image.size());
    PutText(image, 24, 16, product);
    for (std::size_t i = kImageHeaderSize; i < image.size(); ++i) {
        image[i] = static_cast<std::uint8_t>(i * 31 + 7);
    }
    PutBE(image, 20, 4, Crc32(image));
    return image;
}

std::vector<std::uint8_t> MakeKstFile(const std::string& product, std::span<const std::uint8_t> image)
{
    std::vector<std::uint8_t> file(kKstHeaderSize);
    const std::string revision = image.size() >= 8 ? std::string(image.begin() + 4, image.begin() + 8) : "";
    PutText(file, 0, kKstHeaderSize, "KESTREL," + product + "," + revision);
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

FirmwareCollector::Outcome FirmwareCollector::Reject(SenseCode code)
{
    m_image.clear();
    m_expected = 0;
    return {code, std::nullopt};
}

FirmwareCollector::Outcome FirmwareCollector::Receive(std::uint64_t offset, std::span<const std::uint8_t> piece,
                                                      const std::string& product)
{
    if (offset == 0) {
        m_image.clear();
        m_expected = 0;
    }
    if (offset != m_image.size()) {
        return Reject(sense::kInvalidCdbField);  // pieces come in order
    }
    m_image.insert(m_image.end(), piece.begin(), piece.end());
    if (m_expected == 0 && m_image.size() >= kImageHeaderSize) {
        m_expected = static_cast<std::uint32_t>(GetBE(m_image, 16, 4));
        if (!std::equal(kMagic.begin(), kMagic.end(), m_image.begin()) || m_expected < kImageHeaderSize ||
            m_expected > kMaxImageSize) {
            return Reject(sense::kInvalidParameter);
        }
    }
    if (m_expected == 0 || m_image.size() < m_expected) {
        if (m_image.size() > kMaxImageSize) {
            return Reject(sense::kInvalidParameter);
        }
        return {};
    }
    // Bytes past the announced length are the tail of the last piece.
    m_image.resize(m_expected);
    const auto stored = static_cast<std::uint32_t>(GetBE(m_image, 20, 4));
    PutBE(m_image, 20, 4, 0);
    const bool intact = Crc32(m_image) == stored;
    const bool forThisDrive = Trimmed(std::span(m_image).subspan(24, 16)) == product;
    FirmwareIdentity identity{std::string(m_image.begin() + 4, m_image.begin() + 8),
                              Trimmed(std::span(m_image).subspan(8, 8))};
    if (!intact || !forThisDrive) {
        return Reject(sense::kInvalidParameter);
    }
    m_image.clear();
    m_expected = 0;
    return {std::nullopt, identity};
}

}  // namespace harrow::machine::drives
