#pragma once

#include "core/types/Device.h"
#include "core/types/Error.h"

// Sense key (0-15) to its device-condition code; -1 for key 9 (vendor
// specific) and keys above 0xE, which have no code.
Error_t SenseKeyToError(unsigned senseKey);

// Peripheral device type from INQUIRY byte 0. The qualifier bits 5-7 are
// deliberately ignored: only bits 0-4 are looked at.
Device_t InquiryTypeToDevice(unsigned char inquiryByte0);
