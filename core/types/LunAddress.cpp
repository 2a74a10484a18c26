#include "core/types/LunAddress.h"

#include <algorithm>
#include <cstdint>

long SingleLevelLun(const unsigned char* entry)
{
    for (unsigned long i = 2; i < kLunEntryBytes; ++i) {
        if (entry[i] != 0) {
            return -1;  // a second level
        }
    }
    const unsigned method = entry[0] >> 6;
    if (entry[0] == 0) {
        return entry[1];
    }
    if (method == 1) {
        return static_cast<long>(((entry[0] & 0x3Fu) << 8) | entry[1]);
    }
    return -1;
}

unsigned long LunListBytes(const unsigned char* header)
{
    const std::uint64_t listed = (std::uint64_t{header[0]} << 24) | (std::uint64_t{header[1]} << 16) |
                                 (std::uint64_t{header[2]} << 8) | header[3];
    return static_cast<unsigned long>(std::min<std::uint64_t>(kLunEntryBytes + listed, kLunListMostAsked));
}

std::vector<unsigned long> LunsBelow(const unsigned char* list, unsigned long size, unsigned long limit)
{
    std::vector<unsigned long> luns;
    if (size < kLunEntryBytes) {
        return luns;
    }
    const unsigned long held = (std::min(LunListBytes(list), size) - kLunEntryBytes) / kLunEntryBytes;
    for (unsigned long i = 1; i <= held; ++i) {
        const long lun = SingleLevelLun(list + i * kLunEntryBytes);
        if (lun >= 0 && static_cast<unsigned long>(lun) < limit) {
            luns.push_back(static_cast<unsigned long>(lun));
        }
    }
    std::sort(luns.begin(), luns.end());
    luns.erase(std::unique(luns.begin(), luns.end()), luns.end());
    return luns;
}
