#pragma once

#include "frontend/DeviceRecord.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// Puts the calling thread below the window's, so drives that answer at once cannot starve it.
void LowerThreadPriority();

// One drive's test on a thread of its own, on its own copy of the drive's
// record. The window's thread reads the copy's progress fields and sets
// abortRequest; once Finished() says so the copy is the test's whole outcome.
class DriveWorker {
public:
    // The flag is the worker's own abort request, which the routines cannot clear.
    using Test = std::function<void(DeviceRecord&, const std::atomic<bool>& abort)>;

    DriveWorker(const DeviceRecord& record, Test test);
    DriveWorker(const DriveWorker&) = delete;
    DriveWorker& operator=(const DriveWorker&) = delete;
    // Aborts a test still running and waits for its thread.
    ~DriveWorker();

    bool Finished() const { return m_done.load(std::memory_order_acquire); }
    void RequestAbort();
    // Copies the progress; true once per new status text, which it copies with the state.
    bool TakeChange(DeviceRecord& into);
    // The whole record, free of the worker's lock; only once Finished().
    DeviceRecord Outcome() const;

private:
    void Run(const Test& test);

    std::mutex m_statusLock;
    DeviceRecord m_record;
    std::atomic<bool> m_abort{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
