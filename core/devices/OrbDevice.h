#pragma once

#include "core/devices/CErrorInfo.h"
#include "core/devices/CPerformanceData.h"
#include "core/devices/DevStatus.h"
#include "core/system/CDevTreeNode.h"
#include "core/types/Device.h"

#include <cstdint>
#include <memory>
#include <string>

class CHostAdapter;

// The identity and per-device state of one logical unit, with its error and
// performance accounting. Copies share the accounting objects; the last
// owner deletes them.
class OrbDevice : public CDevTreeNode {
public:
    static constexpr unsigned long FLAG_IN_TEST = 0x1;
    static constexpr unsigned long FLAG_IN_SCRIPT = 0x2;
    static constexpr unsigned long FLAG_LOG_ENABLED = 0x4;
    static constexpr unsigned long FLAG_SILENT = 0x8;

    OrbDevice(const OrbDevice& other) = default;
    OrbDevice& operator=(const OrbDevice& other) = default;
    ~OrbDevice() override;

    std::string GetScsiIDString() override;
    std::string GetInquiryString() override;
    Device_t GetDevType() override { return m_DevType; }
    bool IsTarget() override { return false; }
    CDevTreeIterator* GetChildrenIterator() override;
    virtual void SetBlockLength(unsigned long length) { m_BlockLength = static_cast<std::uint32_t>(length); }

    bool AllocateResource();

    CHostAdapter* GetHostAdapter() const { return m_pHostAdapter; }
    unsigned long GetTestState() const { return m_TestState; }
    void SetTestState(unsigned long state) { m_TestState = static_cast<std::uint32_t>(state); }

    void SetInTest(bool on) { SetFlag(FLAG_IN_TEST, on); }
    unsigned long IsInTest() const { return m_Flags & FLAG_IN_TEST; }
    void SetInScript(bool on) { SetFlag(FLAG_IN_SCRIPT, on); }
    unsigned long IsInScript() const { return m_Flags & FLAG_IN_SCRIPT; }
    void SetLogEnabled(bool on) { SetFlag(FLAG_LOG_ENABLED, on); }
    unsigned long IsLogEnabled() const { return m_Flags & FLAG_LOG_ENABLED; }
    // The whole previous flags word, for SetLogState to restore.
    unsigned long SetSilent(bool on);
    unsigned long IsSilent() const;
    void SetLogState(unsigned long flags) { m_Flags = static_cast<std::uint32_t>(flags); }
    unsigned long GetLogState() const { return m_Flags; }

    unsigned long GetBlockLength() const { return m_BlockLength; }
    long GetBlocksCapacity() const { return m_BlocksCapacity; }
    void SetBlocksCapacity(long blocks) { m_BlocksCapacity = blocks; }
    unsigned long GetLowBlock() const { return m_LowBlock; }
    void SetLowBlock(unsigned long block) { m_LowBlock = block; }
    unsigned long GetHighBlock() const { return m_HighBlock; }
    void SetHighBlock(unsigned long block) { m_HighBlock = block; }
    long BlocksToKBytes(long blocks) const;
    // The largest transfer the device's adapter carries in one command, in bytes; 0 when unknown.
    unsigned long GetMaxTransferBytes() const;

    Interface_t GetInterfaceType() const { return m_InterfaceType; }
    void SetInterfaceType(Interface_t type) { m_InterfaceType = type; }
    DevStatus_t GetDevStatus() const { return m_DevStatus; }
    void SetDevStatus(DevStatus_t status) { m_DevStatus = status; }
    void SetDevType(Device_t type) { m_DevType = type; }

    int GetHANum() const { return m_HANum; }
    int GetTargetNum() const { return m_TargetNum; }
    unsigned long GetLUNNum() const { return m_Lun; }

