#pragma once

#include "core/types/CDevAddress.h"
#include "core/types/Error.h"

#include <map>

class CScsiIoCtl;
class CTarget;

class CHostAdapter {
public:
    explicit CHostAdapter(int adapterNumber);
    CHostAdapter(const CHostAdapter&) = delete;
    CHostAdapter& operator=(const CHostAdapter&) = delete;
    virtual ~CHostAdapter();

    virtual Error_t AddTarget(CTarget* target);
    virtual int GetAssignedID() { return m_AssignedID; }
    // A new control block for the device at address, with its index within the device.
    virtual CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char blockIndex = 0) = 0;

    CTarget* GetTarget(int target) const;
    long GetTargetCount() const { return static_cast<long>(m_Targets.size()); }

private:
    std::map<int, CTarget*> m_Targets;
    int m_AssignedID;
};
