#include "core/tests/CAlarmEvent.h"

#include "core/types/StringPrintf.h"

namespace {

const char* KindWords(int kind)
{
    switch (kind) {
    case CAlarmEvent::ReadPerformance:
        return "fell below the minimum read performance";
    case CAlarmEvent::WritePerformance:
        return "fell below the minimum write performance";
    case CAlarmEvent::SoftErrors:
        return "has too many soft errors";
    case CAlarmEvent::HardErrors:
        return "has too many hard errors";
    default:
        return "";
    }
}

}  // namespace

CAlarmEvent::CAlarmEvent(const CDevAddress& address, int kind) : CEventBase(address, ERR_TEST_1C), m_Kind(kind) {}

std::string CAlarmEvent::toString()
{
    return StringPrintf("ALARM: Device %d:%d:%d ", m_Address.m_HostAdapter, m_Address.m_Target, m_Address.m_Lun) +
           KindWords(m_Kind);
}
