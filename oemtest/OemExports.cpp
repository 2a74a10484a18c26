// The seven C-linkage exports through which Harrow drives this plug-in.
#include "oemtest/COemParamsPage.h"
#include "oemtest/COemRunPage.h"
#include "oemtest/OemCommands.h"
#include "oemtest/OemTestPlan.h"

#include <QMenu>
#include <QString>

#include <memory>
#include <vector>

#define OEM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::vector<CDevAddress> g_devices;
// The test the program switched to; both of its pages share it.
std::shared_ptr<OemTestPlan> g_plan;

constexpr int kPageParameters = 0;
constexpr int kPageRun = 1;

QMenu* BuildMenu()
{
    auto* menu = new QMenu;
    QMenu* tests = menu->addMenu(QObject::tr("OEM Tests"));
    OemFamily family = OemCommands().front().family;
    for (const OemCommand& command : OemCommands()) {
        if (command.family != family) {
            tests->addSeparator();
            family = command.family;
        }
        QString text = QString::fromUtf8(command.name) + "...";
        tests->addAction(text)->setData(command.id);
    }
    return menu;
}

}  // namespace

OEM_EXPORT QMenu* GetOEMMenu()
{
    // Made once; it stays the plug-in's for as long as the program runs.
    static QMenu* menu = BuildMenu();
    return menu;
}

OEM_EXPORT QString GetOEMMenuName() { return QObject::tr("O&EM Tests"); }

OEM_EXPORT void ClearOEMTestDevs() { g_devices.clear(); }

OEM_EXPORT void AddOEMTestDev(int hostAdapter, int target, int lun, int, int)
{
    // The program hands over plain drives only; channel and RAID target are 255.
    g_devices.emplace_back(hostAdapter, target, lun, -1, -1, -1);
}

OEM_EXPORT void CreateOEMTest(int commandId)
{
    const OemCommand* command = FindOemCommand(commandId);
    g_plan = command != nullptr ? std::make_shared<OemTestPlan>(*command, g_devices) : nullptr;
}

OEM_EXPORT int GetOEMNumPages() { return g_plan != nullptr ? 2 : 0; }

OEM_EXPORT QWidget* GetOEMPage(int index)
{
    if (g_plan == nullptr) {
        return nullptr;
    }
    switch (index) {
    case kPageParameters: return new COemParamsPage(g_plan);
    case kPageRun: return new COemRunPage(g_plan);
    default: return nullptr;
    }
}
