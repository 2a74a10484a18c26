#include "platform/Kernel.h"

#include "platform/ObjectName.h"
#include "platform/Waitable.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

namespace harrow::platform {
namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
thread_local DWORD t_threadId = 0;

std::condition_variable& WaitSignal()
{
    static auto* signal = new std::condition_variable;
    return *signal;
}

class Event final : public Waitable {
public:
    Event(bool manualReset, bool signaled) : m_manualReset(manualReset), m_signaled(signaled) {}
    bool IsSignaled(DWORD) const override { return m_signaled; }
    void Acquire(DWORD) override
    {
        if (!m_manualReset) {
            m_signaled = false;
        }
    }
    void Set(bool signaled) { m_signaled = signaled; }

private:
    bool m_manualReset;
    bool m_signaled;
};

class Mutex final : public Waitable {
public:
    bool IsSignaled(DWORD threadId) const override { return m_count == 0 || m_owner == threadId; }
    void Acquire(DWORD threadId) override
    {
        m_owner = threadId;
        ++m_count;
    }
    bool Unlock(DWORD threadId)
    {
        if (m_count == 0 || m_owner != threadId) {
            return false;
        }
        if (--m_count == 0) {
            m_owner = 0;
        }
        return true;
    }

private:
    DWORD m_owner = 0;
    unsigned m_count = 0;
};

class Semaphore final : public Waitable {
public:
    Semaphore(LONG count, LONG maximum, std::unique_ptr<ObjectName> name)
        : m_count(count), m_maximum(maximum), m_name(std::move(name))
    {
    }
    bool IsSignaled(DWORD) const override { return m_count > 0; }
    void Acquire(DWORD) override { --m_count; }
    bool Post(LONG count, LONG* previous)
    {
        if (count <= 0 || count > m_maximum - m_count) {
            return false;
        }
        if (previous != nullptr) {
            *previous = m_count;
        }
        m_count += count;
        return true;
    }

private:
    LONG m_count;
    LONG m_maximum;
    std::unique_ptr<ObjectName> m_name;
};

class Thread final : public Waitable {
public:
    Thread(LPTHREAD_START_ROUTINE start, LPVOID parameter, bool suspended)
        : m_start(start), m_parameter(parameter), m_suspendCount(suspended ? 1 : 0)
    {
    }
    bool IsSignaled(DWORD) const override { return m_finished; }
    void Acquire(DWORD) override {}

    // The running thread holds its own reference until it ends.
    void Launch()
    {
        AddRef();
        std::thread([this] { Run(); }).detach();
    }

    DWORD Resume()
    {
        std::lock_guard guard(WaitLock());
        DWORD previous = m_suspendCount;
        if (m_suspendCount > 0 && --m_suspendCount == 0) {
            NotifyWaiters();
        }
        return previous;
    }

    DWORD Id() const { return m_id; }
    int priority = THREAD_PRIORITY_NORMAL;

    DWORD ExitCode() const
    {
        std::lock_guard guard(WaitLock());
        return m_finished ? m_exitCode : STILL_ACTIVE;
    }

    void WaitForStart()
    {
        std::unique_lock guard(WaitLock());
        WaitSignal().wait(guard, [this] { return m_id != 0; });
    }

private:
    void Run()
    {
        {
            std::unique_lock guard(WaitLock());
            m_id = GetCurrentThreadId();
            NotifyWaiters();
            WaitSignal().wait(guard, [this] { return m_suspendCount == 0; });
        }
        DWORD code = m_start(m_parameter);
        {
            std::lock_guard guard(WaitLock());
            m_exitCode = code;
            m_finished = true;
        }
        NotifyWaiters();
        Release();
    }

