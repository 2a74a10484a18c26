// Waits in tests end: threads that have not finished in time end the test
// program with a message. A thread stuck on a lost lock or wake-up can be
// neither joined nor safely left behind, and a hang would only end at
// ctest's own limit, long after and without a word.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

constexpr std::chrono::seconds kThreadLimit{30};

// Joins and forgets the threads.
inline void JoinWithin(std::vector<std::thread>& threads, const std::string& what,
                       std::chrono::milliseconds limit = kThreadLimit)
{
    std::mutex lock;
    std::condition_variable changed;
    bool finished = false;
    std::thread watchdog([&] {
        std::unique_lock hold(lock);
        if (!changed.wait_for(hold, limit, [&] { return finished; })) {
            std::fprintf(stderr, "FAILED: %s did not finish within %lld ms: a lock or a wake-up was lost\n",
                         what.c_str(), static_cast<long long>(limit.count()));
            std::fflush(stderr);
            std::_Exit(1);
        }
    });
    for (std::thread& thread : threads) {
        thread.join();
    }
    threads.clear();
    {
        std::lock_guard hold(lock);
        finished = true;
    }
    changed.notify_one();
    watchdog.join();
}

// Runs the work on a thread of its own, bounded as above.
template <class Work>
void FinishWithin(const std::string& what, Work work, std::chrono::milliseconds limit = kThreadLimit)
{
    std::vector<std::thread> one;
    one.emplace_back(std::move(work));
    JoinWithin(one, what, limit);
}

}  // namespace test_support
