#pragma once

#include "frontend/DeviceRecord.h"

#include <atomic>
#include <thread>

// One host test on a thread of its own, on its own copy of the drive's record.
// The window's thread reads the copy's progress fields and sets abortRequest;
// once Finished() says so the copy is the test's whole outcome.
class HostTestWorker {
public:
    HostTestWorker(const DeviceRecord& record, bool longTest);
    HostTestWorker(const HostTestWorker&) = delete;
    HostTestWorker& operator=(const HostTestWorker&) = delete;
    // Aborts a test still running and waits for its thread.
    ~HostTestWorker();

    bool Finished() const { return m_done.load(std::memory_order_acquire); }
    void RequestAbort();
    // True once when the test has a new status text; copies it with state and percent.
    bool TakeChange(DeviceRecord& into);
    // The whole record; only once Finished().
    const DeviceRecord& Outcome() const { return m_record; }

private:
    void Run(bool longTest);

    DeviceRecord m_record;
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
