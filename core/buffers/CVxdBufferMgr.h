#pragma once

#include "core/buffers/CBufferMgr.h"
#include "platform/WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <mutex>

// The answer of the transfer-buffer driver: one large locked block. The
// address is pointer-sized, so on a 64-bit build the size follows at 8.
#pragma pack(push, 1)
struct VxdBlockInfo_s {
    void* address;
    std::uint32_t size;
    std::uint8_t reserved[256];
};
#pragma pack(pop)
static_assert(offsetof(VxdBlockInfo_s, address) == 0);
static_assert(offsetof(VxdBlockInfo_s, size) == sizeof(void*));
static_assert(sizeof(VxdBlockInfo_s) == 264 + sizeof(void*) - 4);

// Hands out the driver's single block, whole, to one buffer at a time.
class CVxdBufferMgr final : public CBufferMgr {
public:
    static constexpr const char* kDeviceName = "\\\\.\\ORBSTB32.VXD";
    static constexpr DWORD kGetBlockIoctl = 0x9C402404;

    static CVxdBufferMgr* Instance();

    ~CVxdBufferMgr() override;

    void ReleaseInstance() override;
    Error_t GetTotalAllocated(unsigned long* bytes) override;
    Error_t GetAvailable(unsigned long* bytes) override;
    Error_t GetLargestContig(unsigned long* bytes) override;
    void FreeAll() override;
    Error_t Allocate(unsigned long size, void** block) override;
    Error_t Free(void* block) override;

private:
    CVxdBufferMgr();
    void QueryBlock();

    static CVxdBufferMgr* s_instance;

    HANDLE m_Device = INVALID_HANDLE_VALUE;
    void* m_Block = nullptr;
    unsigned long m_BlockSize = 0;
    unsigned long m_Allocated = 0;
    unsigned long m_Free = 0;
    // The block may be asked for from several test threads at once.
    std::mutex m_Lock;
};
