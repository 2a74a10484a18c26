#include "core/types/CCdbLogEvent.h"

#include "core/types/StringPrintf.h"

#include <algorithm>
#include <cstring>

CCdbLogEvent::CCdbLogEvent(const CDevAddress& address, int cdbLength, const unsigned char* cdb)
    : CEventBase(address, ERR_DRIVER_FAILURE)
{
    if (cdb != nullptr) {
        m_CdbLength = std::clamp(cdbLength, 0, kMaxCdbBytes);
        std::memcpy(m_Cdb, cdb, static_cast<std::size_t>(m_CdbLength));
    }
}

std::string CCdbLogEvent::toString()
{
    std::string text =
        StringPrintf("Device: %d:%d:%d  CDB:", m_Address.m_HostAdapter, m_Address.m_Target, m_Address.m_Lun);
    for (int i = 0; i < m_CdbLength; ++i) {
        text += StringPrintf("  %2.2X", m_Cdb[i]);
    }
    return text + "  " + TimeText();
}
