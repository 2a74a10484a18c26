#pragma once

#include "core/buffers/CBufferMgr.h"

class CASPIDriver;

// Large buffers from the ASPI layer itself, through the ASPI driver object
// this manager keeps loaded.
class CAspiBufferMgr final : public CBufferMgr {
public:
    static CAspiBufferMgr* Instance();

    ~CAspiBufferMgr() override;

    void ReleaseInstance() override;
    // What the layer has handed out.
    Error_t GetTotalAllocated(unsigned long* bytes) override;
    // The largest buffer the layer still grants; 0 without its buffer services.
    Error_t GetAvailable(unsigned long* bytes) override;
    Error_t GetLargestContig(unsigned long* bytes) override;
    void FreeAll() override;
    Error_t Allocate(unsigned long size, void** block) override;
    Error_t Free(void* block) override;

private:
    CAspiBufferMgr();

    static CAspiBufferMgr* s_instance;

    CASPIDriver* m_pDriver;
};
