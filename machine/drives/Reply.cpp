#include "machine/drives/Reply.h"

#include "machine/drives/Bytes.h"

#include <algorithm>
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
