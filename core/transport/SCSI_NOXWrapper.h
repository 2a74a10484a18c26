#pragma once

#include "core/transport/CScsiDriver.h"
#include "core/transport/NoxLibrary.h"
#include "platform/Library.h"

#include <mutex>
#include <string>
#include <vector>

// The Nox transport's driver object: loads "NOXCOMM.DLL", keeps its lists of
// adapters and devices and translates its status codes.
class SCSI_NOXWrapper final : public CSharedScsiDriver<SCSI_NOXWrapper> {
public:
    // One adapter the library listed and did not hide.
    struct Adapter_s {
        DWORD AdapterId = 0;
        int InitiatorId = 0;
        BYTE Byte1 = 0;
        BYTE Byte2 = 0;
        DWORD Value1 = 0;
        DWORD Value2 = 0;
        int PortNumber = 0;
        int Buses = 0;
        int TargetsPerBus = 0;
        int BasePath = 0;
        std::string DriverName;
        std::string DeviceName;
    };

    // One device the library listed.
    struct Device_s {
        std::string Name;
        DWORD Handle = 0;
        int PortNumber = -1;
        int Path = 0;
        int Target = 0;
        int Lun = 0;
        BYTE Extra = 0;
    };

    ~SCSI_NOXWrapper() override;

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

    // The library's buffer services, for the Nox buffer manager.
    Error_t BufferGet(unsigned long size, void** address);
    Error_t BufferRelease(void* address);
    Error_t BufferReleaseAll();
    // A negative answer of the library means no statistics: all zero.
    Error_t BufferGetStats(NoxBufferStats_s* stats);

    // The library's status code as an Error_t; -1 for a code it does not know.
    static Error_t Translate(DWORD code);
    // What the library's driver name makes of the listed geometry.
    static void ApplyDriverCorrections(Adapter_s* adapter);

private:
    friend class CSharedScsiDriver<SCSI_NOXWrapper>;

    struct Library_s {
        NoxInitLibrary_t InitLibrary = nullptr;
        NoxHaEnum_t HaEnum = nullptr;
        NoxGetCompletion_t GetCompletion = nullptr;
        NoxExecuteIOCmd_t ExecuteIOCmd = nullptr;
        NoxEnumerate_t Enumerate = nullptr;
        NoxRefresh_t Refresh = nullptr;
        NoxBufferGet_t BufferGet = nullptr;
        NoxBufferRelease_t BufferRelease = nullptr;
        NoxBufferReleaseAll_t BufferReleaseAll = nullptr;
        NoxBufferGetStats_t BufferGetStats = nullptr;
    };

    SCSI_NOXWrapper();

    bool LookUpFunctions();
    void ListAdapters();
    Error_t ListDevices();
    const Adapter_s* FindAdapterByPort(int port) const;
    bool IsReady() const { return m_Module != nullptr && m_Lib.BufferGetStats != nullptr; }

    std::mutex m_Lock;
    HMODULE m_Module = nullptr;
    Library_s m_Lib;
    std::vector<BYTE> m_AdapterList;
    std::vector<Adapter_s> m_Adapters;
    std::vector<Device_s> m_Devices;
};

extern template class CSharedScsiDriver<SCSI_NOXWrapper>;
