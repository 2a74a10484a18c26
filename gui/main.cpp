#include "gui/CHarrowApp.h"
#include "gui/CMainFrame.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

int g_terminatePipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_terminatePipe[1], &byte, 1);
}

// SIGTERM and SIGINT close the window as its close button does, so a run is
// aborted, the profile written and the exit logged; during a download or a
// format the window closes once it has finished.
void CloseOnTerminate(QApplication& application, CHarrowApp& program)
{
    if (::pipe(g_terminatePipe) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(g_terminatePipe[0], QSocketNotifier::Read, &application);
    QObject::connect(notifier, &QSocketNotifier::activated, &application, [&program] {
        char byte = 0;
        [[maybe_unused]] const ssize_t read = ::read(g_terminatePipe[0], &byte, 1);
        if (program.Frame() != nullptr) {
            program.Frame()->CloseWhenSafe();
        } else {
            QApplication::closeAllWindows();
        }
    });
    std::signal(SIGTERM, OnTerminate);
    std::signal(SIGINT, OnTerminate);
}

// Qt aborts when its default platform finds no display; a user gets one line
// instead. A platform named in QT_QPA_PLATFORM (offscreen, ...) needs none.
bool DisplayReachable()
{
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv)
{
    if (!DisplayReachable()) {
        std::fputs("cannot connect to a display: set DISPLAY or run it under xvfb-run\n", stderr);
        return 1;
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName("Harrow");
    CHarrowApp program;
    CloseOnTerminate(application, program);
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
