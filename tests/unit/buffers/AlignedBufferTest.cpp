#include "core/buffers/CHeapBufferMgr.h"
#include "tests/unit/buffers/BufferTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

class HeapBuffers : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE); }
    void TearDown() override { AlignedBuffer::UnregisterBufferMgr(); }
};

}  // namespace

TEST(AlignedBufferUnregistered, EverythingThrowsNotInitialized)
{
    AlignedBuffer::UnregisterBufferMgr();
    unsigned long bytes = 0;
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(16); }), ERR_NOT_INITIALIZED);
    EXPECT_EQ(ThrownCode([&] { AlignedBuffer::GetAvailable(&bytes); }), ERR_NOT_INITIALIZED);
    EXPECT_EQ(ThrownCode([&] { AlignedBuffer::GetTotalAllocated(&bytes); }), ERR_NOT_INITIALIZED);
    EXPECT_EQ(ThrownCode([&] { AlignedBuffer::GetLargestContig(&bytes); }), ERR_NOT_INITIALIZED);
    EXPECT_EQ(ThrownCode([] { Probe::TestBuffer(16); }), ERR_NOT_INITIALIZED);

    // Wrapping needs no manager.
    unsigned char memory[4] = {};
    AlignedBuffer wrap(memory, sizeof memory);
    EXPECT_EQ(wrap.Ptr(), memory);
}

TEST(AlignedBufferRegistration, KindsAndReuse)
{
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(16); }), ERR_NOT_INITIALIZED);

    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    CBufferMgr* heap = CHeapBufferMgr::Instance();
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_DEFAULT), ERR_NONE);
    EXPECT_EQ(CHeapBufferMgr::Instance(), heap);
    // Any unnamed kind means the heap too.
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(static_cast<BufferMgr_t>(42)), ERR_NONE);
    EXPECT_EQ(CHeapBufferMgr::Instance(), heap);
    EXPECT_NO_THROW(AlignedBuffer b(16));

    AlignedBuffer::UnregisterBufferMgr();
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(16); }), ERR_NOT_INITIALIZED);
    AlignedBuffer::UnregisterBufferMgr();  // twice is harmless
}

TEST_F(HeapBuffers, ThresholdAndFigures)
{
    AlignedBuffer largest(65536);
    EXPECT_EQ(largest.Size(), 65536u);
    ASSERT_NE(largest.Ptr(), nullptr);
    std::memset(largest.Ptr(), 0xA5, largest.Size());
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(largest.Ptr()) % 512, 0u);

    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(65537); }), ERR_NO_MEMORY);
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(-1); }), ERR_INVALID_PARAM);
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(0x100000000L); }), ERR_NO_MEMORY);
    EXPECT_EQ(AlignedBuffer(0L).Size(), 0u);

    unsigned long total = 0, available = 0, largestContig = 0;
    EXPECT_EQ(AlignedBuffer::GetTotalAllocated(&total), ERR_NONE);
    EXPECT_EQ(AlignedBuffer::GetAvailable(&available), ERR_NONE);
    EXPECT_EQ(AlignedBuffer::GetLargestContig(&largestContig), ERR_NONE);
    EXPECT_EQ(total, 10240000u);
    EXPECT_EQ(available, 10240000u);
    EXPECT_EQ(largestContig, 65536u);
    EXPECT_EQ(AlignedBuffer::GetAvailable(nullptr), ERR_INVALID_PARAM);

    EXPECT_EQ(Probe::TestBuffer(4096), ERR_NONE);
    EXPECT_EQ(Probe::TestBuffer(65536), ERR_NONE);
    EXPECT_EQ(Probe::TestBuffer(65537), ERR_NO_MEMORY);
    // The manager itself hands out exactly 64 KiB, and not a byte more.
    CHeapBufferMgr* manager = CHeapBufferMgr::Instance();
    EXPECT_EQ(manager->Threshold(), 65536u);
    void* block = nullptr;
    ASSERT_EQ(manager->Allocate(65536, &block), ERR_NONE);
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(manager->Free(block), ERR_NONE);
    EXPECT_EQ(manager->Allocate(65537, &block), ERR_NO_MEMORY);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(Probe::TestBuffer(-5), ERR_INVALID_PARAM);
    // A pointer the heap manager never handed out is ignored.
    int stranger = 0;
    EXPECT_EQ(CHeapBufferMgr::Instance()->Free(&stranger), ERR_NONE);
}

TEST_F(HeapBuffers, WrappingLeavesCallerMemoryAlone)
{
    std::vector<unsigned char> memory(100000, 0x5A);
    {
        AlignedBuffer wrap(memory.data(), static_cast<long>(memory.size()));
        EXPECT_EQ(wrap.Ptr(), memory.data());
        EXPECT_EQ(wrap.Size(), memory.size());
        AlignedBuffer copy(wrap);
        EXPECT_EQ(copy.Ptr(), memory.data());
        AlignedBuffer assigned(8);
        assigned = wrap;
        EXPECT_EQ(assigned.Ptr(), memory.data());
    }
    EXPECT_EQ(memory.front(), 0x5A);
    EXPECT_EQ(memory.back(), 0x5A);
    EXPECT_EQ(ThrownCode([&] { AlignedBuffer b(memory.data(), -1); }), ERR_INVALID_PARAM);
}

TEST_F(HeapBuffers, CopiesOfOwnedBuffersOwnTheirMemory)
{
    AlignedBuffer original(64);
    std::memset(original.Ptr(), 0x11, original.Size());

    AlignedBuffer copy(original);
    ASSERT_NE(copy.Ptr(), original.Ptr());
    EXPECT_EQ(copy.Size(), 64u);
    EXPECT_EQ(std::memcmp(copy.Ptr(), original.Ptr(), 64), 0);

    AlignedBuffer assigned(8);
    assigned = original;
    ASSERT_NE(assigned.Ptr(), original.Ptr());
    EXPECT_EQ(assigned.Size(), 64u);
    EXPECT_EQ(std::memcmp(assigned.Ptr(), original.Ptr(), 64), 0);

    AlignedBuffer& self = assigned;
    assigned = self;
    EXPECT_EQ(assigned.Size(), 64u);
    EXPECT_EQ(std::memcmp(assigned.Ptr(), original.Ptr(), 64), 0);
    // Each destructor frees its own block once (AddressSanitizer checks).
}
