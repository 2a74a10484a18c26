#include "platform/SpinLock.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

namespace {

// Unsynchronised read-modify-write of two fields loses updates and tears
// the pair unless the lock really excludes.
TEST(SpinLock, ExcludesAcrossThreadsAndTryLockFailsWhileHeld)
{
    harrow::platform::SpinLock lock;
    ASSERT_TRUE(lock.try_lock());
    EXPECT_FALSE(lock.try_lock());
    lock.unlock();

    constexpr int kThreads = 4;
    constexpr int kRounds = 20000;
    long count = 0;
    long mirror = 0;
    bool torn = false;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                const std::lock_guard hold(lock);
                torn = torn || count != mirror;
                ++count;
                ++mirror;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(count, kThreads * kRounds);
    EXPECT_FALSE(torn);
}

}  // namespace
