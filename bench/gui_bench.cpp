// The windowed program never freezes: headless (offscreen), on a machine of
// 32 drives, the longest gap between two turns of the event loop stays under
// 100 ms while the program starts and scans, while it rescans, and from the
// click on Start until the drive tests end; and self tests are followed at
// once, so 16 drives take about as long as one. Each case runs with the
// command pause at the product default and at 250 ms, each pause in a
// process of its own (the pause is read once per process).
#include "gui/CDriveSelfTest.h"
#include "gui/CHarrowApp.h"
#include "gui/CHarrowView.h"
#include "gui/CMainFrame.h"
#include "gui/CRescanIdentPg.h"
#include "platform/System.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <ctime>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr double kGapTargetMs = 100.0;
constexpr double kConcurrencyTarget = 1.5;
// Simulated durations and every wait are shortened tenfold; a pause asked for in
// real milliseconds is written as program time.
constexpr double kTimeScale = 0.1;
constexpr int kDstDrives = 16;
constexpr int kLimitMs = 600000;

const char* Verdict(bool met) { return met ? "MET" : "MISSED"; }

std::string Serial(const char* stem, int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%s%05d", stem, number);
    return text;
}

// Eight drives on each of four ports (target 7 is the adapter's own): ports 0
// and 1 with self test, port 2 the maker's without, port 3 of another maker.
std::string MachineJson()
{
    const char* kinds[] = {R"("durations": {"shortSelfTest": 20})", R"("durations": {"shortSelfTest": 20})",
                           R"("product": "KX09LVD", "dst": false)", R"("vendor": "MERIDIAN", "product": "MD3600LW")"};
    std::string ports;
    for (int port = 0; port < 4; ++port) {
        std::string units;
        for (int target : {0, 1, 2, 3, 4, 5, 6, 8}) {
            units += std::string(units.empty() ? "" : ", ") + R"({"target": )" + std::to_string(target) +
                     R"(, "serial": ")" + Serial("BEN", port * 100 + target) + R"(", )" + kinds[port] + "}";
        }
        ports += std::string(ports.empty() ? "" : ", ") + R"({"driver": "aic78xx", "units": [)" + units + "]}";
    }
    return R"({"name": "gui-bench", "ports": [)" + ports + "]}";
}

// pauseMs < 0: no value, the product default.
fs::path MakeHome(long pauseMs)
{
    std::string pattern = (fs::temp_directory_path() / "harrow-gui-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    const fs::path home = pattern;
    std::ofstream registry(home / "registry.reg");
    registry << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
                "\"splash\"=dword:00000000\n";
    if (pauseMs >= 0) {
        char value[64];
        std::snprintf(value, sizeof value, "\"CommandPauseMs\"=dword:%08lx\n",
                      static_cast<unsigned long>(static_cast<double>(pauseMs) / kTimeScale));
        registry << value;
    }
    registry << "\n";
    registry.close();
    std::ofstream(home / "machine.json") << MachineJson();
    setenv("HARROW_REGISTRY", (home / "registry.reg").c_str(), 1);
    setenv("HARROW_STATE", (home / "state").c_str(), 1);
    setenv("HARROW_WINDIR", (home / "windows").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "xdgstate").c_str(), 1);
    setenv("HARROW_MACHINE", (home / "machine.json").c_str(), 1);
    fs::current_path(home);
    return home;
}

// The window thread's own processor time, in nanoseconds.
qint64 ThreadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The longest time between two turns of the event loop since the last Reset,
// and the most processor time the window's thread spent between two turns: on
// a loaded machine the first also holds the time the thread waited for a processor.
class GapMeter {
public:
    GapMeter()
    {
        m_turn.setInterval(0);
        QObject::connect(&m_turn, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_sinceTurn.nsecsElapsed());
            m_longestCpu = std::max(m_longestCpu, ThreadCpuNs() - m_cpuAtTurn);
            m_sinceTurn.restart();
            m_cpuAtTurn = ThreadCpuNs();
        });
        m_sinceTurn.start();
        m_cpuAtTurn = ThreadCpuNs();
        m_turn.start();
    }
    void Reset()
    {
        m_longest = 0;
        m_longestCpu = 0;
        m_sinceTurn.restart();
        m_cpuAtTurn = ThreadCpuNs();
    }
    double LongestMs() const { return static_cast<double>(std::max(m_longest, m_sinceTurn.nsecsElapsed())) / 1e6; }
    double LongestCpuMs() const { return static_cast<double>(m_longestCpu) / 1e6; }

private:
    QTimer m_turn;
    QElapsedTimer m_sinceTurn;
    qint64 m_longest = 0;
    qint64 m_cpuAtTurn = 0;
    qint64 m_longestCpu = 0;
};

// The machine's load, which a gap on a shared machine depends on.
std::string LoadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one;
    file >> one;
    return one + "\n";
}

