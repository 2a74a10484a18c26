#pragma once

#include "core/types/SenseView.h"

#include <cstdint>
#include <string>

// The three texts of one sense report: sense key, ASC and ASCQ.
struct SenseTexts {
    std::string key;
    std::string asc;
    std::string ascq;
};

// The optional sense text file, read from the current folder.
constexpr const char* kSenseTextFile = "sensedata.def";

// Names the last sense copy; "sensedata.def" in the current folder, when it
// opens, replaces the built-in ASC table.
SenseTexts DecodeSense();

// The same for given sense bytes (at least 18, either format) and an optional table file.
SenseTexts DecodeSenseBytes(const std::uint8_t* sense, const char* tableFile);
SenseTexts DecodeSenseBytes(const SenseView& sense, const char* tableFile);