    LPTHREAD_START_ROUTINE m_start;
    LPVOID m_parameter;
    DWORD m_suspendCount;
    DWORD m_id = 0;
    DWORD m_exitCode = STILL_ACTIVE;
    bool m_finished = false;
};

template <class T>
class Referenced {
public:
    explicit Referenced(HANDLE handle) : m_object(ReferenceHandleAs<T>(handle))
    {
        if (m_object == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
        }
    }
    Referenced(const Referenced&) = delete;
    Referenced& operator=(const Referenced&) = delete;
    ~Referenced()
    {
        if (m_object != nullptr) {
            m_object->Release();
        }
    }
    T* operator->() const { return m_object; }
    T* get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object;
};

DWORD WaitFor(const std::vector<Waitable*>& objects, bool waitAll, DWORD milliseconds)
{
    const DWORD self = GetCurrentThreadId();
    auto ready = [&]() -> DWORD {
        if (waitAll) {
            for (Waitable* object : objects) {
                if (!object->IsSignaled(self)) {
                    return WAIT_TIMEOUT;
                }
            }
            for (Waitable* object : objects) {
                object->Acquire(self);
            }
            return WAIT_OBJECT_0;
        }
        for (DWORD i = 0; i < objects.size(); ++i) {
            if (objects[i]->IsSignaled(self)) {
                objects[i]->Acquire(self);
                return WAIT_OBJECT_0 + i;
            }
        }
        return WAIT_TIMEOUT;
    };

    std::unique_lock guard(WaitLock());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        DWORD result = ready();
        if (result != WAIT_TIMEOUT) {
            return result;
        }
        if (milliseconds == INFINITE) {
            WaitSignal().wait(guard);
        } else if (WaitSignal().wait_until(guard, deadline) == std::cv_status::timeout) {
            return ready();
        }
    }
}

double ReadTimeScale()
{
    const char* text = std::getenv("HARROW_TIME_SCALE");
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (*end != '\0' || !std::isfinite(value) || value <= 0.0) {
        std::fprintf(stderr, "HARROW_TIME_SCALE=\"%s\" is not a positive number; using 1\n", text);
        return 1.0;
    }
    return value;
}

}  // namespace

std::mutex& WaitLock()
{
    static auto* lock = new std::mutex;
    return *lock;
}

void NotifyWaiters() { WaitSignal().notify_all(); }

double TimeScale()
{
    static const double scale = ReadTimeScale();
    return scale;
}

DWORD ScaledMilliseconds(DWORD milliseconds)
{
    if (milliseconds == INFINITE) {
        return INFINITE;
    }
    double scaled = std::round(milliseconds * TimeScale());
    return scaled >= static_cast<double>(INFINITE) ? INFINITE - 1 : static_cast<DWORD>(scaled);
}

}  // namespace harrow::platform

using namespace harrow::platform;

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

HANDLE CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCSTR)
{
    return MakeHandle(new Event(manualReset != FALSE, initialState != FALSE));
}

static BOOL SetEventState(HANDLE handle, bool signaled)
{
    Referenced<Event> event(handle);
    if (!event) {
        return FALSE;
    }
    {
        std::lock_guard guard(WaitLock());
        event->Set(signaled);
    }
    if (signaled) {
        NotifyWaiters();
    }
    return TRUE;
}

BOOL SetEvent(HANDLE event) { return SetEventState(event, true); }
BOOL ResetEvent(HANDLE event) { return SetEventState(event, false); }

BOOL PulseEvent(HANDLE handle)
{
    // Waiters that are already blocked see the signal only if they run before
    // the reset; like Win32's, this call is unreliable and only kept for callers.
    if (!SetEvent(handle)) {
        return FALSE;
    }
    return ResetEvent(handle);
}

HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCSTR)
{
    auto* mutex = new Mutex;
    if (initialOwner) {
        std::lock_guard guard(WaitLock());
        mutex->Acquire(GetCurrentThreadId());
    }
    return MakeHandle(mutex);
}

BOOL ReleaseMutex(HANDLE handle)
{
    Referenced<Mutex> mutex(handle);
    if (!mutex) {
        return FALSE;
    }
    {
        std::lock_guard guard(WaitLock());
        if (!mutex->Unlock(GetCurrentThreadId())) {
            SetLastError(288);  // ERROR_NOT_OWNER
            return FALSE;
        }
    }
    NotifyWaiters();
    return TRUE;
}

