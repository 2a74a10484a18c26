#pragma once

#include "core/types/CDevAddress.h"
#include "core/types/Error.h"
#include "platform/Kernel.h"
#include "platform/WinTypes.h"

#include <mutex>
#include <string>

// The adapter-level driver object of one transport, shared by its adapters,
// control blocks and buffer manager.
class CScsiDriver {
public:
    CScsiDriver(const CScsiDriver&) = delete;
    CScsiDriver& operator=(const CScsiDriver&) = delete;

    // Drops one reference; the last one deletes the instance. The new count.
    virtual long Release() = 0;
    virtual Error_t RescanBus(int adapter) = 0;
    // Starts one prepared request; 0 when accepted.
    virtual Error_t Send(HANDLE device, void* request) = 0;
    virtual bool WaitDone(void* request) = 0;
    virtual Error_t GetCompletion(void* request, bool wait) = 0;
    virtual long AdapterCount() = 0;
    virtual Error_t AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString,
                                   std::string* adapterString, long* devsSupported) = 0;
    // Null for transports that address devices inside the request.
    virtual HANDLE GetDeviceHandle(const CDevAddress& address) = 0;
    virtual Error_t Init() = 0;
    virtual Error_t Free() = 0;
    virtual ~CScsiDriver() = default;

protected:
    CScsiDriver() = default;
};

// The acquire/release counting every transport's driver shares: one instance
// per process, made (and initialised by its constructor) on first
// acquisition and deleted at the last release.
template <class Driver>
class CSharedScsiDriver : public CScsiDriver {
public:
    static Driver* Acquire()
    {
        // The lock keeps two first acquisitions from making two instances
        // and an acquisition from racing the last release.
        std::lock_guard guard(s_lock);
        if (s_instance == nullptr) {
            s_instance = new Driver();
        }
        InterlockedIncrement(&s_refs);
        return s_instance;
    }

    long Release() override
    {
        std::lock_guard guard(s_lock);
        if (s_refs == 0) {
            return 0;
        }
        const LONG left = InterlockedDecrement(&s_refs);
        if (left == 0) {
            delete s_instance;
            s_instance = nullptr;
        }
        return left;
    }

    static long References() { return InterlockedExchangeAdd(&s_refs, 0); }

protected:
    CSharedScsiDriver() = default;

private:
    static inline Driver* s_instance = nullptr;
    static inline volatile LONG s_refs = 0;
    static inline std::mutex s_lock;
};
