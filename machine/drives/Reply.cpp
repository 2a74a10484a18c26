#include "machine/drives/Reply.h"

#include "machine/drives/Bytes.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace harrow::machine::drives {

void FillSense(std::span<std::uint8_t, 18> out, SenseCode code, const SenseExtras& extras)
{
    std::fill(out.begin(), out.end(), 0);
    out[0] = static_cast<std::uint8_t>((extras.information ? 0xF0 : 0x70) | (extras.deferred ? 0x01 : 0x00));
    out[2] = static_cast<std::uint8_t>((code.key & 0x0F) | (extras.filemark ? 0x80 : 0) |
                                       (extras.endOfMedium ? 0x40 : 0) | (extras.ili ? 0x20 : 0));
    if (extras.information) {
        PutBE(out, 3, 4, *extras.information);
    }
    out[7] = 10;  // additional sense length
    out[12] = code.asc;
    out[13] = code.ascq;
    if (extras.progress) {
        out[15] = 0x80;
        PutBE(out, 16, 2, *extras.progress);
    }
}

std::size_t FillDescriptorSense(std::span<const std::uint8_t, 18> fixed, std::span<std::uint8_t> out, bool stream)
{
    std::fill(out.begin(), out.end(), 0);
    const bool deferred = (fixed[0] & 0x7F) == 0x71;
    out[0] = deferred ? 0x73 : 0x72;
    out[1] = fixed[2] & 0x0F;
    out[2] = fixed[12];
    out[3] = fixed[13];
    std::size_t at = 8;
    const auto descriptor = [&](std::uint8_t type, std::uint8_t length) {
        out[at] = type;
        out[at + 1] = length;
        const std::size_t start = at;
        at += 2u + length;
        return start;
    };
    if (fixed[0] & 0x80) {  // VALID: the 4-byte information field widens to 8 bytes
        const std::size_t d = descriptor(0x00, 0x0A);
        out[d + 2] = 0x80;
        std::copy_n(fixed.begin() + 3, 4, out.begin() + static_cast<std::ptrdiff_t>(d + 8));
    }
    if (fixed[15] & 0x80) {  // SKSV
        const std::size_t d = descriptor(0x02, 0x06);
        std::copy_n(fixed.begin() + 15, 3, out.begin() + static_cast<std::ptrdiff_t>(d + 4));
    }
    if (fixed[14] != 0) {
        out[descriptor(0x03, 0x02) + 3] = fixed[14];
    }
    const std::uint8_t bits = fixed[2] & (stream ? 0xE0 : 0x20);
    if (bits != 0) {
        out[descriptor(stream ? 0x04 : 0x05, 0x02) + 3] = bits;
    }
    out[7] = static_cast<std::uint8_t>(at - 8);
    return at;
}

void UseDescriptorSense(ScsiResult& result, bool stream)
{
    const int code = result.sense[0] & 0x7F;
    if (result.status != 0x02 || result.senseLength < 18 || (code != 0x70 && code != 0x71)) {
        return;
    }
    std::array<std::uint8_t, 18> fixed{};
    std::copy_n(result.sense.begin(), fixed.size(), fixed.begin());
    result.senseLength = static_cast<std::uint8_t>(
        FillDescriptorSense(fixed, std::span<std::uint8_t>(result.sense.data(), kDescriptorSenseMax), stream));
}

ScsiResult Good(std::uint32_t transferred)
{
    ScsiResult result;
    result.transferred = transferred;
    return result;
}

ScsiResult CheckCondition(SenseCode code, const SenseExtras& extras, std::uint32_t transferred)
{
    ScsiResult result;
    result.status = 0x02;
    result.transferred = transferred;
    FillSense(std::span<std::uint8_t, 18>(result.sense.data(), 18), code, extras);
    result.senseLength = 18;
    return result;
}

ScsiResult DataIn(const ScsiRequest& request, std::span<const std::uint8_t> bytes, std::uint32_t allocation)
{
    const std::size_t count = std::min({bytes.size(), static_cast<std::size_t>(allocation), request.data.size()});
    if (count > 0) {
        std::memcpy(request.data.data(), bytes.data(), count);
    }
    return Good(static_cast<std::uint32_t>(count));
}

std::span<const std::uint8_t> DataOut(const ScsiRequest& request, std::uint32_t length)
{
    return std::span<const std::uint8_t>(request.data.data(), std::min<std::size_t>(length, request.data.size()));
}

}  // namespace harrow::machine::drives
