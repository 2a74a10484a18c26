#include "core/types/LunAddress.h"

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
