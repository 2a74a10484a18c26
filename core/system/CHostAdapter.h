#pragma once

#include "core/devices/CPerformanceData.h"
#include "core/system/CDevTreeNode.h"
#include "core/types/CDevAddress.h"
#include "core/types/Device.h"
#include "core/types/Error.h"

#include <map>
#include <string>

class CScsiDriver;
class CScsiIoCtl;
class CTarget;

// One host adapter and the targets found on it. Each transport derives one
// class that makes that transport's control blocks.
class CHostAdapter : public CDevTreeNode {
public:
    static constexpr unsigned long kTraceLevel = 2048;
    static constexpr int kNoTargetId = -1;

    explicit CHostAdapter(int adapterNumber);
    // A copy would own the same targets twice.
    CHostAdapter(const CHostAdapter&) = delete;
    CHostAdapter& operator=(const CHostAdapter&) = delete;
    ~CHostAdapter() override;

    std::string GetScsiIDString() override;
    std::string GetInquiryString() override { return m_HAString; }
    Device_t GetDevType() override { return DEV_HOST_ADAPTER; }
    bool IsTarget() override { return false; }
    CDevTreeIterator* GetChildrenIterator() override;

    // Takes ownership; a target already held under that number is deleted.
    virtual Error_t AddTarget(CTarget* target);
    virtual int GetAssignedID() { return m_AssignedID; }
    // Asks the transport who the adapter is and how many IDs to probe.
    virtual Error_t Inquiry();
    // A new control block for the device at address, with its index within the device.
    virtual CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) = 0;
    // Replaces every target with those that answer now.
    virtual Error_t Rescan() = 0;
    // False only where the transport already knows that nothing answers, so
    // the scan need not build a device to ask.
    virtual bool MayAnswer(int /*target*/, unsigned long /*lun*/) { return true; }
    // The largest transfer the adapter carries in one command, in bytes; 0: its transport does not say.
    virtual unsigned long GetMaxTransferBytes() { return 0; }

    // Probes every target ID but the adapter's own; ERR_INIT_FAILED when none answered.
    Error_t Init();
    CTarget* GetTarget(int target) const;
    long GetTargetCount() const { return static_cast<long>(m_Targets.size()); }
    void RemoveAllTargets();
    void RefreshHandles();

    std::string GetVendor() const { return m_Vendor; }
    std::string GetModelName() const { return m_ModelName; }
    long GetDevsSupported() const { return m_DevsSupported; }
    void SetDevsSupported(long count) { m_DevsSupported = count; }
    void LockHa() { m_bLocked = true; }
    void UnlockHa() { m_bLocked = false; }
    bool IsHaLocked() const { return m_bLocked; }
    CPerformanceData* GetPerformanceData() { return &m_Performance; }
    void SetPerformanceData(const CPerformanceData& data) { m_Performance = data; }
    Interface_t GetType() const { return m_Type; }
    // Parallel SCSI probes 16 IDs, Fibre Channel 128.
    void SetType(Interface_t type);
    bool IsFibre() const { return m_Type == IF_FIBRE; }
    bool IsATAPI() const { return m_bATAPI; }
    int GetHATargetNum() const { return m_HATargetNum; }
    std::string GetHAString() const { return m_HAString; }
    std::string GetASPIString() const { return m_ASPIString; }

protected:
    // Takes one reference of the transport's driver object, released by the destructor.
    void SetDriver(CScsiDriver* driver) { m_pDriver = driver; }
    CScsiDriver* GetDriver() const { return m_pDriver; }
    Error_t RescanCommon();

    void SetModelName(std::string name) { m_ModelName = std::move(name); }
    void SetAssignedID(int id) { m_AssignedID = id; }
    void SetATAPIInvalid() { m_bATAPI = true; }
    void SetHATargetNum(int id) { m_HATargetNum = id; }
    void SetHAString(std::string text) { m_HAString = std::move(text); }
    void SetASPIString(std::string text) { m_ASPIString = std::move(text); }
    // What the transport reported, the strings cut to 16 characters; ATAPI
    // managers get 8 IDs whatever they reported.
    void ApplyInquiry(int targetId, std::string manager, std::string adapter, long devsSupported, bool atapiBranch);

private:
    CScsiDriver* m_pDriver = nullptr;
    std::string m_Vendor;
    std::string m_ModelName = " ";
    long m_DevsSupported = 0;
    int m_AssignedID;
    bool m_bLocked = false;
    CPerformanceData m_Performance;
    Interface_t m_Type = IF_SCSI;
    bool m_bATAPI = false;
    int m_HATargetNum = kNoTargetId;
    std::string m_HAString = " ";
    std::string m_ASPIString = " ";
    std::map<int, CTarget*> m_Targets;
};
