// A small "OEMTest.DLL" for the GUI tests: a menu with two commands and two
// pages that list the devices handed over. HARROW_TEST_OEM_NAME overrides
// the menu name (empty: no menu).
#include <QLabel>
#include <QMenu>
#include <QString>
#include <QStringList>

#include <cstdlib>

namespace {

QStringList g_devices;
int g_command = 0;

}  // namespace

extern "C" {

QMenu* GetOEMMenu()
{
    static QMenu* bar = [] {
        auto* menu = new QMenu;
        QMenu* popup = menu->addMenu("OEM");
        popup->addAction("Burn-in Test")->setData(50000);
        popup->addAction("Surface Scan")->setData(50001);
        return menu;
    }();
    return bar;
}

QString GetOEMMenuName()
{
    const char* name = std::getenv("HARROW_TEST_OEM_NAME");
    return name != nullptr ? QString::fromUtf8(name) : QString("&Kestrel OEM");
}

void ClearOEMTestDevs() { g_devices.clear(); }

void AddOEMTestDev(int hostAdapter, int target, int lun, int channel, int raidTarget)
{
    g_devices << QString("%1:%2:%3/%4/%5").arg(hostAdapter).arg(target).arg(lun).arg(channel).arg(raidTarget);
}

void CreateOEMTest(int commandId) { g_command = commandId; }

int GetOEMNumPages() { return 2; }

QWidget* GetOEMPage(int index)
{
    auto* page = new QLabel(QString("Command %1 page %2: %3").arg(g_command).arg(index).arg(g_devices.join(' ')));
    page->setObjectName(QString("oemPage%1").arg(index));
    page->setWindowTitle(QString("OEM Page %1").arg(index));
    return page;
}
}
