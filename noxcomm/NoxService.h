// The inner working of our Nox interface library: it learns the ports the Nox
// class driver serves from "\\.\NOXCLASS", lists their units from each port's
// bus list and runs requests on worker threads through the port's
// pass-through, so that a request completes while its caller goes on.
#pragma once

#include "core/transport/NoxLibrary.h"
#include "machine/NoxClassDevice.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

class NoxService {
public:
    static NoxService& Instance();

    DWORD Init();
    DWORD Term();
    DWORD HaEnum(void* buffer, DWORD* size);
    DWORD Refresh(DWORD adapterId);
    DWORD Enumerate(void* buffer, DWORD* size);
    DWORD Execute(DWORD handle, NoxRequest_s* request);
    DWORD Completion(NoxRequest_s* request, bool wait);
    DWORD BufferGet(DWORD size, void** address);
    DWORD BufferRelease(void* address);
    DWORD BufferReleaseAll();
    LONG BufferGetStats(NoxBufferStats_s* stats);

private:
    struct Adapter_s {
        DWORD Id;
        harrow::machine::NoxPortEntry Port;
        HANDLE Device;  // "\\.\SCSIn:"
    };
    struct Device_s {
        NoxDeviceEntry_s Entry;
        HANDLE Port;  // null for the pseudo device
    };
    struct Job_s {
        NoxRequest_s* Request;
        Device_s Device;
    };
    using Address = std::tuple<DWORD, BYTE, BYTE, BYTE>;  // adapter, path, target, LUN

    NoxService() = default;
    // A program that ends without terminating the library still stops its workers.
    ~NoxService() { Term(); }

    void ListUnits(const Adapter_s& adapter);
    DWORD HandleFor(const Address& address);
    void Work();
    void Run(const Job_s& job);
    void CloseAll();
    DWORD PoolBytes() const;

    std::mutex m_Lock;
    std::condition_variable m_WorkQueued;
    std::condition_variable m_Changed;  // a request completed
    bool m_bReady = false;
    bool m_bStopping = false;
    std::vector<Adapter_s> m_Adapters;
    std::vector<Device_s> m_Devices;
    std::map<Address, DWORD> m_Handles;  // stable across relistings
    std::deque<Job_s> m_Queue;
    std::map<NoxRequest_s*, bool> m_Done;  // every request started, whether it completed
    std::vector<std::thread> m_Workers;
    std::map<void*, DWORD> m_Buffers;
    DWORD m_BufferBytes = 0;
};
