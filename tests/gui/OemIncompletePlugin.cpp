// An "OEMTest.DLL" that lacks GetOEMPage: the program must ignore it.
#include <QMenu>
#include <QString>

extern "C" {

QMenu* GetOEMMenu()
{
    static QMenu* bar = [] {
        auto* menu = new QMenu;
        menu->addMenu("OEM")->addAction("Burn-in Test")->setData(50000);
        return menu;
    }();
    return bar;
}

QString GetOEMMenuName() { return "&Kestrel OEM"; }
void ClearOEMTestDevs() {}
void AddOEMTestDev(int, int, int, int, int) {}
void CreateOEMTest(int) {}
int GetOEMNumPages() { return 0; }
}
