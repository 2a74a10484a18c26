#pragma once

#include "core/types/CEventBase.h"

#include <cstdint>

// Data read back that differs from what the test's pattern put there.
class CDataCompareEvent : public CEventBase {
public:
    CDataCompareEvent(const CDevAddress& address, std::uint64_t block, long byteOffset, unsigned char expected,
                      unsigned char actual);

    std::string toString() override;
    std::uint64_t GetBlock() const { return m_Block; }
    long GetByteOffset() const { return m_ByteOffset; }
    unsigned char GetExpected() const { return m_Expected; }
    unsigned char GetActual() const { return m_Actual; }

private:
    // 64-bit: drives past 2 TiB have blocks beyond 32-bit numbers.
    std::uint64_t m_Block;
    std::int32_t m_ByteOffset;
    unsigned char m_Expected;
    unsigned char m_Actual;
};
