// The control-block pool: growing and shrinking, hand-out order, limits,
// queue types and several threads sharing the free list.
#include "DeviceTestSupport.h"
#include "support/BoundedWait.h"

#include <atomic>
#include <set>
#include <thread>

namespace devices_test {
namespace {

using BlockPool = ScriptedFixture;

TEST_F(BlockPool, GrowingAndShrinking)
{
    EXPECT_EQ(m_Device->SetIoCtlBlocks(4), 1UL);  // the index of the first new block
    EXPECT_EQ(m_Device->GetNumCtlBlocks(), 4UL);
    CScsiIoCtl* fourth = m_Device->GetCtlBlock(4);
    EXPECT_EQ(fourth->GetBlockIndex(), 4);
    EXPECT_EQ(m_Device->SetIoCtlBlocks(2), 1UL);  // enough already: nothing made
    EXPECT_EQ(m_Device->GetCtlBlock(4), fourth);
    EXPECT_EQ(m_Device->SetIoCtlBlocks(6), 5UL);
    EXPECT_EQ(m_Device->GetNumCtlBlocks(), 6UL);
    EXPECT_EQ(m_Device->GetCtlBlock(7), m_Device->GetCtlBlock(0));  // out of range: block 0

    EXPECT_EQ(m_Device->ClearIoCtlBlocks(3), ERR_NONE);
    EXPECT_EQ(m_Device->GetNumCtlBlocks(), 3UL);
    // Block 0 is never deleted.
    EXPECT_EQ(m_Device->ClearIoCtlBlocks(10), ERR_NO_RESOURCE);
    EXPECT_EQ(m_Device->GetNumCtlBlocks(), 0UL);
    EXPECT_NE(m_Device->GetCtlBlock(0), nullptr);

    // 256 blocks at most, block 0 included.
    EXPECT_EQ(m_Device->SetIoCtlBlocks(300), static_cast<unsigned long>(-1));
    EXPECT_EQ(m_Device->GetNumCtlBlocks(), 255UL);
}

TEST_F(BlockPool, HandOutOrderAndLimits)
{
    m_Device->SetIoCtlBlocks(1);
    EXPECT_EQ(m_Device->InitCtlBlkMgr(), ERR_TOO_FEW_CTL_BLOCKS);
    m_Device->SetIoCtlBlocks(3);
    ASSERT_EQ(m_Device->InitCtlBlkMgr(), ERR_NONE);
    EXPECT_EQ(m_Device->InitCtlBlkMgr(), ERR_ALREADY_INITIALIZED);

    int num = 0;
    for (int expected : {1, 2, 3}) {
        ASSERT_EQ(m_Device->GetFreeCtlBlkNum(&num, 100), ERR_NONE);
        EXPECT_EQ(num, expected);
    }
    EXPECT_EQ(m_Device->GetFreeCtlBlkNum(&num, 100), ERR_NO_FREE_CTL_BLOCK);
    EXPECT_EQ(num, -1);

    EXPECT_EQ(m_Device->ReleaseCtlBlkNum(2), ERR_NONE);
    EXPECT_EQ(m_Device->ReleaseCtlBlkNum(3), ERR_NONE);
    ASSERT_EQ(m_Device->GetFreeCtlBlkNum(&num, 100), ERR_NONE);
    EXPECT_EQ(num, 2);  // first back, first out

    // A number given back twice, block 0, or one the device lacks would hand one block to two threads.
    EXPECT_EQ(m_Device->ReleaseCtlBlkNum(3), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->ReleaseCtlBlkNum(0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->ReleaseCtlBlkNum(4), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->GetFreeCtlBlkNum(nullptr, 100), ERR_INVALID_PARAM);

    // Deleted blocks leave the free list.
    EXPECT_EQ(m_Device->ClearIoCtlBlocks(1), ERR_NONE);
    ASSERT_EQ(m_Device->GetFreeCtlBlkNum(&num, 100), ERR_NO_FREE_CTL_BLOCK);
}

TEST_F(BlockPool, ThreadsNeverShareABlock)
{
    m_Device->SetIoCtlBlocks(3);
    ASSERT_EQ(m_Device->InitCtlBlkMgr(), ERR_NONE);
    std::atomic<int> inUse[4] = {};
    std::atomic<bool> clash{false};
    std::atomic<int> served{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i) {
                int num = -1;
                if (m_Device->GetFreeCtlBlkNum(&num, 1000) != ERR_NONE) {
                    std::this_thread::yield();
                    continue;
                }
                if (inUse[num].fetch_add(1) != 0) {
                    clash = true;
                }
                ++served;
                inUse[num].fetch_sub(1);
                EXPECT_EQ(m_Device->ReleaseCtlBlkNum(num), ERR_NONE);
            }
        });
    }
    test_support::JoinWithin(threads, "threads sharing the block pool");
    EXPECT_FALSE(clash);
    EXPECT_GT(served.load(), 0);
    std::set<int> left;
    int num = 0;
    while (m_Device->GetFreeCtlBlkNum(&num, 100) == ERR_NONE) {
        left.insert(num);
    }
    EXPECT_EQ(left, (std::set<int>{1, 2, 3}));
}

TEST_F(BlockPool, QueueTypes)
{
    m_Device->SetIoCtlBlocks(2);
    EXPECT_FALSE(m_Device->SetQueueType(0, QTYPE_SIMPLE));  // block 0 stays untagged
    EXPECT_TRUE(m_Device->SetQueueType(0, QTYPE_UNTAGGED));
    EXPECT_TRUE(m_Device->SetQueueType(1, QTYPE_SIMPLE));  // whatever the transport answered
    EXPECT_FALSE(m_Device->SetQueueType(3, QTYPE_SIMPLE));
    EXPECT_TRUE(m_Device->SetQueueType(QTYPE_SIMPLE));
    EXPECT_FALSE(m_Device->IsQueuingSupported());
    EXPECT_EQ(m_Device->GetCtlBlock(0)->GetQueueType(), QTYPE_UNTAGGED);

    m_Adapter.script->TaggedQueuing = true;
    EXPECT_TRUE(m_Device->IsQueuingSupported());
    EXPECT_EQ(m_Device->GetCtlBlock(0)->GetQueueType(), QTYPE_SIMPLE);
    EXPECT_EQ(m_Device->IsCommandComplete(3), ERR_INVALID_PARAM);
}

}  // namespace
}  // namespace devices_test
