#include "core/types/ByteOrder.h"

#include <algorithm>
#include <cstring>

void grab_bytes(const void* src, int srcLen, void* dst, int dstLen)
{
    if (dst == nullptr || dstLen <= 0) {
        return;
    }
    std::memset(dst, 0, static_cast<std::size_t>(dstLen));
    if (src == nullptr) {
        return;
    }
    const int count = std::max(0, std::min(srcLen, dstLen));
    const auto* from = static_cast<const unsigned char*>(src);
    auto* to = static_cast<unsigned char*>(dst);
    std::reverse_copy(from, from + count, to);
}
