#include "core/buffers/CVxdBufferMgr.h"
#include "platform/DeviceNamespace.h"
#include "platform/Files.h"
#include "support/BoundedWait.h"
#include "tests/unit/buffers/BufferTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr std::uint32_t kBlockSize = 1 << 20;
constexpr long kLarge = 100000;

// The transfer-buffer driver: answers the block request and records what it saw.
struct FakeDriver {
    void* block = nullptr;
    std::uint32_t size = 0;
    int opens = 0;
    int closes = 0;
    DWORD access = 0;
    DWORD code = 0;
    DWORD outSize = 0;
};

class FakeDriverHandle : public harrow::platform::Device {
public:
    explicit FakeDriverHandle(std::shared_ptr<FakeDriver> driver) : m_driver(std::move(driver)) {}
    ~FakeDriverHandle() override { ++m_driver->closes; }

    BOOL IoControl(DWORD code, const void*, DWORD, void* out, DWORD outSize, DWORD* returned,
                   DWORD* error) override
    {
        m_driver->code = code;
        m_driver->outSize = outSize;
        if (code != 0x9C402404 || outSize < sizeof(VxdBlockInfo_s)) {
            *error = ERROR_INVALID_FUNCTION;
            return FALSE;
        }
        VxdBlockInfo_s info{};
        info.address = m_driver->block;
        info.size = m_driver->size;
        std::memcpy(out, &info, sizeof info);
        *returned = sizeof info;
        return TRUE;
    }

private:
    std::shared_ptr<FakeDriver> m_driver;
};

// A machine whose only device is the driver (none when driver is null).
class FakeMachine : public harrow::platform::Machine {
public:
    explicit FakeMachine(std::shared_ptr<FakeDriver> driver) : m_driver(std::move(driver)) {}

    std::unique_ptr<harrow::platform::Device> Open(const std::string& name, DWORD access,
                                                   DWORD* error) override
    {
        if (name != "ORBSTB32.VXD" || m_driver == nullptr) {
            *error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        ++m_driver->opens;
        m_driver->access = access;
        return std::make_unique<FakeDriverHandle>(m_driver);
    }
    std::vector<harrow::platform::RegistryKey> DeviceMap() const override { return {}; }

private:
    std::shared_ptr<FakeDriver> m_driver;
};

class VxdBuffers : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_driver->block = m_block.data();
        m_driver->size = kBlockSize;
        harrow::platform::SetActiveMachine(std::make_unique<FakeMachine>(m_driver));
        ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_VXD), ERR_NONE);
    }
    void TearDown() override
    {
        AlignedBuffer::UnregisterBufferMgr();
        harrow::platform::SetActiveMachine(nullptr);
    }

    std::vector<unsigned char> m_block = std::vector<unsigned char>(kBlockSize);
    std::shared_ptr<FakeDriver> m_driver = std::make_shared<FakeDriver>();
};

}  // namespace

TEST_F(VxdBuffers, AsksTheDriverForItsBlock)
{
    EXPECT_EQ(m_driver->opens, 1);
    EXPECT_EQ(m_driver->access, GENERIC_READ | GENERIC_WRITE);
    EXPECT_EQ(m_driver->code, 0x9C402404u);
    EXPECT_EQ(m_driver->outSize, sizeof(VxdBlockInfo_s));

    unsigned long total = 1, largest = 0;
    EXPECT_EQ(AlignedBuffer::GetTotalAllocated(&total), ERR_NONE);
    EXPECT_EQ(AlignedBuffer::GetLargestContig(&largest), ERR_NONE);
    EXPECT_EQ(total, 0u);
    EXPECT_EQ(largest, kBlockSize);
    EXPECT_EQ(Available(), kBlockSize);

    AlignedBuffer::UnregisterBufferMgr();
    EXPECT_EQ(m_driver->closes, 1);
}

