#include "cli/ResourceLibrary.h"

#include "platform/Library.h"

#include <cstdint>

namespace {

constexpr const char* RESOURCE_DLL = "RESDLL.DLL";
constexpr int MAX_STRING = 1024;
// Handles below this value are load failures.
constexpr std::uintptr_t FIRST_VALID_MODULE = 32;

}  // namespace

ResourceLibrary::~ResourceLibrary()
{
    if (m_module != nullptr) {
        FreeLibrary(m_module);
    }
}

bool ResourceLibrary::Load()
{
    HMODULE module = LoadLibraryA(RESOURCE_DLL);
    if (reinterpret_cast<std::uintptr_t>(module) < FIRST_VALID_MODULE) {
        return false;
    }
    m_module = module;
    return true;
}

std::string ResourceLibrary::String(unsigned id) const
{
    char text[MAX_STRING];
    const int length = LoadStringA(m_module, id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}
