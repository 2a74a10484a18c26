// What a target's REPORT LUNS answer names, as a port can address it.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace harrow::machine {

// The LUNs the answer (the bytes transferred) names that a port can address;
// what it leaves out is told in notes.
std::vector<unsigned> LunsFromReport(std::span<const std::uint8_t> answer, std::vector<std::string>* notes);

}  // namespace harrow::machine
