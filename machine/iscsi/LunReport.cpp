#include "machine/iscsi/LunReport.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace harrow::machine {
namespace {

constexpr unsigned kMaxWindowsLun = 255;  // Lun is one byte in the port interface

// One entry of the LUN list; nullopt for addressing methods a port cannot name.
std::optional<unsigned> LunOf(const std::uint8_t* entry)
{
    const unsigned method = entry[0] >> 6;
    const unsigned high = entry[0] & 0x3F;
    for (int i = 2; i < 8; ++i) {
        if (entry[i] != 0) {
            return std::nullopt;  // a hierarchical (multi-level) LUN
        }
    }
    if (method == 0 && high == 0) {
        return entry[1];
    }
    if (method == 1) {
        return (high << 8) | entry[1];
    }
    return std::nullopt;
}

std::string Hex(const std::uint8_t* bytes, int count)
{
    std::string text;
    char digits[3];
    for (int i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

}  // namespace

std::vector<unsigned> LunsFromReport(std::span<const std::uint8_t> answer, std::vector<std::string>* notes)
{
    if (answer.size() < 8) {
        notes->push_back("REPORT LUNS: a short answer; only LUN 0 is scanned");
        return {0};
    }
    const std::uint32_t listed = (std::uint32_t{answer[0]} << 24) | (answer[1] << 16) | (answer[2] << 8) | answer[3];
    const std::uint32_t usable =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(listed, answer.size() - 8)) / 8 * 8;
    if (usable < listed) {
        notes->push_back("REPORT LUNS: only the first " + std::to_string(usable / 8) + " of " +
                         std::to_string(listed / 8) + " LUNs are used");
    }
    std::vector<unsigned> luns;
    std::uint32_t leftOut = 0;
    std::string firstLeftOut;
    for (std::uint32_t offset = 8; offset < 8 + usable; offset += 8) {
        const auto lun = LunOf(&answer[offset]);
        if (!lun || *lun > kMaxWindowsLun) {
            if (leftOut++ == 0) {
                firstLeftOut = Hex(&answer[offset], 8);
            }
            continue;
        }
        luns.push_back(*lun);
    }
    // SPC-4 6.33 lists each LUN once; one listed twice (or named both ways, as
    // 0001h and 4001h) would otherwise become two units of one drive.
    std::sort(luns.begin(), luns.end());
    const auto repeats = std::unique(luns.begin(), luns.end());
    if (repeats != luns.end()) {
        notes->push_back("REPORT LUNS: " + std::to_string(luns.end() - repeats) +
                         " entries repeat a LUN already listed and are left out");
        luns.erase(repeats, luns.end());
    }
    // One line however many LUNs a target lists: 10,000 of them must not make a 56 KB message.
    if (leftOut == 1) {
        notes->push_back("LUN " + firstLeftOut + " cannot be addressed through a port and is left out");
    } else if (leftOut > 1) {
        notes->push_back(std::to_string(leftOut) +
                         " LUNs cannot be addressed through a port and are left out (the first is " + firstLeftOut +
                         ")");
    }
    return luns;
}

}  // namespace harrow::machine
