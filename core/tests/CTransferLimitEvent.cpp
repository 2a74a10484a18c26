#include "core/tests/CTransferLimitEvent.h"

#include "core/types/StringPrintf.h"

CTransferLimitEvent::CTransferLimitEvent(const CDevAddress& address, long asked, long carried)
    : CEventBase(address, ERR_NONE), m_Asked(asked), m_Carried(carried)
{
}

std::string CTransferLimitEvent::toString()
{
    return StringPrintf("TRANSFER SIZE: Device %d:%d:%d takes at most %ld blocks a command: %ld asked, %ld sent",
                        m_Address.m_HostAdapter, m_Address.m_Target, m_Address.m_Lun, m_Carried, m_Asked,
                        m_Carried);
}
