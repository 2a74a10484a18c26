#include "core/buffers/AlignedBuffer.h"

#include "core/buffers/CAspiBufferMgr.h"
#include "core/buffers/CBufferMgr.h"
#include "core/buffers/CHeapBufferMgr.h"
#include "core/buffers/CNoxBufferMgr.h"
#include "core/buffers/CVxdBufferMgr.h"

#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

// Block-aligned, so a transfer never starts mid-sector in memory.
constexpr std::align_val_t kHeapAlignment{512};
constexpr int kTestBlocks = 10;

}  // namespace

CBufferMgr* AlignedBuffer::m_pBufferMgr = nullptr;

AlignedBuffer::AlignedBuffer(long size)
{
    Allocate(size);
}

AlignedBuffer::AlignedBuffer(unsigned char* data, long size)
{
    if (size < 0 || static_cast<unsigned long>(size) > std::numeric_limits<std::uint32_t>::max()) {
        throw ERR_INVALID_PARAM;
    }
    m_pData = data;
    m_Size = static_cast<std::uint32_t>(size);
}

AlignedBuffer::AlignedBuffer(const AlignedBuffer& other) : m_Reserved(other.m_Reserved)
{
    if (other.m_pAllocation == nullptr) {
        m_pData = other.m_pData;
        m_Size = other.m_Size;
        return;
    }
    // Sharing the memory would free it twice; a copy owns its own.
    Allocate(other.m_Size);
    std::memcpy(m_pData, other.m_pData, m_Size);
}

AlignedBuffer& AlignedBuffer::operator=(const AlignedBuffer& other)
{
    AlignedBuffer copy(other);
    Swap(copy);
    return *this;
}

AlignedBuffer::~AlignedBuffer()
{
    Release();
}

CBufferMgr& AlignedBuffer::CurrentManager()
{
    if (m_pBufferMgr == nullptr) {
        throw ERR_NOT_INITIALIZED;
    }
    return *m_pBufferMgr;
}

void AlignedBuffer::Allocate(long size)
{
    CBufferMgr& manager = CurrentManager();
    if (size < 0) {
        throw ERR_INVALID_PARAM;
    }
    if (static_cast<unsigned long>(size) > std::numeric_limits<std::uint32_t>::max()) {
        throw ERR_NO_MEMORY;
    }
    const auto bytes = static_cast<std::uint32_t>(size);
    if (bytes > manager.Threshold()) {
        void* block = nullptr;
        const Error_t result = manager.Allocate(bytes, &block);
        if (result != ERR_NONE) {
            throw result;
        }
        if (block == nullptr) {
            throw ERR_NO_MEMORY;
        }
        m_pAllocation = static_cast<unsigned char*>(block);
        m_pOwner = &manager;
        m_OwnerSerial = manager.Serial();
    } else {
        m_pAllocation = static_cast<unsigned char*>(
            ::operator new[](bytes, kHeapAlignment, std::nothrow));
        if (m_pAllocation == nullptr) {
            throw ERR_NO_MEMORY;
        }
    }
    m_pData = m_pAllocation;
    m_Size = bytes;
}

void AlignedBuffer::Release()
{
    if (m_pAllocation == nullptr) {
        return;
    }
    if (m_pOwner == nullptr) {
        ::operator delete[](m_pAllocation, kHeapAlignment);
    } else if (CBufferMgr::IsLive(m_OwnerSerial)) {
        // A released manager has already reclaimed everything it handed out.
        m_pOwner->Free(m_pAllocation);
    }
    m_pAllocation = nullptr;
    m_pData = nullptr;
    m_pOwner = nullptr;
    m_OwnerSerial = 0;
}

void AlignedBuffer::Swap(AlignedBuffer& other) noexcept
{
    std::swap(m_Reserved, other.m_Reserved);
    std::swap(m_pAllocation, other.m_pAllocation);
    std::swap(m_pData, other.m_pData);
    std::swap(m_Size, other.m_Size);
    std::swap(m_pOwner, other.m_pOwner);
    std::swap(m_OwnerSerial, other.m_OwnerSerial);
}

Error_t AlignedBuffer::RegisterBufferMgr(BufferMgr_t kind)
{
    CBufferMgr* manager = nullptr;
    switch (kind) {
    case BUFMGR_ASPI:
        manager = CAspiBufferMgr::Instance();
        break;
    case BUFMGR_NOX:
        manager = CNoxBufferMgr::Instance();
        break;
    case BUFMGR_VXD:
        manager = CVxdBufferMgr::Instance();
        break;
    default:
        manager = CHeapBufferMgr::Instance();
        break;
    }
    if (manager == nullptr) {
        return ERR_NO_MEMORY;
    }
    m_pBufferMgr = manager;
    return ERR_NONE;
}

void AlignedBuffer::UnregisterBufferMgr()
{
    if (m_pBufferMgr != nullptr) {
        m_pBufferMgr->ReleaseInstance();
        m_pBufferMgr = nullptr;
    }
}

Error_t AlignedBuffer::GetTotalAllocated(unsigned long* bytes)
{
    return CurrentManager().GetTotalAllocated(bytes);
}

Error_t AlignedBuffer::GetAvailable(unsigned long* bytes)
{
    return CurrentManager().GetAvailable(bytes);
}

Error_t AlignedBuffer::GetLargestContig(unsigned long* bytes)
{
    return CurrentManager().GetLargestContig(bytes);
}

Error_t AlignedBuffer::TestBuffer(long size)
{
    CBufferMgr& manager = CurrentManager();
    if (size < 0) {
        return ERR_INVALID_PARAM;
    }
    void* blocks[kTestBlocks] = {};
    int obtained = 0;
    Error_t result = ERR_NONE;
    for (; obtained < kTestBlocks; ++obtained) {
        result = manager.Allocate(static_cast<unsigned long>(size), &blocks[obtained]);
        if (result != ERR_NONE) {
            break;
        }
    }
    if (obtained > 0) {
        result = ERR_NONE;
    }
    // Give every block back even after a failure, so the probe holds nothing.
    for (int i = obtained - 1; i >= 0; --i) {
        const Error_t freed = manager.Free(blocks[i]);
        if (result == ERR_NONE) {
            result = freed;
        }
    }
    return result;
}
