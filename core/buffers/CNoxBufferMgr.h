#pragma once

#include "core/buffers/CBufferMgr.h"
#include "core/transport/NoxLibrary.h"

class SCSI_NOXWrapper;

// Large buffers from the Nox library's own pool, whose size the Nox class
// driver's "BufferSize" setting fixes.
class CNoxBufferMgr final : public CBufferMgr {
public:
    static CNoxBufferMgr* Instance();

    ~CNoxBufferMgr() override;

    void ReleaseInstance() override;
    Error_t GetTotalAllocated(unsigned long* bytes) override;
    Error_t GetAvailable(unsigned long* bytes) override;
    Error_t GetLargestContig(unsigned long* bytes) override;
    void FreeAll() override;
    Error_t Allocate(unsigned long size, void** block) override;
    Error_t Free(void* block) override;

private:
    CNoxBufferMgr();

    // One of the library's three counters; the statistics' own answer when they fail.
    Error_t Statistic(unsigned long* bytes, DWORD NoxBufferStats_s::*field);

    static CNoxBufferMgr* s_instance;

    SCSI_NOXWrapper* m_pDriver;
};
