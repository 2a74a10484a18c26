#include "cli/ResourceLibrary.h"

#include "frontend/ResourceText.h"
#include "platform/Library.h"

#include <cstdint>

namespace {

constexpr const char* kResourceDll = "RESDLL.DLL";
// Handles below this value are load failures.
constexpr std::uintptr_t kFirstValidModule = 32;

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
    HMODULE module = LoadLibraryA(kResourceDll);
    if (reinterpret_cast<std::uintptr_t>(module) < kFirstValidModule) {
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
