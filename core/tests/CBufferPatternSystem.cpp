#include "core/tests/CBufferPatternSystem.h"

#include "core/buffers/AlignedBuffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace {

// The byte a fixed kind fills with; -1 for the kinds that fill nothing.
int FillByte(Pattern_t kind)
{
    switch (kind) {
    case PatternOnes:
        return 0xFF;
    case PatternZeros:
        return 0x00;
    case PatternAA:
        return 0xAA;
    case Pattern55:
        return 0x55;
    default:
        return -1;
    }
}

unsigned char CompareByte(Pattern_t kind)
{
    const int fill = FillByte(kind);
    return static_cast<unsigned char>(fill < 0 ? 0x00 : fill);
}

// Word `index` of a block's number pattern. Below 2^32 every word is the
// number. Past it the words alone would repeat block n's pattern at n + 2^32,
// and a drive that drops the high bits of the LBA would pass a write and read
// back: there the first word is the high half, the second the low half
// inverted (so no such block looks like one below 2^32), the rest the low half.
std::uint32_t BlockNumberWord(std::uint64_t block, unsigned long index)
{
    const auto low = static_cast<std::uint32_t>(block);
    if (block >> 32 == 0 || index > 1) {
        return low;
    }
    return index == 0 ? static_cast<std::uint32_t>(block >> 32) : ~low;
}

void PutBlockNumber(unsigned char* word, std::uint32_t value)
{
    word[0] = static_cast<unsigned char>(value >> 24);
    word[1] = static_cast<unsigned char>(value >> 16);
    word[2] = static_cast<unsigned char>(value >> 8);
    word[3] = static_cast<unsigned char>(value);
}

// Bytes the block-number layout touches, or 0 when it does not fit in size.
unsigned long long BlockNumberBytes(unsigned long blockLength, unsigned long blockCount)
{
    return static_cast<unsigned long long>(blockLength) * blockCount;
}

}  // namespace

CBufferPatternSystem* CBufferPatternSystem::_instance = nullptr;
std::atomic<bool> CBufferPatternSystem::m_bDataCompareOn{false};

void CBufferPatternSystem::SetDataCompare(bool on)
{
    m_bDataCompareOn = on;
}

bool CBufferPatternSystem::IsDataCompareOn()
{
    return m_bDataCompareOn;
}

CBufferPatternSystem::CBufferPattern::CBufferPattern(Pattern_t kind, AlignedBuffer* userData, long length)
    : m_Kind(kind), m_pUserData(userData), m_Length(static_cast<std::int32_t>(length))
{
}

CBufferPatternSystem::CBufferPattern::~CBufferPattern()
{
    delete m_pUserData;
}

CBufferPatternSystem* CBufferPatternSystem::Instance()
{
    if (_instance == nullptr) {
        _instance = new CBufferPatternSystem;
    }
    return _instance;
}

void CBufferPatternSystem::Destroy()
{
    delete _instance;
    _instance = nullptr;
}

CBufferPatternSystem::~CBufferPatternSystem() = default;

Error_t CBufferPatternSystem::SetPattern(int slot, Pattern_t kind, AlignedBuffer* userData, long length)
{
    m_Patterns.erase(slot);
    CBufferPattern* pattern = new (std::nothrow) CBufferPattern(kind, userData, length);
    if (pattern == nullptr) {
        delete userData;
        return ERR_NO_MEMORY;
    }
    m_Patterns.emplace(slot, pattern);
    return ERR_NONE;
}

const CBufferPatternSystem::CBufferPattern* CBufferPatternSystem::Find(int slot) const
{
    const auto found = m_Patterns.find(slot);
    return found != m_Patterns.end() ? found->second.get() : nullptr;
}

Pattern_t CBufferPatternSystem::GetPatternType(int slot) const
{
    const CBufferPattern* pattern = Find(slot);
    return pattern != nullptr ? pattern->m_Kind : PatternNone;
}

long CBufferPatternSystem::GetPatternLength(int slot) const
{
    const CBufferPattern* pattern = Find(slot);
    return pattern != nullptr ? pattern->m_Length : 0;
}

Error_t CBufferPatternSystem::FillBuffer(int slot, AlignedBuffer* buf)
{
    const auto found = m_Patterns.find(slot);
    if (buf == nullptr || found == m_Patterns.end()) {
        return ERR_NOT_INITIALIZED;
    }
    CBufferPattern* pattern = found->second.get();
    switch (pattern->m_Kind) {
    case PatternNone:
        return ERR_NOT_INITIALIZED;
    case PatternUser:
        return FillUserPattern(pattern, buf);
    case PatternUnchanged:
    case PatternBlockNumbers:
        return ERR_NONE;
    default:
        break;
    }
    const int fill = FillByte(pattern->m_Kind);
    if (fill < 0) {
        return ERR_INVALID_PARAM;
    }
    std::memset(buf->Ptr(), fill, buf->Size());
    return ERR_NONE;
}

