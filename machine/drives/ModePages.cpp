#include "machine/drives/ModePages.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace harrow::machine::drives {

ModePages::ModePages(std::vector<PageDefinition> pages) : m_pages(std::move(pages))
{
    std::sort(m_pages.begin(), m_pages.end(),
              [](const PageDefinition& a, const PageDefinition& b) { return a.defaults[0] < b.defaults[0]; });
}

const PageDefinition* ModePages::Find(int code) const
{
    for (const auto& page : m_pages) {
        if (page.defaults[0] == code) {
            return &page;
        }
    }
    return nullptr;
}

bool ModePages::Has(int code) const { return Find(code) != nullptr; }

std::vector<int> ModePages::Codes() const
{
    std::vector<int> codes;
    for (const auto& page : m_pages) {
        codes.push_back(page.defaults[0]);
    }
    return codes;
}

void ModePages::Complete(UnitState& state) const
{
    for (const auto& page : m_pages) {
        const int code = page.defaults[0];
        for (PageBytes* values : {&state.currentPages, &state.savedPages}) {
            auto found = values->find(code);
            if (found == values->end()) {
                (*values)[code] = page.defaults;
            } else if (found->second.size() != page.defaults.size()) {
                throw std::runtime_error("mode page " + std::to_string(code) + " has the wrong length");
            }
        }
    }
}

std::vector<std::uint8_t> ModePages::Page(int code, PageControl control, const UnitState& state) const
{
    const PageDefinition* page = Find(code);
    std::vector<std::uint8_t> bytes;
    switch (control) {
    case PageControl::Current: bytes = state.currentPages.at(code); break;
    case PageControl::Saved: bytes = state.savedPages.at(code); break;
    case PageControl::Default: bytes = page->defaults; break;
    case PageControl::Changeable:
        bytes = page->changeable;
        bytes[0] = page->defaults[0];
        bytes[1] = page->defaults[1];
        break;
    }
    bytes[0] = static_cast<std::uint8_t>((bytes[0] & 0x3F) | 0x80);  // every page can be saved
    return bytes;
}

std::optional<SenseCode> ModePages::Select(std::span<const std::uint8_t> pages, bool save, UnitState& state) const
{
    PageBytes current = state.currentPages;
    std::size_t at = 0;
    while (at < pages.size()) {
        if (pages.size() - at < 2) {
            return sense::kParameterListLength;
        }
        if (pages[at] & 0x40) {
            return sense::kInvalidParameter;  // no subpages
        }
        const int code = pages[at] & 0x3F;
        const PageDefinition* page = Find(code);
        if (!page || pages[at + 1] + 2u != page->defaults.size()) {
            return sense::kInvalidParameter;
        }
        if (pages.size() - at < page->defaults.size()) {
            return sense::kParameterListLength;
        }
        auto& target = current[code];
        for (std::size_t i = 2; i < page->defaults.size(); ++i) {
            const std::uint8_t wanted = pages[at + i];
            if ((wanted ^ target[i]) & ~page->changeable[i]) {
                return sense::kInvalidParameter;
            }
            target[i] = wanted;
        }
        at += page->defaults.size();
    }
    state.currentPages = std::move(current);
    if (save) {
        state.savedPages = state.currentPages;
    }
    return std::nullopt;
}

}  // namespace harrow::machine::drives