bool WaitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > kLimitMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void Require(bool done, const char* what)
{
    if (!done) {
        std::fprintf(stderr, "%s did not end in %d s\n", what, kLimitMs / 1000);
        std::exit(2);
    }
}

void Tick(QTreeWidget* tree, const std::function<bool(const QString&)>& wanted)
{
    for (QTreeWidgetItemIterator it(tree); *it != nullptr; ++it) {
        if ((*it)->parent() != nullptr) {
            (*it)->setCheckState(0, wanted((*it)->text(0)) ? Qt::Checked : Qt::Unchecked);
        }
    }
}

// Milliseconds from the click on Start to the end of the run.
double RunTests(CHarrowView* view, QTreeWidget* tree, const std::function<bool(const QString&)>& wanted, int share,
                GapMeter& gaps)
{
    view->GoTo(CHarrowView::PAGE_DEVICES);
    Tick(tree, wanted);
    view->GoTo(CHarrowView::PAGE_DRIVE_TESTS);
    view->DriveTestPage()->findChild<QSpinBox*>("testShare")->setValue(share);
    QElapsedTimer clock;
    clock.start();
    gaps.Reset();
    view->DriveTestPage()->findChild<QPushButton*>("startTest")->click();
    Require(WaitFor([&] { return !view->State().Busy(); }), "the drive tests");
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

int Measure(long pauseMs, int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("HARROW_TIME_SCALE", "0.1", 1);
    const fs::path home = MakeHome(pauseMs);
    const std::string pause = pauseMs < 0 ? "pause at the product default" : "pause 250 ms";
    QApplication application(argc, argv);
    GapMeter gaps;
    bool allMet = true;
    auto report = [&](const std::string& what, double value, double target, const char* unit) {
        const bool met = value < target;
        allMet = allMet && met;
        std::printf("%s, %s: %.1f%s (target < %.1f%s) %s\n", pause.c_str(), what.c_str(), value, unit, target, unit,
                    Verdict(met));
        std::fflush(stdout);
    };
    auto reportGap = [&](const std::string& what) {
        report("longest event-loop gap " + what, gaps.LongestMs(), kGapTargetMs, " ms");
        std::printf("%s, most processor time of the window's thread between two turns %s: %.1f ms; load average %s",
                    pause.c_str(), what.c_str(), gaps.LongestCpuMs(), LoadAverage().c_str());
    };

    QElapsedTimer clock;
    clock.start();
    auto app = std::make_unique<CHarrowApp>();
    if (app->Start() != CHarrowApp::StartResult::Started) {
        std::fprintf(stderr, "Harrow did not start\n");
        return 2;
    }
    // Building the window is not waiting for drives: the gaps count once it is shown.
    std::printf("%s, window built and shown: %.0f ms\n", pause.c_str(), static_cast<double>(clock.nsecsElapsed()) / 1e6);
    gaps.Reset();
    CHarrowView* view = app->Frame()->View();
    QTreeWidget* tree = view->DevicePage()->Tree();
    Require(WaitFor([&] { return tree->topLevelItemCount() > 0; }), "the first scan");
    std::printf("%s, start to drawn tree of 32 drives: %.0f ms\n", pause.c_str(),
                static_cast<double>(clock.nsecsElapsed()) / 1e6);
    reportGap("from the shown window to the tree");

    gaps.Reset();
    view->DevicePage()->findChild<QPushButton*>("rescanButton")->click();
    Require(WaitFor([&] { return !view->State().Busy(); }), "the rescan");
    reportGap("during a rescan of 32 drives");

    harrow::platform::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
    RunTests(view, tree, [](const QString&) { return true; }, 10, gaps);
    reportGap("from the click on Start to the end of 32 drive tests");

    const double one = RunTests(view, tree, [](const QString& line) { return line.startsWith("Disc 0:0:0 "); }, 100, gaps);
    const double many = RunTests(
        view, tree, [](const QString& line) { return line.startsWith("Disc 0:") || line.startsWith("Disc 1:"); }, 100, gaps);
    std::printf("%s, one self test: %.0f ms, %d at once: %.0f ms\n", pause.c_str(), one, kDstDrives, many);
    report(std::to_string(kDstDrives) + " self tests at once against one, time ratio", many / one, kConcurrencyTarget,
           "");

    app.reset();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(home);
    return allMet ? 0 : 1;
}

// Runs this program again for one pause; its exit code.
int RunChild(const char* self, const char* pause)
{
    const pid_t child = fork();
    if (child == 0) {
        execl(self, self, "--pause", pause, static_cast<char*>(nullptr));
        std::perror("execl");
        _exit(2);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--pause") == 0) {
        return Measure(std::strcmp(argv[2], "default") == 0 ? -1 : std::atol(argv[2]), 1, argv);
    }
    const char* self = "/proc/self/exe";
    const int atDefault = RunChild(self, "default");
    const int at250 = RunChild(self, "250");
    return atDefault == 0 && at250 == 0 ? 0 : 1;
}