    bool IsInLibrary() const { return m_bPartOfLibrary; }
    void SetPartOfLib(bool part) { m_bPartOfLibrary = part; }
    std::string GetLibraryName() const { return m_LibraryName; }
    void SetLibraryName(std::string name) { m_LibraryName = std::move(name); }
    std::string GetFirmwareVersion() const { return m_FirmwareVersion; }
    void SetFirmwareVersion(std::string version) { m_FirmwareVersion = std::move(version); }
    std::string GetVendor() const { return m_Vendor; }
    void SetVendor(std::string vendor) { m_Vendor = std::move(vendor); }
    std::string GetModelName() const { return m_ModelName; }
    void SetModelName(std::string model) { m_ModelName = std::move(model); }
    std::string GetSerialNum_Str() const { return m_SerialNumber; }
    void SetSerialNum_Str(std::string serial) { m_SerialNumber = std::move(serial); }
    std::string GetUserString1() const { return m_UserString1; }
    void SetUserString1(std::string text) { m_UserString1 = std::move(text); }
    std::string GetUserString2() const { return m_UserString2; }
    void SetUserString2(std::string text) { m_UserString2 = std::move(text); }
    std::string GetStatusDesc() const { return m_StatusDesc; }
    void SetStatusDesc(std::string text) { m_StatusDesc = std::move(text); }
    std::string GetCopyright() const { return m_Copyright; }
    void SetCopyright(std::string text) { m_Copyright = std::move(text); }

    void LockDev() { m_bLocked = true; }
    void UnlockDev() { m_bLocked = false; }
    bool IsDevLocked() const { return m_bLocked; }

    CErrorInfo* GetErrorInfo() const { return m_pErrorInfo.get(); }
    CPerformanceData* GetPerformance() const { return m_pPerformance.get(); }

    // Without AllocateResource these count nothing and never trip.
    void IncSoftErrors();
    void IncHardErrors();
    void SetSoftErrorAlarm(long limit);
    void SetHardErrorAlarm(long limit);
    bool SoftErrorAlarmTripped() const;
    bool HardErrorAlarmTripped() const;
    void SetReadPerfAlarm(float threshold, PerfAlarm_t kind);
    void SetWritePerfAlarm(float threshold, PerfAlarm_t kind);
    bool ReadPerformanceAlarmTripped() const;
    bool WritePerformanceAlarmTripped() const;

protected:
    OrbDevice();
    // The scan places the device on its adapter.
    void SetAddress(CHostAdapter* adapter, int adapterNumber, int targetNumber, unsigned long lun);

    void _InitCritSects();
    void _DeleteCritSects();

private:
    void SetFlag(unsigned long flag, bool on);
    bool OwnsAccountingAlone() const;

    CHostAdapter* m_pHostAdapter = nullptr;
    bool m_bCritSectsReady = false;
    std::uint32_t m_TestState = 0;
    std::uint32_t m_Spare = 0;
    std::uint32_t m_Flags = 0;
    std::uint32_t m_BlockLength = 0;
    // 64-bit: drives of 2 TiB and more have more blocks than 32 bits count.
    std::int64_t m_BlocksCapacity = 0;
    std::uint64_t m_LowBlock = 0;
    std::uint64_t m_HighBlock = 0;
    Interface_t m_InterfaceType = IF_SCSI;
    DevStatus_t m_DevStatus = DEV_STATUS_INITIALIZING;
    Device_t m_DevType = DEV_UNKNOWN;
    std::string m_FirmwareVersion;
    int m_HANum = -1;
    int m_TargetNum = -1;
    std::uint32_t m_Lun = 0xFFFFFFFF;
    bool m_bPartOfLibrary = false;
    std::string m_LibraryName;
    std::string m_Vendor;
    std::string m_ModelName;
    std::string m_SerialNumber;
    std::string m_UserString1;
    std::string m_UserString2;
    std::string m_StatusDesc = "Initialization";
    bool m_bSpareFlag = false;
    bool m_bLocked = false;
    std::shared_ptr<CErrorInfo> m_pErrorInfo;
    std::shared_ptr<CPerformanceData> m_pPerformance;
    std::string m_Copyright;
};
