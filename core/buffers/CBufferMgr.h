#pragma once

#include "core/types/Error.h"

#include <cstdint>

// Source of large transfer buffers. Some drivers transfer only from memory
// they provide themselves, so every buffer above the threshold comes from the
// process's registered manager. Each kind is a process-wide singleton.
class CBufferMgr {
public:
    static constexpr std::uint32_t kLargeBufferThreshold = 65536;

    CBufferMgr(const CBufferMgr&) = delete;
    CBufferMgr& operator=(const CBufferMgr&) = delete;
    virtual ~CBufferMgr();

    // Deletes the process-wide instance of this kind and clears it.
    virtual void ReleaseInstance() = 0;
    virtual Error_t GetTotalAllocated(unsigned long* bytes) = 0;
    virtual Error_t GetAvailable(unsigned long* bytes) = 0;
    virtual Error_t GetLargestContig(unsigned long* bytes) = 0;
    virtual void FreeAll() = 0;
    virtual Error_t Allocate(unsigned long size, void** block) = 0;
    virtual Error_t Free(void* block) = 0;

    std::uint32_t Threshold() const { return m_Threshold; }
    // Unique for the life of the process, even when a later manager reuses
    // a released one's address.
    std::uint64_t Serial() const { return m_Serial; }

    // Whether the manager with this serial still exists: a buffer that
    // outlives its manager must not hand its memory to a deleted object, nor
    // to a newer manager that may have given the same block to someone else.
    static bool IsLive(std::uint64_t serial);

protected:
    CBufferMgr();

private:
    std::uint32_t m_Threshold = kLargeBufferThreshold;
    std::uint64_t m_Serial = 0;
};
