#pragma once

#include "core/system/CDevTreeNode.h"
#include "core/types/Error.h"

#include <cstddef>
#include <list>
#include <string>
#include <utility>
#include <vector>

class CGenericDevice;
class CHostAdapter;
class SCSIDevice;

// One target ID of an adapter and the logical units that answered on it.
class CTarget : public CDevTreeNode {
public:
    CTarget(int adapterNumber, int targetNumber);
    CTarget(const CTarget&) = delete;
    CTarget& operator=(const CTarget&) = delete;
    ~CTarget() override;

    std::string GetScsiIDString() override;
    std::string GetInquiryString() override { return " "; }
    Device_t GetDevType() override { return DEV_TARGET; }
    bool IsTarget() override { return true; }
    CDevTreeIterator* GetChildrenIterator() override;
    virtual int GetTargetNum() const { return m_TargetNumber; }

    // Probes every LUN below the LUN limit; ERR_INIT_FAILED when none answered.
    Error_t Init(CHostAdapter* adapter);
    // Takes ownership; a device already held under its LUN is deleted.
    Error_t AddSCSIDevice(SCSIDevice* device);
    SCSIDevice* GetSCSIDevice(int lun) const;
    // One device per call in iterator order, starting again after the last.
    SCSIDevice* GetNextDevice();
    long GetNumLUNs() const { return static_cast<long>(m_Luns.size()); }
    void RefreshHandles();
    void SetTargetNum(int number) { m_TargetNumber = number; }
    int GetAdapterNum() const { return m_AdapterNumber; }

    // n <= 0 restores 8 and returns false. The limit bounds the blind probe
    // of LUNs 0 to n-1; a limit set here also bounds the LUNs taken from
    // REPORT LUNS, which otherwise reach kReportedLuns.
    static bool SetMaxLuns(long n);
    static long GetMaxLuns() { return MAX_LUNS; }
    // A port addresses LUNs with one byte.
    static constexpr long kReportedLuns = 256;

    // Most recently added first.
    using LunList = std::list<std::pair<int, SCSIDevice*>>;

private:
    // A LUN that answered the Mylex external inquiry: the controller and the drives behind it.
    void AddMylexController(CGenericDevice& probe, CHostAdapter* adapter);
    // Probes one LUN and adds its device; true when the LUN is held. The
    // LUNs the target reports are put in `reported` when it is given.
    bool ProbeLun(CHostAdapter* adapter, unsigned long lun, std::vector<unsigned long>* reported);

    static long MAX_LUNS;
    static bool s_LimitChosen;

    LunList m_Luns;
    std::size_t m_NextDevice = 0;
    int m_TargetNumber;
    int m_AdapterNumber;
};
