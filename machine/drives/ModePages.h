// Mode pages with their default, changeable, current and saved values.
#pragma once

#include "machine/drives/Reply.h"
#include "machine/drives/UnitState.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace harrow::machine::drives {

enum class PageControl { Current = 0, Changeable = 1, Default = 2, Saved = 3 };

struct PageDefinition {
    std::vector<std::uint8_t> defaults;    // whole page: code, length, parameters
    std::vector<std::uint8_t> changeable;  // same length; 1 bits may be selected
};

class ModePages {
public:
    explicit ModePages(std::vector<PageDefinition> pages);

    // Completes state with defaults for pages it lacks; throws
    // std::runtime_error when a remembered page has the wrong length.
    void Complete(UnitState& state) const;

    bool Has(int code) const;
    // Codes in ascending order, as page 0x3F reports them.
    std::vector<int> Codes() const;
    std::vector<std::uint8_t> Page(int code, PageControl control, const UnitState& state) const;

    // Checks a MODE SELECT parameter list's pages (after header and block
    // descriptor) and applies them all or none.
    std::optional<SenseCode> Select(std::span<const std::uint8_t> pages, bool save, UnitState& state) const;

private:
    const PageDefinition* Find(int code) const;

    std::vector<PageDefinition> m_pages;
};

}  // namespace harrow::machine::drives
