#include "core/system/CComputerSystem.h"

namespace {

constexpr unsigned long kSilentFlag = 0x2;

}  // namespace

CComputerSystem* CComputerSystem::_instance = nullptr;

CComputerSystem* CComputerSystem::Instance()
{
    if (_instance == nullptr) {
        _instance = new CComputerSystem();
    }
    return _instance;
}

void CComputerSystem::Destroy()
{
    delete _instance;
    _instance = nullptr;
}

void CComputerSystem::SetSilent(bool silent)
{
    m_Flags = silent ? (m_Flags | kSilentFlag) : (m_Flags & ~kSilentFlag);
}

unsigned long CComputerSystem::IsSilent() const
{
    return m_Flags & kSilentFlag;
}
