#include "core/system/CHostAdapter.h"

#include "core/system/CTarget.h"

CHostAdapter::CHostAdapter(int adapterNumber) : m_AssignedID(adapterNumber) {}

CHostAdapter::~CHostAdapter()
{
    for (auto& [number, target] : m_Targets) {
        delete target;
    }
}

Error_t CHostAdapter::AddTarget(CTarget* target)
{
    CTarget*& slot = m_Targets[target->GetTargetNum()];
    if (slot != target) {
        delete slot;
        slot = target;
    }
    return ERR_NONE;
}

CTarget* CHostAdapter::GetTarget(int target) const
{
    const auto found = m_Targets.find(target);
    return found != m_Targets.end() ? found->second : nullptr;
}
