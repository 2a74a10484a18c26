// The sense codes of a failed command as the pages show them.
#pragma once

#include "core/types/SenseView.h"
#include "frontend/TextFormat.h"

#include <cstdint>
#include <string>

// "KK / AA / QQ", with " FRU Code FF" when the drive names a field-replaceable unit.
inline std::string SenseCodes(const SenseView& sense)
{
    std::string text = Format("%2.2X / %2.2X / %2.2X", sense.Key(), sense.Asc(), sense.Ascq());
    if (sense.Fru() != 0) {
        text += Format(" FRU Code %2.2X", sense.Fru());
    }
    return text;
}
