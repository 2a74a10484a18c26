#include "cli/ResourceLibrary.h"

#include "frontend/ResourceText.h"
#include "platform/Library.h"

#include <cstdint>

namespace {

constexpr const char* RESOURCE_DLL = "RESDLL.DLL";
// Handles below this value are load failures.
constexpr std::uintptr_t FIRST_VALID_MODULE = 32;

}  // namespace

ResourceLibrary::~ResourceLibrary()
{
    if (m_module != nullptr) {
        SetResourceModule(nullptr);
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
    SetResourceModule(module);
    return true;
}

std::string ResourceLibrary::String(unsigned id) const
{
    return LoadResourceText(m_module, id);
}
