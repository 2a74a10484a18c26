#include "gui/OemPlugin.h"

#include "platform/Library.h"

namespace {

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(GetProcAddress(module, name));
    return function != nullptr;
}

}  // namespace

void OemPlugin::Load()
{
    m_module = LoadLibraryA("OEMTest.DLL");
    if (m_module == nullptr) {
        return;
    }
    // Every export is looked up, so an incomplete plug-in is never half used.
    bool all = Resolve(m_module, "GetOEMMenu", getMenu);
    all = Resolve(m_module, "GetOEMMenuName", getMenuName) && all;
    all = Resolve(m_module, "ClearOEMTestDevs", clearDevs) && all;
    all = Resolve(m_module, "AddOEMTestDev", addDev) && all;
    all = Resolve(m_module, "CreateOEMTest", createTest) && all;
    all = Resolve(m_module, "GetOEMNumPages", numPages) && all;
    all = Resolve(m_module, "GetOEMPage", getPage) && all;
    m_found = all;
}
