#include "core/tests/CDataCompareEvent.h"

#include "core/types/StringPrintf.h"

CDataCompareEvent::CDataCompareEvent(const CDevAddress& address, std::uint64_t block, long byteOffset,
                                     unsigned char expected, unsigned char actual)
    : CEventBase(address, ERR_TEST_4),
      m_Block(block),
      m_ByteOffset(static_cast<std::int32_t>(byteOffset)),
      m_Expected(expected),
      m_Actual(actual)
{
}

std::string CDataCompareEvent::toString()
{
    // Unsigned, so blocks past 2^31 on large drives do not print negative.
    return StringPrintf("DATA COMPARE ERROR: Device %d:%d:%d at block %llu, byte %d: Expected 0x%2.2X, Actual 0x%2.2X",
                        m_Address.m_HostAdapter, m_Address.m_Target, m_Address.m_Lun,
                        static_cast<unsigned long long>(m_Block), m_ByteOffset,
                        m_Expected, m_Actual);
}
