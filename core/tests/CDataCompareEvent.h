#pragma once

#include "core/types/CEventBase.h"

// Data read back that differs from what the test's pattern put there.
class CDataCompareEvent : public CEventBase {
public:
    CDataCompareEvent(const CDevAddress& address, unsigned long block, long byteOffset, unsigned char expected,
                      unsigned char actual);

    std::string toString() override;
    unsigned long GetBlock() const { return m_Block; }
    long GetByteOffset() const { return m_ByteOffset; }
    unsigned char GetExpected() const { return m_Expected; }
    unsigned char GetActual() const { return m_Actual; }

private:
    std::uint32_t m_Block;
    std::int32_t m_ByteOffset;
    unsigned char m_Expected;
    unsigned char m_Actual;
};
