#pragma once

#include "core/types/CDevAddress.h"
#include "core/types/Error.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CTestBase;
class SCSIDevice;

// What the run page shows of one drive.
struct OemDeviceFigures {
    int percent = 0;
    // Over the last interval, and over the whole run.
    double megabytesPerSecond = 0;
    double commandsPerSecond = 0;
    double averageMegabytesPerSecond = 0;
    double averageCommandsPerSecond = 0;
    // The engine's test state: 1 running, 2 passed, 3 aborted, 4 failed.
    unsigned long state = 0;
};

// How a drive's own progress is told from the blocks it moved.
struct OemProgressBasis {
    enum Kind {
        // Moves no data, or runs for a time: the test's own progress.
        TestProgress,
        // Sequential: the test's progress range counts the blocks each drive moves.
        RangeBlocks,
        // Counted random commands: each drive moves countedBlocks in all.
        CountedBlocks,
    };
    Kind kind = TestProgress;
    long long countedBlocks = 0;
    long blocksPerXfer = 1;
};

// One event taken from the test's error queue.
struct OemEvent {
    CDevAddress address;
    std::string text;
};

// Runs one engine test on a thread of its own and gives the window thread
// what it polls: events, per-drive figures and the end. Destroying a run
// that has not ended cancels it and waits for its threads.
class OemRun {
public:
    OemRun(std::unique_ptr<CTestBase> test, std::vector<SCSIDevice*> devices, const OemProgressBasis& basis);
    OemRun(const OemRun&) = delete;
    OemRun& operator=(const OemRun&) = delete;
    ~OemRun();

    void Start();
    void Cancel();
    bool Cancelled() const { return m_cancelled; }
    // True once RunTest returned; the thread is then joined.
    bool Finished();
    Error_t Result() const { return m_result; }

    std::vector<OemEvent> TakeEvents();
    // Rates over the time since the last call, and over the run so far.
    std::vector<OemDeviceFigures> Sample(double seconds, double runSeconds);

private:
    int TestPercent();
    int DevicePercent(long long blocks, int testPercent);
    void Rates(SCSIDevice* device, long long blocks, double seconds, double& megabytes, double& commands) const;

    std::unique_ptr<CTestBase> m_test;
    std::vector<SCSIDevice*> m_devices;
    std::vector<long long> m_lastBlocks;
    std::vector<int> m_lastPercent;
    OemProgressBasis m_basis;
    std::thread m_thread;
    std::atomic<bool> m_done{false};
    bool m_cancelled = false;
    Error_t m_result = ERR_NONE;
};
