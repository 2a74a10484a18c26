#pragma once

#include "core/buffers/CBufferMgr.h"

#include <forward_list>
#include <mutex>

class CScsiDriver;

// Large buffers from the ordinary heap, at most 64 KiB each: the most the NT
// port pass-through moves in one request.
class CHeapBufferMgr final : public CBufferMgr {
public:
    static CHeapBufferMgr* Instance();

    ~CHeapBufferMgr() override;

    void ReleaseInstance() override;
    Error_t GetTotalAllocated(unsigned long* bytes) override;
    Error_t GetAvailable(unsigned long* bytes) override;
    Error_t GetLargestContig(unsigned long* bytes) override;
    void FreeAll() override;
    Error_t Allocate(unsigned long size, void** block) override;
    Error_t Free(void* block) override;

private:
    CHeapBufferMgr();

    static CHeapBufferMgr* s_instance;

    // Test threads allocate and free concurrently.
    std::mutex m_Lock;
    std::forward_list<unsigned char*> m_Blocks;
    // Heap buffers serve the NT port transport, which stays loaded meanwhile.
    CScsiDriver* m_pPortDriver;
};
