#pragma once

#include "core/devices/CErrorInfo.h"
#include "core/devices/CPerformanceData.h"
#include "core/devices/DevStatus.h"
#include "core/system/CDevTreeNode.h"
#include "core/system/OsType.h"
#include "core/types/CDevAddress.h"
#include "core/types/Device.h"
#include "core/types/Error.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CHostAdapter;
class SCSIDevice;

enum ThreadMode_t : std::int32_t {
    THREAD_SINGLE = 0,
    THREAD_MULTI = 1,
};

// One channel of a RAID controller found in the device map.
struct RaidChannel_s {
    std::int32_t PortIndex;
    std::int32_t Channel;
    std::int32_t Driver;
};

// The root of the device tree: every host adapter of the machine, their
// targets and logical units. One per process; built and rescanned while no
// test runs, so it has no lock of its own.
class CComputerSystem : public CDevTreeNode {
public:
    static constexpr unsigned long kFlagGui = 0x1;
    static constexpr unsigned long kFlagSilent = 0x2;
    static constexpr unsigned long kTraceLevel = 1024;

    static CComputerSystem* Instance();
    static void Destroy();
    static Error_t RegisterProductRunning(const char* name);
    static Error_t ChangeNOXMemorySize(long size);

    CComputerSystem(const CComputerSystem&) = delete;
    CComputerSystem& operator=(const CComputerSystem&) = delete;

    Error_t Init(Driver_t driver, BufferMgr_t bufferMgr);
    // Throws the first error event of the configuration or an adapter.
    Error_t ScanSystem(Driver_t driver);

    std::string GetScsiIDString() override;
    std::string GetInquiryString() override;
    Device_t GetDevType() override { return DEV_COMPUTER; }
    bool IsTarget() override { return false; }
    CDevTreeIterator* GetChildrenIterator() override;

    long NumHostAdapters() const { return static_cast<long>(m_HostAdapters.size()); }
    long GetNumHAs() const { return m_NumHAs; }
    long GetNumRAIDChannels() const { return m_NumRAIDChannels; }
    CHostAdapter* GetHostAdapter(int n) const;
    SCSIDevice* GetSCSIDevice(const CDevAddress& address) const;
    SCSIDevice* GetSCSIDevice(int ha, int target, int lun) const;
    // A drive behind a channel of the MegaRAID controller at port controllerPort.
    SCSIDevice* GetChannelDevice(int controllerPort, int channel, int target, int lun) const;
    // Takes ownership.
    Error_t AddHostAdapter(CHostAdapter* adapter);
    void ReloadDeviceHandles();

    bool SetThreadMode(ThreadMode_t mode);
    ThreadMode_t GetThreadMode() const { return m_ThreadMode; }
    void SetSilent(bool on) { SetFlag(kFlagSilent, on); }
    unsigned long IsSilent() const { return m_Flags & kFlagSilent; }
    void SetGui(bool on) { SetFlag(kFlagGui, on); }
    unsigned long IsGui() const { return m_Flags & kFlagGui; }
    void SetTestActive(bool on) { m_bTestActive = on; }
    bool IsTestActive() const { return m_bTestActive; }
    void SetSysPerfAlarms(const PerfAlarm_struct& alarms) { m_PerfAlarms = alarms; }
    PerfAlarm_struct GetSysPerfAlarms() const { return m_PerfAlarms; }
    void SetSysErrorAlarms(const ErrorAlarm_struct& alarms) { m_ErrorAlarms = alarms; }
    ErrorAlarm_struct GetSysErrorAlarms() const { return m_ErrorAlarms; }
    void SetRandSeed(long seed) { m_RandSeed = seed; }
    long GetRandSeed() const { return m_RandSeed; }
    void SetFibreModule(bool on) { m_bFibreModule = on; }
    bool HasFibreModule() const { return m_bFibreModule; }
    bool SetMultiModule(bool on)
    {
        m_bMultiModule = on;
        return true;
    }
    bool HasMultiModule() const { return m_bMultiModule; }
    OsType_t GetOSVersion() const { return m_OsType; }
    DevStatus_t GetStatus() const { return m_Status; }
    void SetStatus(DevStatus_t status) { m_Status = status; }
    std::string GetStatusDesc() const { return m_StatusDesc; }
    void SetStatusDesc(std::string text) { m_StatusDesc = std::move(text); }

protected:
    Error_t InitializeHADriverTypes(Driver_t requested);
    Error_t GetHAList(long& total, long& raidChannels, Driver_t requested);
    Error_t SetupBufferMgr(BufferMgr_t requested);
    Driver_t GetDriverType(char* driverName);
    BufferMgr_t GetBufMgrType();

private:
    void SetUpAndScan(Driver_t driver, BufferMgr_t bufferMgr);
    static bool IsMissingConfiguration(Error_t code);
    void AllowInitAgain();
    friend class ComputerSystemInspector;  // the unit tests' window on the protected steps

    CComputerSystem();
    ~CComputerSystem() override;

    void SetFlag(unsigned long flag, bool on);
    void DeleteHostAdapters();
    void ListWin9xAdapters();
    void CreateAdapters();
    // Adds the adapter, asks it who it is and probes its targets.
    void StartAdapter(CHostAdapter* adapter);

    static CComputerSystem* _instance;
    static std::string m_ProductRunning;

    std::vector<RaidChannel_s> m_RaidChannels;
    std::vector<Driver_t> m_HADriverTypes;
    OsType_t m_OsType;
    DevStatus_t m_Status = DEV_STATUS_INITIALIZING;
    std::string m_StatusDesc = "Initialization";
    PerfAlarm_struct m_PerfAlarms{PerfAlarmOff, 0.0F, PerfAlarmOff, 0.0F};
    ErrorAlarm_struct m_ErrorAlarms{-1, -1};
    std::atomic<bool> m_bTestActive{false};  // tests run on threads of their own
    unsigned long m_Flags = 0;
    long m_RandSeed = 0;
    std::vector<CHostAdapter*> m_HostAdapters;
    long m_NumHAs = 0;
    long m_NumRAIDChannels = 0;
    bool m_bInitialized = false;
    bool m_bBufferMgrRegistered = false;
    ThreadMode_t m_ThreadMode = THREAD_SINGLE;
    bool m_bMultiModule = false;
    bool m_bFibreModule = false;
};
