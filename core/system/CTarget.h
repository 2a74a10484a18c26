#pragma once

#include <map>

class SCSIDevice;

class CTarget {
public:
    CTarget(int adapterNumber, int targetNumber);
    CTarget(const CTarget&) = delete;
    CTarget& operator=(const CTarget&) = delete;
    virtual ~CTarget();

    int AddSCSIDevice(SCSIDevice* device);
    SCSIDevice* GetSCSIDevice(int lun) const;
    long GetNumLUNs() const { return static_cast<long>(m_Luns.size()); }
    virtual int GetTargetNum() const { return m_TargetNumber; }

private:
    std::map<int, SCSIDevice*> m_Luns;
    int m_TargetNumber;
    int m_AdapterNumber;
};
