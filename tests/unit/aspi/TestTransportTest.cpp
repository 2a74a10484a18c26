#include "AspiTestSupport.h"

#include "core/system/CComputerSystem.h"
#include "core/system/CHostAdapter.h"
#include "core/system/CTarget.h"
#include "core/transport/CTestDriver.h"
#include "core/transport/SCSI_TestIoCtl.h"
#include "support/FileText.h"

#include <iterator>
#include <unistd.h>

namespace {

using aspi_test::AspiFixture;

class TestTransportFixture : public AspiFixture {
protected:
    void SetUp() override
    {
        AspiFixture::SetUp();
        m_Previous = std::filesystem::current_path();
        std::filesystem::current_path(m_Dir);  // "TestOut.ptb" lands in the working folder
    }
    void TearDown() override
    {
        std::filesystem::current_path(m_Previous);
        AspiFixture::TearDown();
    }

    std::string Recorded() const { return test_support::ReadText(m_Dir / CTestDriver::kOutputFile); }

    std::filesystem::path m_Previous;
};

Error_t Issue(SCSI_TestIoCtl& block, std::initializer_list<BYTE> cdb, void* data, unsigned long length)
{
    std::copy(cdb.begin(), cdb.end(), block.GetCdb(true));
    block.SetBuffer(data, static_cast<long>(length));
    EXPECT_EQ(block.CompleteCmd(static_cast<unsigned char>(cdb.size()), length, 0x08, 30, 0, 0, 0), ERR_NONE);
    const Error_t sent = block.DoIO();
    return sent != ERR_NONE ? sent : block.IsCommandComplete();
}

TEST_F(TestTransportFixture, DiskAnswersFromTheTableAndEveryCdbIsRecorded)
{
    SCSI_TestIoCtl disk(CDevAddress(2, 118, 0, 0, 0, 0), 0);
    unsigned char inquiry[36];
    std::fill(std::begin(inquiry), std::end(inquiry), 0xFF);
    ASSERT_EQ(Issue(disk, {0x12, 0, 0, 0, 36, 0}, inquiry, sizeof inquiry), ERR_CMD_COMPLETE);
    EXPECT_EQ(inquiry[0], 0xE0);  // peripheral type cleared, qualifier bits kept
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), std::string("Orb\0\0\0\0\0", 8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 16), 8), std::string("TestHA1\0", 8));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 32), 4), std::string("111\0", 4));
    EXPECT_EQ(Recorded(), std::string("\x12\0\0\0\x24\0\x06", 7));

    unsigned char capacity[8] = {};
    ASSERT_EQ(Issue(disk, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, sizeof capacity), ERR_CMD_COMPLETE);
    const unsigned char expected[8] = {0x00, 0x0C, 0x35, 0x00, 0x00, 0x00, 0x02, 0x00};
    EXPECT_TRUE(std::equal(std::begin(capacity), std::end(capacity), expected));
    EXPECT_EQ(Recorded().size(), 11u);

    // A short buffer gets what fits of the answer, nothing past it.
    unsigned char shortInquiry[12] = {};
    ASSERT_EQ(Issue(disk, {0x12, 0, 0, 0, 12, 0}, shortInquiry, sizeof shortInquiry), ERR_CMD_COMPLETE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(shortInquiry + 8), 4), std::string("Orb\0", 4));

    ASSERT_EQ(Issue(disk, {0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, nullptr, 0), ERR_CMD_COMPLETE);
    EXPECT_EQ(Recorded().size(), 17u);

    SCSI_TestIoCtl other(CDevAddress(2, 5, 0, 0, 0, 0), 0);
    EXPECT_EQ(Issue(other, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, capacity, sizeof capacity), ERR_DRIVER_FAILURE);
    EXPECT_EQ(Issue(other, {0x12, 0, 0, 0, 36, 0}, inquiry, sizeof inquiry), ERR_NO_DEVICE);
    EXPECT_EQ(Issue(other, {0x00, 0, 0, 0, 0, 0}, nullptr, 0), ERR_DRIVER_FAILURE);
}

TEST_F(TestTransportFixture, EveryPortBecomesATestAdapter)
{
    UseMachine(R"({"name": "three-ports", "ports": [
      {"port": 0, "driver": "aic78xx", "units": []},
      {"port": 1, "driver": "aic78xx", "units": []},
      {"port": 2, "driver": "aic78xx", "units": []}]})");
    AlignedBuffer::UnregisterBufferMgr();
    // Every probe rewrites "TestOut.ptb"; one LUN a target keeps the scan short.
    CTarget::SetMaxLuns(1);
    CComputerSystem* system = CComputerSystem::Instance();
    CComputerSystem::RegisterProductRunning("Harrow Test");
    ASSERT_EQ(system->Init(DRV_TEST, BUFMGR_HEAP), ERR_NONE);
    ASSERT_EQ(system->NumHostAdapters(), 3);
    for (int adapter = 0; adapter < 3; ++adapter) {
        CHostAdapter* host = system->GetHostAdapter(adapter);
        EXPECT_EQ(host->GetASPIString(), "Test HA aspi");
        EXPECT_EQ(host->GetHAString(), "Test HA ha");
        EXPECT_EQ(host->GetTargetCount(), adapter == 2 ? 1 : 0) << adapter;
    }
    EXPECT_NE(system->GetSCSIDevice(2, 118, 0), nullptr);
    CComputerSystem::Destroy();
    CTarget::SetMaxLuns(8);
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
}

TEST_F(TestTransportFixture, BuffersComeFromTheHeapAndAreFreedWithTheDriver)
{
    CTestDriver* driver = CTestDriver::Acquire();
    void* block = nullptr;
    ASSERT_EQ(driver->BufferGet(0x20000, &block), ERR_NONE);
    EXPECT_EQ(static_cast<unsigned char*>(block)[0x1FFFF], 0);
    unsigned long figure = 0;
    EXPECT_EQ(driver->GetAvailable(&figure), ERR_NONE);
    EXPECT_EQ(figure, 0x10000u);
    EXPECT_EQ(driver->BufferRelease(block), ERR_NONE);
    ASSERT_EQ(driver->BufferGet(16, &block), ERR_NONE);
    driver->Release();  // the last reference frees what is still handed out
}

}  // namespace
