#include "gui/CHarrowApp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QApplication::setApplicationName("Harrow");
    CHarrowApp program;
    switch (program.Start()) {
    case CHarrowApp::StartResult::SecondInstance:
        return 0;
    case CHarrowApp::StartResult::Failed:
        return 1;
    case CHarrowApp::StartResult::Started:
        break;
    }
    return QApplication::exec();
}