TEST_F(VxdBuffers, OneLargeBufferAtATime)
{
    {
        AlignedBuffer small(65536);  // heap, not the block
        EXPECT_NE(small.Ptr(), m_block.data());

        AlignedBuffer first(kLarge);
        EXPECT_EQ(first.Ptr(), m_block.data());
        EXPECT_EQ(first.Size(), static_cast<unsigned long>(kLarge));
        EXPECT_EQ(Available(), 0u);
        EXPECT_EQ(ThrownCode([] { AlignedBuffer second(kLarge); }), ERR_NO_MEMORY);
        // A deep copy cannot get a second block either, and the original keeps its own.
        EXPECT_EQ(ThrownCode([&] { AlignedBuffer copy(first); }), ERR_NO_MEMORY);
        EXPECT_EQ(Available(), 0u);

        // A large wrapping buffer must not give the block back when it goes.
        std::vector<unsigned char> caller(kLarge);
        { AlignedBuffer wrap(caller.data(), kLarge); }
        EXPECT_EQ(Available(), 0u);
    }
    EXPECT_EQ(Available(), kBlockSize);
    AlignedBuffer again(kBlockSize);
    EXPECT_EQ(again.Ptr(), m_block.data());
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(kBlockSize + 1L); }), ERR_NO_MEMORY);
}

TEST_F(VxdBuffers, ManagerRejectsForeignBlocksAndProbeGivesBack)
{
    CVxdBufferMgr* vxd = CVxdBufferMgr::Instance();
    void* block = nullptr;
    ASSERT_EQ(vxd->Allocate(kLarge, &block), ERR_NONE);
    int stranger = 0;
    EXPECT_EQ(vxd->Free(&stranger), ERR_INVALID_PARAM);
    EXPECT_EQ(vxd->Free(nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(Available(), 0u);
    EXPECT_EQ(vxd->Free(block), ERR_NONE);

    EXPECT_EQ(Probe::TestBuffer(kLarge), ERR_NONE);
    EXPECT_EQ(Available(), kBlockSize);
    EXPECT_EQ(Probe::TestBuffer(kBlockSize + 1L), ERR_NO_MEMORY);
}

TEST_F(VxdBuffers, BufferMayOutliveItsManager)
{
    auto stale = std::make_unique<AlignedBuffer>(kLarge);
    AlignedBuffer::UnregisterBufferMgr();

    // A newer manager hands the same block on; the stale buffer must neither
    // touch the deleted manager nor free the block under the new holder.
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_VXD), ERR_NONE);
    auto current = std::make_unique<AlignedBuffer>(kLarge);
    stale.reset();
    EXPECT_EQ(Available(), 0u);
    current.reset();
    EXPECT_EQ(Available(), kBlockSize);
}

TEST_F(VxdBuffers, BufferFreesThroughTheManagerThatSuppliedIt)
{
    auto held = std::make_unique<AlignedBuffer>(kLarge);
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
    held.reset();
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_VXD), ERR_NONE);
    EXPECT_EQ(Available(), kBlockSize);
}

TEST_F(VxdBuffers, ConcurrentThreadsNeverShareTheBlock)
{
    std::atomic<int> holders{0};
    std::atomic<bool> shared{false};
    std::atomic<int> granted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                try {
                    AlignedBuffer buffer(kLarge);
                    if (holders.fetch_add(1) != 0) {
                        shared = true;
                    }
                    ++granted;
                    holders.fetch_sub(1);
                } catch (Error_t) {
                }
            }
        });
    }
    test_support::JoinWithin(threads, "threads sharing the transfer-buffer driver");
    EXPECT_FALSE(shared);
    EXPECT_GT(granted.load(), 0);
    EXPECT_EQ(Available(), kBlockSize);
}

TEST(VxdBuffersWithoutDriver, BlockIsEmpty)
{
    harrow::platform::SetActiveMachine(std::make_unique<FakeMachine>(nullptr));
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_VXD), ERR_NONE);
    EXPECT_EQ(Available(), 0u);
    EXPECT_EQ(ThrownCode([] { AlignedBuffer b(kLarge); }), ERR_NO_MEMORY);
    EXPECT_NO_THROW(AlignedBuffer b(65536));
    AlignedBuffer::UnregisterBufferMgr();
    harrow::platform::SetActiveMachine(nullptr);
}
