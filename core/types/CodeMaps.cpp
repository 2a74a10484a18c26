#include "core/types/CodeMaps.h"

Error_t SenseKeyToError(unsigned senseKey)
{
    constexpr unsigned kVendorSpecific = 0x9;
    constexpr unsigned kLastKnown = 0xE;
    if (senseKey == kVendorSpecific || senseKey > kLastKnown) {
        return ERR_NO_TRANSLATION;
    }
    return static_cast<Error_t>(ERR_SK_NO_SENSE + static_cast<std::int32_t>(senseKey));
}

Device_t InquiryTypeToDevice(unsigned char inquiryByte0)
{
    switch (inquiryByte0 & 0x1F) {
    case 0: return DEV_DISK;
    case 1: return DEV_TAPE;
    case 5: return DEV_CDROM;
    case 7: return DEV_OPTICAL;
    case 8: return DEV_CHANGER;
    case 2:
    case 3:
    case 4:
    case 6:
    case 9: return DEV_OTHER;
    default: return DEV_UNKNOWN;
    }
}
