#include "core/buffers/CHeapBufferMgr.h"

#include "core/transport/CNTPortDriver.h"

#include <new>

namespace {

// Fixed figures: the heap has no meaningful pool size to report.
constexpr unsigned long kReportedPool = 10240000;
constexpr unsigned long kLargestBlock = 65536;

}  // namespace

CHeapBufferMgr* CHeapBufferMgr::s_instance = nullptr;

CHeapBufferMgr* CHeapBufferMgr::Instance()
{
    if (s_instance == nullptr) {
        s_instance = new (std::nothrow) CHeapBufferMgr();
    }
    return s_instance;
}

CHeapBufferMgr::CHeapBufferMgr() : m_pPortDriver(CNTPortDriver::Acquire()) {}

CHeapBufferMgr::~CHeapBufferMgr()
{
    FreeAll();
    m_pPortDriver->Release();
}

void CHeapBufferMgr::ReleaseInstance()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
    delete this;
}

Error_t CHeapBufferMgr::GetTotalAllocated(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *bytes = kReportedPool;
    return ERR_NONE;
}

Error_t CHeapBufferMgr::GetAvailable(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *bytes = kReportedPool;
    return ERR_NONE;
}

Error_t CHeapBufferMgr::GetLargestContig(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *bytes = kLargestBlock;
    return ERR_NONE;
}

void CHeapBufferMgr::FreeAll()
{
    std::lock_guard guard(m_Lock);
    for (unsigned char* block : m_Blocks) {
        delete[] block;
    }
    m_Blocks.clear();
}

Error_t CHeapBufferMgr::Allocate(unsigned long size, void** block)
{
    if (block == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *block = nullptr;
    if (size > kLargestBlock) {
        return ERR_NO_MEMORY;
    }
    auto* memory = new (std::nothrow) unsigned char[size];
    if (memory == nullptr) {
        return ERR_NO_MEMORY;
    }
    try {
        std::lock_guard guard(m_Lock);
        m_Blocks.push_front(memory);
    } catch (const std::bad_alloc&) {
        delete[] memory;
        return ERR_NO_MEMORY;
    }
    *block = memory;
    return ERR_NONE;
}

Error_t CHeapBufferMgr::Free(void* block)
{
    std::lock_guard guard(m_Lock);
    auto before = m_Blocks.before_begin();
    for (auto it = m_Blocks.begin(); it != m_Blocks.end(); before = it++) {
        if (*it == block) {
            delete[] *it;
            m_Blocks.erase_after(before);
            return ERR_NONE;
        }
    }
    // Not one of ours: nothing to give back.
    return ERR_NONE;
}
