#include "core/buffers/CNoxBufferMgr.h"

#include "core/transport/SCSI_NOXWrapper.h"

#include <new>

CNoxBufferMgr* CNoxBufferMgr::s_instance = nullptr;

CNoxBufferMgr* CNoxBufferMgr::Instance()
{
    if (s_instance == nullptr) {
        s_instance = new (std::nothrow) CNoxBufferMgr();
    }
    return s_instance;
}

CNoxBufferMgr::CNoxBufferMgr() : m_pDriver(SCSI_NOXWrapper::Acquire()) {}

CNoxBufferMgr::~CNoxBufferMgr()
{
    m_pDriver->Release();
}

void CNoxBufferMgr::ReleaseInstance()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
    delete this;
}

Error_t CNoxBufferMgr::Statistic(unsigned long* bytes, DWORD NoxBufferStats_s::*field)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    NoxBufferStats_s stats{};
    const Error_t result = m_pDriver->BufferGetStats(&stats);
    *bytes = stats.*field;
    return result;
}

Error_t CNoxBufferMgr::GetTotalAllocated(unsigned long* bytes)
{
    return Statistic(bytes, &NoxBufferStats_s::TotalAllocated);
}

Error_t CNoxBufferMgr::GetAvailable(unsigned long* bytes)
{
    return Statistic(bytes, &NoxBufferStats_s::Available);
}

Error_t CNoxBufferMgr::GetLargestContig(unsigned long* bytes)
{
    return Statistic(bytes, &NoxBufferStats_s::LargestContig);
}

void CNoxBufferMgr::FreeAll()
{
    m_pDriver->BufferReleaseAll();
}

Error_t CNoxBufferMgr::Allocate(unsigned long size, void** block)
{
    if (block == nullptr) {
        return ERR_INVALID_PARAM;
    }
    *block = nullptr;
    const Error_t result = m_pDriver->BufferGet(size, block);
    if (result != ERR_NONE) {
        *block = nullptr;
    }
    return result;
}

Error_t CNoxBufferMgr::Free(void* block)
{
    return m_pDriver->BufferRelease(block);
}
