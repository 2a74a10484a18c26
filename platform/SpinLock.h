// A lock for data held a few instructions at a time (a table lookup, a few
// counter stores): taken while free it costs one atomic exchange instead of
// a call into the threads library; a waiter yields until the holder is done.
// Meets BasicLockable, so std::lock_guard takes it.
#pragma once

#include <atomic>
#include <thread>

namespace harrow::platform {

class SpinLock {
public:
    bool try_lock() { return !m_held.test_and_set(std::memory_order_acquire); }
    void lock()
    {
        while (!try_lock()) {
            std::this_thread::yield();
        }
    }
    void unlock() { m_held.clear(std::memory_order_release); }

private:
    std::atomic_flag m_held = ATOMIC_FLAG_INIT;
};

}  // namespace harrow::platform