Error_t CBufferPatternSystem::FillUserPattern(CBufferPattern* pattern, AlignedBuffer* buf)
{
    const AlignedBuffer* user = pattern->m_pUserData;
    // The record's length must not reach past its own bytes.
    if (pattern->m_Length <= 0 || user == nullptr || static_cast<unsigned long>(pattern->m_Length) > user->Size()) {
        return ERR_NOT_INITIALIZED;
    }
    const unsigned long length = static_cast<unsigned long>(pattern->m_Length);
    auto* out = static_cast<unsigned char*>(buf->Ptr());
    for (unsigned long rep = 0; rep < buf->Size() / length; ++rep) {
        std::memcpy(out + rep * length, user->Ptr(), length);
    }
    return ERR_NONE;
}

Error_t CBufferPatternSystem::FillBuffer(int slot, AlignedBuffer* buf, unsigned long firstBlock,
                                         unsigned long blockLength, unsigned long blockCount)
{
    if (GetPatternType(slot) != PatternBlockNumbers) {
        return ERR_INVALID_PARAM;
    }
    if (buf == nullptr) {
        return ERR_NOT_INITIALIZED;
    }
    // A shortened last command never needs more than the buffer; refuse rather than write past it.
    if (BlockNumberBytes(blockLength, blockCount) > buf->Size()) {
        return ERR_INVALID_PARAM;
    }
    auto* out = static_cast<unsigned char*>(buf->Ptr());
    for (unsigned long i = 0; i < blockCount; ++i) {
        unsigned char* block = out + i * blockLength;
        for (unsigned long word = 0; word < blockLength / 4; ++word) {
            PutBlockNumber(block + word * 4, BlockNumberWord(std::uint64_t{firstBlock} + i, word));
        }
    }
    return ERR_NONE;
}

bool CBufferPatternSystem::CompareData(int slot, AlignedBuffer* buf, int& byteOffset, unsigned char& expected,
                                       unsigned char& actual)
{
    const CBufferPattern* pattern = Find(slot);
    if (pattern == nullptr || buf == nullptr) {
        return false;
    }
    const auto* data = static_cast<const unsigned char*>(buf->Ptr());
    if (pattern->m_Kind == PatternUser) {
        const AlignedBuffer* user = pattern->m_pUserData;
        if (pattern->m_Length <= 0 || user == nullptr || static_cast<unsigned long>(pattern->m_Length) > user->Size()) {
            return false;
        }
        const unsigned long length = static_cast<unsigned long>(pattern->m_Length);
        const auto* want = static_cast<const unsigned char*>(user->Ptr());
        for (unsigned long rep = 0; rep < buf->Size() / length; ++rep) {
            const unsigned char* got = data + rep * length;
            const auto diff = std::mismatch(want, want + length, got);
            if (diff.first != want + length) {
                const unsigned long j = static_cast<unsigned long>(diff.first - want);
                byteOffset = static_cast<int>(rep * length + j);
                expected = *diff.first;
                actual = *diff.second;
                return false;
            }
        }
        return true;
    }
    const unsigned char want = CompareByte(pattern->m_Kind);
    const unsigned char* end = data + buf->Size();
    const unsigned char* diff = std::find_if(data, end, [want](unsigned char b) { return b != want; });
    if (diff == end) {
        return true;
    }
    byteOffset = static_cast<int>(diff - data);
    expected = want;
    actual = *diff;
    return false;
}

bool CBufferPatternSystem::CheckPatternToBlockNums(AlignedBuffer* buf, unsigned long firstBlock,
                                                   unsigned long blockLength, unsigned long blockCount)
{
    int byteOffset = 0;
    unsigned char expected = 0;
    unsigned char actual = 0;
    return CheckPatternToBlockNums(buf, firstBlock, blockLength, blockCount, byteOffset, expected, actual);
}

bool CBufferPatternSystem::CheckPatternToBlockNums(AlignedBuffer* buf, unsigned long firstBlock,
                                                   unsigned long blockLength, unsigned long blockCount,
                                                   int& byteOffset, unsigned char& expected, unsigned char& actual)
{
    if (buf == nullptr || BlockNumberBytes(blockLength, blockCount) > buf->Size()) {
        return false;
    }
    const auto* data = static_cast<const unsigned char*>(buf->Ptr());
    for (unsigned long i = 0; i < blockCount; ++i) {
        const unsigned char* block = data + i * blockLength;
        for (unsigned long word = 0; word < blockLength / 4; ++word) {
            unsigned char want[4];
            PutBlockNumber(want, BlockNumberWord(std::uint64_t{firstBlock} + i, word));
            const auto diff = std::mismatch(want, want + 4, block + word * 4);
            if (diff.first != want + 4) {
                byteOffset = static_cast<int>(i * blockLength + word * 4 + static_cast<unsigned long>(diff.first - want));
                expected = *diff.first;
                actual = *diff.second;
                return false;
            }
        }
    }
    return true;
}
