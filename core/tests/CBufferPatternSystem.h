#pragma once

#include "core/types/Error.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>

class AlignedBuffer;

enum Pattern_t : std::int32_t {
    PatternNone = 0,
    PatternOnes = 1,
    PatternZeros = 2,
    PatternAA = 3,
    Pattern55 = 4,
    PatternUnchanged = 5,  // fills nothing; compares as zeros
    PatternBlockNumbers = 6,
    PatternUser = 7,
};

// The process-wide registry of data patterns, by slot number, that write
// tests put on the medium and read tests compare against. Clients set
// patterns and the compare switch before tests start; workers only read.
class CBufferPatternSystem {
public:
    // One registered pattern; owns its user bytes.
    class CBufferPattern {
    public:
        CBufferPattern(Pattern_t kind, AlignedBuffer* userData, long length);
        CBufferPattern(const CBufferPattern&) = delete;
        CBufferPattern& operator=(const CBufferPattern&) = delete;
        virtual ~CBufferPattern();

        Pattern_t m_Kind;
        AlignedBuffer* m_pUserData;
        std::int32_t m_Length;
    };

    static CBufferPatternSystem* Instance();
    static void Destroy();
    // Out of line: a client built with hidden visibility must reach the library's one switch.
    static void SetDataCompare(bool on);
    static bool IsDataCompareOn();

    CBufferPatternSystem(const CBufferPatternSystem&) = delete;
    CBufferPatternSystem& operator=(const CBufferPatternSystem&) = delete;
    virtual ~CBufferPatternSystem();

    // Takes ownership of userData, also when it fails.
    Error_t SetPattern(int slot, Pattern_t kind, AlignedBuffer* userData, long length);
    Pattern_t GetPatternType(int slot) const;
    long GetPatternLength(int slot) const;

    Error_t FillBuffer(int slot, AlignedBuffer* buf);
    // Every 4 bytes of a block carry its number, most significant byte first.
    Error_t FillBuffer(int slot, AlignedBuffer* buf, unsigned long firstBlock, unsigned long blockLength,
                       unsigned long blockCount);
    // True when the buffer matches; otherwise the first difference is reported.
    bool CompareData(int slot, AlignedBuffer* buf, int& byteOffset, unsigned char& expected, unsigned char& actual);
    bool CheckPatternToBlockNums(AlignedBuffer* buf, unsigned long firstBlock, unsigned long blockLength,
                                 unsigned long blockCount);
    // The same check, telling the first difference as CompareData does.
    bool CheckPatternToBlockNums(AlignedBuffer* buf, unsigned long firstBlock, unsigned long blockLength,
                                 unsigned long blockCount, int& byteOffset, unsigned char& expected,
                                 unsigned char& actual);

protected:
    Error_t FillUserPattern(CBufferPattern* pattern, AlignedBuffer* buf);

private:
    CBufferPatternSystem() = default;
    const CBufferPattern* Find(int slot) const;

    static CBufferPatternSystem* _instance;
    static std::atomic<bool> m_bDataCompareOn;
    std::unordered_map<std::int32_t, std::unique_ptr<CBufferPattern>> m_Patterns;
};
