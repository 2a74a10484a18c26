#pragma once

#include "core/transport/AspiSrb.h"
#include "core/transport/CScsiDriver.h"

#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <tuple>

// The ASPI transport's driver object: holds "WNASPI32.DLL", lists its host
// adapters, sends execute-command blocks with their time-out, and serves the
// ASPI buffer manager from the layer's own buffers.
class CASPIDriver final : public CSharedScsiDriver<CASPIDriver> {
public:
    static constexpr const char* kLibraryName = "WNASPI32.DLL";
    static constexpr unsigned long kInitialBufferLimit = 0x80000;
    // The step-down gives up below this size.
    static constexpr unsigned long kSmallestBuffer = 0x10000;
    static constexpr unsigned long kBufferStep = 1024;

    ~CASPIDriver() override;

    Error_t RescanBus(int adapter) override;
    Error_t Send(HANDLE device, void* request) override;
    bool WaitDone(void* request) override;
    Error_t GetCompletion(void* request, bool wait) override;
    long AdapterCount() override;
    Error_t AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString, std::string* adapterString,
                           long* devsSupported) override;
    HANDLE GetDeviceHandle(const CDevAddress& address) override;
    Error_t Init() override;
    Error_t Free() override;

    // Whether the library and its required entry points are there; the
    // holders call nothing else when they are not.
    bool IsLoaded() const;

    Error_t BufferGet(unsigned long size, void** address);
    Error_t BufferRelease(void* address);
    Error_t BufferReleaseAll();
    // The largest buffer a BufferGet may still ask for.
    unsigned long BufferLimit() const;
    // Bytes of the buffers handed out and not released.
    unsigned long BufferTotal() const;

    // How a finished execute-command block ended.
    static Error_t CompletionStatus(const SRB_ExecSCSICmd& srb);
    // The adapter's largest transfer in bytes (HA_Unique bytes 4-7); 0 when it does not answer.
    unsigned long MaxTransferBytes(int adapter);
    // Targets to probe for the adapter's HA_Unique byte 3.
    static long DevicesSupported(signed char maxTargets);
    // A command's time-out in seconds as ASPI's half seconds.
    static DWORD TimeoutHalfSeconds(DWORD seconds);
    // The set-timeouts block as the last Send left it.
    SRB_GetSetTimeouts LastTimeoutBlock();

private:
    friend class CSharedScsiDriver<CASPIDriver>;

    CASPIDriver();
    bool InquireAdapter(int adapter, SRB_HAInquiry* srb);

    HMODULE m_Library = nullptr;
    SendASPI32Command_t m_Send = nullptr;
    GetASPI32SupportInfo_t m_SupportInfo = nullptr;
    GetASPI32Buffer_t m_GetBuffer = nullptr;
    FreeASPI32Buffer_t m_FreeBuffer = nullptr;

    mutable std::mutex m_BufferLock;
    std::list<ASPI32BUFF> m_Buffers;
    unsigned long m_MaxBuffer = 0;
    unsigned long m_LastAsked = 0;
    unsigned long m_LastGranted = 0;

    // The layer takes a device's time-out from its last setting when a command
    // is sent, and may run the command on the sending thread. So a device's
    // setting changes only while none of its commands is being sent, and
    // commands with the setting in force go out side by side.
    struct TimeoutGate {
        DWORD halfSeconds = 0;
        int sending = 0;
    };
    using DeviceKey = std::tuple<BYTE, BYTE, BYTE>;
    // Waits until the device's time-out is the wanted one, setting it if need be.
    void EnterSend(const DeviceKey& device, DWORD wanted);
    void LeaveSend(const DeviceKey& device);

    std::mutex m_SendLock;
    std::condition_variable m_SendDone;
    std::map<DeviceKey, TimeoutGate> m_Gates;
    SRB_GetSetTimeouts m_TimeoutSrb{};
};

extern template class CSharedScsiDriver<CASPIDriver>;