HANDLE CreateSemaphoreA(LPSECURITY_ATTRIBUTES, LONG initialCount, LONG maximumCount, LPCSTR name)
{
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::unique_ptr<ObjectName> claim;
    bool existed = false;
    if (name != nullptr && *name != '\0') {
        claim = ObjectName::Claim(name, &existed);
        if (!claim) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    HANDLE handle = MakeHandle(new Semaphore(initialCount, maximumCount, std::move(claim)));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL ReleaseSemaphore(HANDLE handle, LONG releaseCount, LONG* previousCount)
{
    Referenced<Semaphore> semaphore(handle);
    if (!semaphore) {
        return FALSE;
    }
    {
        std::lock_guard guard(WaitLock());
        if (!semaphore->Post(releaseCount, previousCount)) {
            SetLastError(298);  // ERROR_TOO_MANY_POSTS
            return FALSE;
        }
    }
    NotifyWaiters();
    return TRUE;
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<Waitable*> objects;
    objects.reserve(count);
    DWORD result = WAIT_FAILED;
    bool valid = true;
    for (DWORD i = 0; i < count && valid; ++i) {
        Waitable* object = ReferenceHandleAs<Waitable>(handles[i]);
        valid = object != nullptr;
        if (valid) {
            objects.push_back(object);
        }
    }
    if (valid) {
        result = WaitFor(objects, waitAll != FALSE, milliseconds);
    } else {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    for (Waitable* object : objects) {
        object->Release();
    }
    return result;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}

void InitializeCriticalSection(CRITICAL_SECTION* section) { section->lock = new std::recursive_mutex; }

void DeleteCriticalSection(CRITICAL_SECTION* section)
{
    delete section->lock;
    section->lock = nullptr;
}

void EnterCriticalSection(CRITICAL_SECTION* section) { section->lock->lock(); }
BOOL TryEnterCriticalSection(CRITICAL_SECTION* section) { return section->lock->try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(CRITICAL_SECTION* section) { section->lock->unlock(); }

static std::atomic_ref<LONG> Atomic(volatile LONG* value)
{
    return std::atomic_ref<LONG>(*const_cast<LONG*>(value));
}

LONG InterlockedIncrement(volatile LONG* value) { return Atomic(value).fetch_add(1) + 1; }
LONG InterlockedDecrement(volatile LONG* value) { return Atomic(value).fetch_sub(1) - 1; }
LONG InterlockedExchange(volatile LONG* target, LONG value) { return Atomic(target).exchange(value); }
LONG InterlockedExchangeAdd(volatile LONG* target, LONG value) { return Atomic(target).fetch_add(value); }

LONG InterlockedCompareExchange(volatile LONG* target, LONG exchange, LONG comparand)
{
    Atomic(target).compare_exchange_strong(comparand, exchange);
    return comparand;
}

HANDLE CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD creationFlags, DWORD* threadId)
{
    if (start == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    auto* thread = new Thread(start, parameter, (creationFlags & CREATE_SUSPENDED) != 0);
    HANDLE handle = MakeHandle(thread);
    thread->Launch();
    thread->WaitForStart();
    if (threadId != nullptr) {
        *threadId = thread->Id();
    }
    return handle;
}

DWORD ResumeThread(HANDLE handle)
{
    Referenced<Thread> thread(handle);
    return thread ? thread->Resume() : static_cast<DWORD>(-1);
}

BOOL SetThreadPriority(HANDLE handle, int priority)
{
    // Recorded only: Linux gives ordinary users no real-time priorities.
    Referenced<Thread> thread(handle);
    if (!thread) {
        return FALSE;
    }
    thread->priority = priority;
    return TRUE;
}

int GetThreadPriority(HANDLE handle)
{
    Referenced<Thread> thread(handle);
    return thread ? thread->priority : 0x7FFFFFFF;  // THREAD_PRIORITY_ERROR_RETURN
}

BOOL GetExitCodeThread(HANDLE handle, DWORD* exitCode)
{
    Referenced<Thread> thread(handle);
    if (!thread || exitCode == nullptr) {
        return FALSE;
    }
    *exitCode = thread->ExitCode();
    return TRUE;
}

// Every wait and mutex asks for it: one system call a thread, not one a call.
// A forked child's thread asks the kernel again.
DWORD GetCurrentThreadId()
{
    static const bool resetInChild = [] {
        ::pthread_atfork(nullptr, nullptr, [] { t_threadId = 0; });
        return true;
    }();
    (void)resetInChild;
    if (t_threadId == 0) {
        t_threadId = static_cast<DWORD>(::syscall(SYS_gettid));
    }
    return t_threadId;
}
DWORD GetCurrentProcessId() { return static_cast<DWORD>(::getpid()); }

void Sleep(DWORD milliseconds)
{
    DWORD scaled = ScaledMilliseconds(milliseconds);
    if (scaled == 0) {
        std::this_thread::yield();
    } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(scaled));
    }
}

DWORD GetTickCount()
{
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// 10 MHz, the rate Windows' performance counter commonly runs at.
static constexpr LONGLONG kCounterFrequency = 10'000'000;

// Read around every command: the monotonic clock straight from the vDSO,
// without the library clock's conversions.
BOOL QueryPerformanceCounter(LARGE_INTEGER* count)
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * kCounterFrequency + now.tv_nsec / 100;
    return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency)
{
    frequency->QuadPart = kCounterFrequency;
    return TRUE;
}
