// Objects WaitForSingleObject/WaitForMultipleObjects can wait on. All state
// changes happen under one process-wide lock so that a wait for several
// objects at once can take them all atomically.
#pragma once

#include "platform/Handle.h"

#include <condition_variable>
#include <mutex>

namespace harrow::platform {

class Waitable : public KernelObject {
public:
    // Both are called with WaitLock() held.
    virtual bool IsSignaled(DWORD threadId) const = 0;
    // Takes the object for threadId once it is signalled (auto-reset events
    // reset, semaphores count down, mutexes gain an owner).
    virtual void Acquire(DWORD threadId) = 0;
};

std::mutex& WaitLock();
// Wakes every waiter after a state change made under WaitLock(); called after
// the lock is let go, so a woken waiter does not block on it at once.
void NotifyWaiters();

}  // namespace harrow::platform
