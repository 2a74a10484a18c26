#include "core/buffers/CVxdBufferMgr.h"

#include "platform/Files.h"

#include <new>

CVxdBufferMgr* CVxdBufferMgr::s_instance = nullptr;

CVxdBufferMgr* CVxdBufferMgr::Instance()
{
    if (s_instance == nullptr) {
        s_instance = new (std::nothrow) CVxdBufferMgr();
    }
    return s_instance;
}

CVxdBufferMgr::CVxdBufferMgr()
{
    m_Device = CreateFileA(kDeviceName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (m_Device != INVALID_HANDLE_VALUE) {
        QueryBlock();
    }
}

// Without the driver, or when it does not answer, the block stays empty.
void CVxdBufferMgr::QueryBlock()
{
    VxdBlockInfo_s info{};
    DWORD returned = 0;
    if (!DeviceIoControl(m_Device, kGetBlockIoctl, nullptr, 0, &info, sizeof(info), &returned,
                         nullptr)) {
        return;
    }
    // A short answer or a sizeless block at no address is no block at all.
    if (returned < offsetof(VxdBlockInfo_s, size) + sizeof(info.size) || info.address == nullptr) {
        return;
    }
    m_Block = info.address;
    m_BlockSize = info.size;
    m_Free = info.size;
}

CVxdBufferMgr::~CVxdBufferMgr()
{
    if (m_Device != INVALID_HANDLE_VALUE) {
        CloseHandle(m_Device);
    }
}

void CVxdBufferMgr::ReleaseInstance()
{
    if (s_instance == this) {
        s_instance = nullptr;
    }
    delete this;
}

Error_t CVxdBufferMgr::GetTotalAllocated(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    std::lock_guard guard(m_Lock);
    *bytes = m_Allocated;
    return ERR_NONE;
}

Error_t CVxdBufferMgr::GetAvailable(unsigned long* bytes)
{
    if (bytes == nullptr) {
        return ERR_INVALID_PARAM;
    }
    std::lock_guard guard(m_Lock);
    *bytes = m_Free;
    return ERR_NONE;
}

Error_t CVxdBufferMgr::GetLargestContig(unsigned long* bytes)
{
    return GetAvailable(bytes);
}

void CVxdBufferMgr::FreeAll()
{
    std::lock_guard guard(m_Lock);
    m_Free = m_BlockSize;
    m_Allocated = 0;
}

Error_t CVxdBufferMgr::Allocate(unsigned long size, void** block)
{
    if (block == nullptr) {
        return ERR_INVALID_PARAM;
    }
    std::lock_guard guard(m_Lock);
    if (size > m_Free || m_Block == nullptr) {
        *block = nullptr;
        return ERR_NO_MEMORY;
    }
    *block = m_Block;
    m_Allocated = m_BlockSize;
    m_Free = 0;
    return ERR_NONE;
}

Error_t CVxdBufferMgr::Free(void* block)
{
    // Only the block itself frees it: anything else would let two buffers
    // share it.
    if (block == nullptr || block != m_Block) {
        return ERR_INVALID_PARAM;
    }
    FreeAll();
    return ERR_NONE;
}
