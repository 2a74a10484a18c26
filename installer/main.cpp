// OrbInst: installs the ASPI layer placed beside it on a Windows 9x machine.
#include "installer/COrbInstaller.h"
#include "installer/QtInstallerDialogs.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const bool pressForUser = argc == 2 && std::strcmp(argv[1], "--yes") == 0;
    if (argc > 1 && !pressForUser) {
        std::fprintf(stderr, "usage: OrbInst [--yes]\n");
        return 2;
    }
    // Nobody looks at the dialogs of a scripted run, so no display is needed.
    if (pressForUser) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    if (!pressForUser) {
        UseQtMessageBoxes();
    }
    QtInstallerDialogs dialogs(pressForUser);
    return COrbInstaller(dialogs).Run();
}
