#pragma once

#include "core/types/Device.h"
#include "core/types/Error.h"

#include <cstdint>

class CBufferMgr;

// Memory for one data transfer. Up to the manager's threshold it comes from
// the heap; above it, from the registered buffer manager. Failures are thrown
// as a bare Error_t.
class AlignedBuffer {
public:
    // Throws ERR_NOT_INITIALIZED without a registered manager, the manager's
    // code when it cannot supply a large block, ERR_NO_MEMORY when the heap
    // cannot, ERR_INVALID_PARAM for a negative size.
    explicit AlignedBuffer(long size);
    // Wraps caller memory, which is never freed here.
    AlignedBuffer(unsigned char* data, long size);
    // A copy of an owning buffer gets memory of its own with the same bytes;
    // a copy of a wrapping buffer wraps the same memory.
    AlignedBuffer(const AlignedBuffer& other);
    AlignedBuffer& operator=(const AlignedBuffer& other);
    virtual ~AlignedBuffer();

    void* Ptr() const { return m_pData; }
    unsigned long Size() const { return m_Size; }

    // 0, or ERR_NO_MEMORY when the manager of that kind could not be made.
    static Error_t RegisterBufferMgr(BufferMgr_t kind);
    static void UnregisterBufferMgr();
    // Throw ERR_NOT_INITIALIZED without a registered manager.
    static Error_t GetTotalAllocated(unsigned long* bytes);
    static Error_t GetAvailable(unsigned long* bytes);
    static Error_t GetLargestContig(unsigned long* bytes);

protected:
    // Whether the manager can hand out (and take back) up to ten blocks of
    // size; 0 when at least one came and all went back.
    static Error_t TestBuffer(long size);

private:
    static CBufferMgr& CurrentManager();
    void Allocate(long size);
    void Release();
    void Swap(AlignedBuffer& other) noexcept;

    static CBufferMgr* m_pBufferMgr;

    std::uint32_t m_Reserved = 0;
    unsigned char* m_pAllocation = nullptr;
    unsigned char* m_pData = nullptr;
    std::uint32_t m_Size = 0;
    // The manager that supplied m_pAllocation; null for heap memory.
    CBufferMgr* m_pOwner = nullptr;
    std::uint64_t m_OwnerSerial = 0;
};
