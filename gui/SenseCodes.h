// The sense codes of a failed command as the pages show them.
#pragma once

#include "frontend/TextFormat.h"

#include <cstdint>
#include <string>

// "KK / AA / QQ", with " FRU Code FF" when the drive names a field-replaceable unit.
inline std::string SenseCodes(const std::uint8_t* sense)
{
    std::string text = Format("%2.2X / %2.2X / %2.2X", sense[2] & 0x0F, sense[12], sense[13]);
    if (sense[14] != 0) {
        text += Format(" FRU Code %2.2X", sense[14]);
    }
    return text;
}
