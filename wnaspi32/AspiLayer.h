// Our ASPI for Win32 layer: every SCSI port of the machine is one host
// adapter. An execute-command block is pending until it is finished; a busy
// adapter's blocks run on worker threads, so they overlap.
#pragma once

#include "core/transport/AspiSrb.h"
#include "platform/WinTypes.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

class AspiLayer {
public:
    // The largest buffer GetASPI32Buffer hands out unless the machine says less.
    static constexpr DWORD kDefaultBufferLimit = 0x80000;
    // Time-out of a device nobody set one for, in half seconds.
    static constexpr DWORD kDefaultTimeout = 60;

    explicit AspiLayer(DWORD bufferLimit);
    ~AspiLayer();
    AspiLayer(const AspiLayer&) = delete;
    AspiLayer& operator=(const AspiLayer&) = delete;

    DWORD SupportInfo();
    DWORD Send(void* srb);
    BOOL GetBuffer(ASPI32BUFF* buffer);
    BOOL FreeBuffer(ASPI32BUFF* buffer);

private:
    struct Port {
        HANDLE Handle = nullptr;
        int Buses = 0;
        int TargetsPerBus = 16;
        BYTE InitiatorId = 7;
        DWORD MaxTransfer = 0;
        std::string Identifier;
        // Peripheral type of each unit the port lists, by (path, target, LUN).
        std::map<std::tuple<int, int, int>, BYTE> Units;
    };
    // What a command needs of its port, taken when it is accepted.
    struct Job {
        SRB_ExecSCSICmd* Srb;
        HANDLE Handle;
        int TargetsPerBus;
        DWORD TimeoutHalfSeconds;
    };
    using DeviceKey = std::tuple<BYTE, BYTE, BYTE>;

    void FindPorts();
    static bool ReadPort(int number, HANDLE handle, Port* port);
    Port* PortFor(BYTE haId);

    DWORD HostAdapterInquiry(SRB_HAInquiry* srb);
    DWORD DeviceType(SRB_GDEVBlock* srb);
    DWORD Execute(SRB_ExecSCSICmd* srb);
    DWORD Abort(SRB_Abort* srb);
    DWORD ResetDevice(SRB_BusDeviceReset* srb);
    DWORD Rescan(SRB_RescanPort* srb);
    DWORD Timeouts(SRB_GetSetTimeouts* srb);
    // With m_PortLock held.
    DWORD TimeoutFor(BYTE haId, BYTE target, BYTE lun) const;

    void StartWorkers();
    void Work();
    // False when the layer is going away.
    bool TakeJob(Job* job);
    void Run(const Job& job);
    void RunCounted(const Job& job);
    static void Finish(SRB_ExecSCSICmd* srb, BYTE haStatus, BYTE status);

    // Guards the ports and the time-outs.
    std::mutex m_PortLock;
    std::vector<Port> m_Ports;
    std::map<DeviceKey, DWORD> m_Timeouts;

    std::mutex m_QueueLock;
    std::condition_variable m_QueueReady;
    std::deque<Job> m_Queue;
    std::vector<std::thread> m_Workers;
    bool m_Stopping = false;
    int m_Sleeping = 0;
    // Commands under way per adapter, queued ones not counted.
    std::unique_ptr<std::atomic<int>[]> m_Running;
    // Jobs in the queue, read by lingering workers without the lock.
    std::atomic<int> m_Queued{0};

    std::mutex m_BufferLock;
    std::set<BYTE*> m_Buffers;
    DWORD m_BufferLimit;
};
