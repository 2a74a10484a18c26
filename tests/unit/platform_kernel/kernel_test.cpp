#include "platform/Kernel.h"
#include "support/BoundedWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Kernel, EventsFollowTheirResetMode)
{
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);

    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0) << "a manual-reset event stays signalled";
    ASSERT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT) << "an auto-reset event releases one waiter";

    EXPECT_TRUE(CloseHandle(manual));
    EXPECT_TRUE(CloseHandle(automatic));
    EXPECT_FALSE(CloseHandle(manual));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(manual));
}

TEST(Kernel, SemaphoreCountsAndRefusesOverflow)
{
    HANDLE semaphore = CreateSemaphoreA(nullptr, 1, 2, nullptr);
    ASSERT_NE(semaphore, nullptr);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    LONG previous = -1;
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 2, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, nullptr)) << "count may not pass the maximum";
    EXPECT_EQ(CreateSemaphoreA(nullptr, 3, 2, nullptr), nullptr);
    CloseHandle(semaphore);
}

TEST(Kernel, MutexIsRecursiveAndOwned)
{
    HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);

    std::atomic<DWORD> otherResult{0};
    std::thread other([&] {
        otherResult = WaitForSingleObject(mutex, 0);
        EXPECT_FALSE(ReleaseMutex(mutex)) << "only the owner releases";
    });
    other.join();
    EXPECT_EQ(otherResult.load(), WAIT_TIMEOUT);

    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST(Kernel, ReleasesWakeBlockedWaiters)
{
    // Each waiter blocks without a limit: a lost wake-up ends the program with a message.
    HANDLE mutex = CreateMutexA(nullptr, TRUE, nullptr);
    std::atomic<int> owned{0};
    std::vector<std::thread> waiters;
    for (int t = 0; t < 3; ++t) {
        waiters.emplace_back([&] {
            ASSERT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
            owned.fetch_add(1);
            EXPECT_TRUE(ReleaseMutex(mutex));
        });
    }
    Sleep(20);
    EXPECT_EQ(owned.load(), 0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    test_support::JoinWithin(waiters, "threads waiting for a released mutex");
    EXPECT_EQ(owned.load(), 3);
    CloseHandle(mutex);

    // A semaphore released by its full maximum lets exactly that many through.
    HANDLE semaphore = CreateSemaphoreA(nullptr, 0, 3, nullptr);
    std::atomic<int> passed{0};
    for (int t = 0; t < 3; ++t) {
        waiters.emplace_back([&] {
            ASSERT_EQ(WaitForSingleObject(semaphore, INFINITE), WAIT_OBJECT_0);
            passed.fetch_add(1);
        });
    }
    EXPECT_TRUE(ReleaseSemaphore(semaphore, 3, nullptr));
    test_support::JoinWithin(waiters, "threads waiting for a released semaphore");
    EXPECT_EQ(passed.load(), 3);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
}

TEST(Kernel, WaitAllTakesEveryObjectOrNone)
{
    HANDLE a = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE b = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE both[] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0) << "a failed wait-all consumed nothing";
    SetEvent(a);
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
    CloseHandle(a);
    CloseHandle(b);
}

DWORD Work(LPVOID parameter)
{
    static_cast<std::atomic<int>*>(parameter)->fetch_add(1);
    return 42;
}

TEST(Kernel, SuspendedThreadRunsOnlyAfterResume)
{
    std::atomic<int> runs{0};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Work, &runs, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 10), WAIT_TIMEOUT);
    EXPECT_EQ(runs.load(), 0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, STILL_ACTIVE);

    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    CloseHandle(thread);
}

TEST(Kernel, ManyThreadsCountWithInterlockedOperations)
{
    volatile LONG counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(&counter);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 40000);
    EXPECT_EQ(InterlockedExchange(&counter, 5), 40000);
    EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 4), 5) << "no exchange when the comparand differs";
    EXPECT_EQ(InterlockedCompareExchange(&counter, 9, 5), 5);
    EXPECT_EQ(counter, 9);
}

// Mutex ownership is keyed by these ids: each thread has its own, and a forked
// child's thread is not taken for the parent's.
TEST(Kernel, ThreadIdsAreTheKernelsEvenInAForkedChild)
{
    const DWORD mine = GetCurrentThreadId();
    EXPECT_EQ(mine, static_cast<DWORD>(::gettid()));
    EXPECT_EQ(GetCurrentThreadId(), mine);
    DWORD other = 0;
    std::thread([&] { other = GetCurrentThreadId(); }).join();
    EXPECT_NE(other, mine);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(GetCurrentThreadId() == static_cast<DWORD>(::getpid()) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child reported its parent's thread id";
}

TEST(Kernel, SleepIsScaledAndCountersAdvance)
{
    // ctest runs unit tests with HARROW_TIME_SCALE=0.01.
    EXPECT_EQ(harrow::platform::ScaledMilliseconds(INFINITE), INFINITE);
    LARGE_INTEGER frequency{}, before{}, after{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    EXPECT_EQ(frequency.QuadPart, 10'000'000);
    QueryPerformanceCounter(&before);
    Sleep(1);
    QueryPerformanceCounter(&after);
    EXPECT_GT(after.QuadPart, before.QuadPart);
}

}  // namespace
