#include "core/buffers/CAspiBufferMgr.h"

#include "core/transport/CASPIDriver.h"

#include <new>

CAspiBufferMgr* CAspiBufferMgr::s_instance = nullptr;

CAspiBufferMgr* CAspiBufferMgr::Instance()
{
    if (s_instance == nullptr) {
        s_instance = new (std::nothrow) CAspiBufferMgr();
    }
    return s_instance;
}

CAspiBufferMgr::CAspiBufferMgr() : m_pDriver(CASPIDriver::Acquire()) {}

CAspiBufferMgr::~CAspiBufferMgr()
{
    m_pDriver->BufferReleaseAll();
    m_pDriver->Release();
}

void CAspiBufferMgr::ReleaseInstance()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
    delete this;
}

Error_t CAspiBufferMgr::GetTotalAllocated(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *bytes = m_pDriver->BufferTotal();
    return ERR_NONE;
}

Error_t CAspiBufferMgr::GetAvailable(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *bytes = m_pDriver->BufferLimit();
    return ERR_NONE;
}

Error_t CAspiBufferMgr::GetLargestContig(unsigned long* bytes)
{
    return GetAvailable(bytes);
}

void CAspiBufferMgr::FreeAll()
{
    m_pDriver->BufferReleaseAll();
}

Error_t CAspiBufferMgr::Allocate(unsigned long size, void** block)
{
    return m_pDriver->BufferGet(size, block);
}

Error_t CAspiBufferMgr::Free(void* block)
{
    return m_pDriver->BufferRelease(block);
}
