#include "frontend/ResourceText.h"

#include "platform/Library.h"

#include <atomic>

namespace {

constexpr int kMaxString = 1024;

std::atomic<HMODULE> g_resourceModule{nullptr};

}  // namespace

std::string LoadResourceText(HMODULE module, unsigned id)
{
    char text[kMaxString];
    const int length = LoadStringA(module, id, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

void SetResourceModule(HMODULE module) { g_resourceModule = module; }

std::string ResourceText(unsigned id) { return LoadResourceText(g_resourceModule, id); }
