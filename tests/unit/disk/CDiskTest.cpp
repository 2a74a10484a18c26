#include "DeviceFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"
#include "core/system/CComputerSystem.h"
#include "core/transport/CScsiIoCtl.h"
#include "core/types/CEventError.h"
#include "support/BoundedWait.h"

#include <cstring>
#include <thread>

namespace disk_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// 0x110000 blocks, so the last block is 0x0010FFFF; LBA 100 is unreadable.
constexpr const char* kMachine = R"({"name": "disk", "ports": [{"driver": "aic78xx", "units": [
    {"target": 0, "blocks": 1114112, "durations": {"format": 0.2}, "faults": {"mediumErrors": [100]}},
    {"target": 1, "blocks": 4096, "readDefectData12": false},
    {"target": 2, "blocks": 6442450944}]}]})";

class CDiskTest : public DeviceFixture {
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        StartMachine(kMachine);
        m_Disk = Make<CDisk>(0);
    }

    std::unique_ptr<CDisk> m_Disk;
};

AlignedBuffer Filled(long size, std::uint8_t value)
{
    AlignedBuffer buffer(size);
    std::memset(buffer.Ptr(), value, buffer.Size());
    return buffer;
}

const std::uint8_t* BytesOf(const AlignedBuffer& buffer)
{
    return static_cast<const std::uint8_t*>(buffer.Ptr());
}

TEST_F(CDiskTest, InitReadsCapacity)
{
    EXPECT_EQ(m_Disk->GetBlocksCapacity(), 0x00110000);
    EXPECT_EQ(m_Disk->GetHighBlock(), 0x0010FFFFu);
    EXPECT_EQ(m_Disk->GetBlockLength(), 512u);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(m_Disk->GetErrorInfo()->GetTotalErrors(), 0);
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 8u);

    AlignedBuffer own(8);
    EXPECT_EQ(m_Disk->ReadCapacity(0, 0, 1, &own, true), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk)[8], 0x01);
    EXPECT_EQ(Bytes(BytesOf(own), BytesOf(own) + 8), (Bytes{0x00, 0x10, 0xFF, 0xFF, 0x00, 0x00, 0x02, 0x00}));
    AlignedBuffer tooSmall(4);
    EXPECT_EQ(m_Disk->ReadCapacity(0, 0, 0, &tooSmall, false), ERR_INVALID_PARAM);
}

TEST_F(CDiskTest, ReadAndWriteBuildTheirCdbs)
{
    AlignedBuffer out = Filled(8 * 512, 0x5A);
    EXPECT_EQ(m_Disk->Write(0, 0x10, 8, &out, 1, 0, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x2A, 0x08, 0, 0, 0, 0x10, 0, 0, 8, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataIn, SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 4096u);

    AlignedBuffer in = Filled(8 * 512, 0);
    EXPECT_EQ(m_Disk->Read(0, 0x10, 8, &in, 1, 0, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x28, 0x10, 0, 0, 0, 0x10, 0, 0, 8, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(std::memcmp(in.Ptr(), out.Ptr(), 4096), 0);

    AlignedBuffer one = Filled(512, 0);
    EXPECT_EQ(m_Disk->Read6(m_Disk->GetCtlBlock(0), 0x10F456, 1, &one), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x08, 0x10, 0xF4, 0x56, 0x01, 0}));
    EXPECT_EQ(m_Disk->Write6(m_Disk->GetCtlBlock(0), 0x11, 1, &one), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x0A, 0x00, 0x00, 0x11, 0x01, 0}));
    EXPECT_EQ(m_Disk->Seek6(m_Disk->GetCtlBlock(0), 0x1234), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x0B, 0x00, 0x12, 0x34, 0, 0}));
    EXPECT_EQ(m_Disk->Seek(0, 0x10FFFF), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x2B, 0, 0x00, 0x10, 0xFF, 0xFF, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 0u);
}

TEST_F(CDiskTest, DriveBeyondTwoTebibytesIsSizedWithTheSixteenByteCommand)
{
    auto large = Make<CDisk>(2);
    EXPECT_EQ(SentCdb(*large), (Bytes{0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}));
    EXPECT_EQ(large->GetHighBlock(), 6442450943UL);
    EXPECT_EQ(large->GetBlocksCapacity(), 6442450944L);
    EXPECT_EQ(large->GetBlockLength(), 512UL);
    EXPECT_NE(large->GetInquiryString().find(", 6442450943)"), std::string::npos);
    // A drive within 32 bits is not asked twice.
    ASSERT_EQ(m_Disk->ReadCapacity(0, 0, 0, nullptr, false), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk)[0], 0x25);
}

TEST_F(CDiskTest, ArgumentChecksReturnWithoutSending)
{
    AlignedBuffer buffer = Filled(512, 0);
    ASSERT_EQ(m_Disk->TestUnitReady(0), ERR_NONE);
    const Bytes before = SentCdb(*m_Disk);
    CScsiIoCtl* block = m_Disk->GetCtlBlock(0);
    EXPECT_EQ(m_Disk->Read10(block, 0, 1, &buffer, 0, 2, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->Write10(block, 0, 1, &buffer, 0, -1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->Read(0, 0, 1, &buffer, 0, 0, 3), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->Verify(0, 0, 1, nullptr, 0, 1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->ReassignBlocks(0, nullptr), ERR_INVALID_PARAM);
    // Counts and addresses a CDB cannot carry would reach other blocks.
    EXPECT_EQ(m_Disk->Read6(block, 0x200000, 1, &buffer), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->Read6(block, 0, 0, &buffer), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->Read10(block, 0, 0x10000, &buffer, 0, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->Write(0, 0, -1, &buffer, 0, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->ReadLong(0, 0, 0x10000, &buffer, 0), ERR_INVALID_PARAM);
    int cdbUsed = 9;
    EXPECT_EQ(m_Disk->ReadDefectData(0, 0, 1, 4, &buffer, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->ReadDefectCount(0, nullptr, 0, 1, 4, &cdbUsed), ERR_INVALID_PARAM);
    EXPECT_EQ(SentCdb(*m_Disk), before);
    // More blocks than the buffer holds.
    EXPECT_EQ(m_Disk->Read(0, 0, 2, &buffer, 0, 0, 0), ERR_BUFFER_TOO_SMALL);
}

TEST_F(CDiskTest, TransfersNeedTheCapacity)
{
    SCSIDevice probe(&m_Adapter, 0, 0, 0);
    ASSERT_EQ(probe.Init(), ERR_NONE);
    CDisk fresh(&probe);
    ASSERT_EQ(fresh.SCSIDevice::Init(), ERR_NONE);
    AlignedBuffer buffer = Filled(512, 0);
    EXPECT_EQ(fresh.GetBlockLength(), 0u);
    EXPECT_EQ(fresh.Read(0, 0, 1, &buffer, 0, 0, 0), ERR_NOT_INITIALIZED);
    EXPECT_EQ(fresh.WriteSame(0, &buffer, 0, 1, 0, 0, 0), ERR_NOT_INITIALIZED);
    EXPECT_EQ(fresh.Verify(0, 0, 1, nullptr, 0, 0, 0), ERR_NONE);
}

TEST_F(CDiskTest, FailuresAreThrownAsEvents)
{
    AlignedBuffer buffer = Filled(4 * 512, 0);
    auto medium = Failure([&] { m_Disk->Read(0, 98, 4, &buffer, 0, 0, 0); });
    ASSERT_NE(medium, nullptr);
    EXPECT_EQ(medium->GetErrorCode(), ERR_CHECK_CONDITION);
    EXPECT_EQ(medium->GetSenseKey(), 0x03);
    EXPECT_EQ(medium->GetASC(), 0x11);
    EXPECT_EQ(m_Disk->GetErrorInfo()->GetHardErrors(), 1);

    auto range = Failure([&] { m_Disk->Seek(0, 0x110000); });
    ASSERT_NE(range, nullptr);
    EXPECT_EQ(range->GetSenseKey(), 0x05);
    EXPECT_EQ(range->GetASC(), 0x21);
}

TEST_F(CDiskTest, VerifyAndOtherBlockCommands)
{
    AlignedBuffer data = Filled(2 * 512, 0xC3);
    EXPECT_EQ(m_Disk->WriteVerify(0, 40, 2, &data, 1, 0, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x2E, 0x10, 0, 0, 0, 40, 0, 0, 2, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 1024u);
    EXPECT_EQ(m_Disk->Verify(0, 40, 2, &data, 0, 1, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x2F, 0x02, 0, 0, 0, 40, 0, 0, 2, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataIn, SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(m_Disk->Verify(0, 40, 2, &data, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 0u);

    EXPECT_EQ(m_Disk->SyncCache(0, 7, 3, 1, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x35, 0x02, 0, 0, 0, 7, 0, 0, 3, 0}));
    EXPECT_EQ(m_Disk->PreFetch(0, 7, 3, 1, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x34, 0x02, 0, 0, 0, 7, 0, 0, 3, 0}));
    EXPECT_EQ(m_Disk->ReZero(0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x01, 0, 0, 0, 0, 0}));

    EXPECT_EQ(m_Disk->StartStopUnit(0, false, true), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x1B, 0x01, 0, 0, 0x00, 0}));
    EXPECT_EQ(m_Disk->StartStopUnit(0, true, false), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x1B, 0x00, 0, 0, 0x01, 0}));
}

TEST_F(CDiskTest, ReservationsSendTheirOpcodes)
{
    CScsiIoCtl* block = m_Disk->GetCtlBlock(0);
    EXPECT_EQ(m_Disk->Reserve6(block, 1, 3, 0, 7, nullptr), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x16, 0x16, 0x07, 0, 0, 0}));
    EXPECT_EQ(m_Disk->Release6(block, 0, 0, 0, 0, nullptr), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x17, 0, 0, 0, 0, 0}));
    EXPECT_EQ(m_Disk->Reserve10(block, 1, 3, 0, 7, nullptr), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x56, 0x10, 0x07, 0x03, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(m_Disk->Release10(block, 0, 0, 0, 0, nullptr), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk)[0], 0x57);
    // The drive takes no extent reservations.
    AlignedBuffer extents = Filled(8, 0);
    auto refused = Failure([&] { m_Disk->Reserve10(block, 0, 0, 1, 0, &extents); });
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->GetSenseKey(), 0x05);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x56, 0x01, 0, 0, 0, 0, 0, 0, 8, 0}));
}

TEST_F(CDiskTest, FormatParameterListAndNewBlockSize)
{
    // Ask for 1024-byte blocks; they take effect at the format.
    AlignedBuffer select = Filled(12, 0);
    auto* bytes = static_cast<std::uint8_t*>(select.Ptr());
    bytes[3] = 8;
    bytes[10] = 0x04;
    ASSERT_EQ(m_Disk->ModeSelect(0, &select, 12, 1, 0, MODE_HDR_6), ERR_NONE);

    AlignedBuffer list = Filled(16, 0xEE);
    EXPECT_EQ(m_Disk->FormatUnit(0, format_struct{0x10, 4, 0}, 0, 0, &list), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x04, 0x10, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 4u);
    EXPECT_EQ(Sent(*m_Disk).Spt.TimeOutValue, 108000u);
    EXPECT_EQ(Bytes(BytesOf(list), BytesOf(list) + 5), (Bytes{0, 0, 0, 0, 0xEE}));
    EXPECT_EQ(m_Disk->ReadCapacity(0, 0, 0, nullptr, false), ERR_NONE);
    EXPECT_EQ(m_Disk->GetBlockLength(), 1024u);
    EXPECT_EQ(m_Disk->GetBlocksCapacity(), 0x110000 / 2);

    // FOV and IP in the header, a 4-byte pattern already in place at byte 8;
    // a header copy length beyond the 4-byte values is held to 4.
    std::memset(list.Ptr(), 0xA5, list.Size());
    const defectListHeader header = 0x8800;
    const IPdescriptor descriptor = 0x04000100;
    EXPECT_EQ(m_Disk->FormatUnit(0, format_struct{0x18, 8, 4}, header, descriptor, &list), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x04, 0x18, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 12u);
    EXPECT_EQ(Bytes(BytesOf(list), BytesOf(list) + 13),
              (Bytes{0x00, 0x88, 0x00, 0x00, 0x00, 0x01, 0x00, 0x04, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}));

    AlignedBuffer small = Filled(8, 0);
    EXPECT_EQ(m_Disk->FormatUnit(0, format_struct{0x18, 4, 4}, header, descriptor, &small), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Disk->FormatUnit(0, format_struct{0x10, 4, 0}, 0, 0, nullptr), ERR_INVALID_PARAM);

    EXPECT_EQ(m_Disk->FormatUnit(0, 0, 1, 0, 1, nullptr), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x04, 0x08, 0, 0x00, 0x01, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.TimeOutValue, 30u);
}

TEST_F(CDiskTest, ReassignGrowsTheDefectList)
{
    int cdbUsed = 0;
    long count = -1;
    EXPECT_EQ(m_Disk->ReadDefectCount(0, &count, 0, 1, 0, &cdbUsed), ERR_NONE);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(cdbUsed, 3);

    AlignedBuffer reassign = Filled(12, 0);
    auto* list = static_cast<std::uint8_t*>(reassign.Ptr());
    list[3] = 8;     // two 4-byte descriptors
    list[7] = 100;   // the unreadable block
    list[10] = 0x01;  // and 0x100
    EXPECT_EQ(m_Disk->ReassignBlocks(0, &reassign), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x07, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 12u);
    AlignedBuffer block = Filled(512, 0);
    EXPECT_EQ(m_Disk->Read(0, 100, 1, &block, 0, 0, 0), ERR_NONE);

    EXPECT_EQ(m_Disk->ReadDefectCount(0, &count, 0, 1, 0, &cdbUsed), ERR_NONE);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0xB7, 0x08, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0}));
    EXPECT_EQ(m_Disk->ReadDefectCount(0, &count, 0, 1, 4, &cdbUsed), ERR_NONE);
    EXPECT_EQ(count, 2);

    AlignedBuffer defects = Filled(64, 0xEE);
    EXPECT_EQ(m_Disk->ReadDefectData(0, 0, 1, 0, &defects, &cdbUsed), ERR_NONE);
    EXPECT_EQ(cdbUsed, 3);
    EXPECT_EQ(Bytes(BytesOf(defects), BytesOf(defects) + 20),
              (Bytes{0, 0x08, 0, 0, 0, 0, 0, 8, 0, 0, 0, 100, 0, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(m_Disk->ReadDefectData10(m_Disk->GetCtlBlock(0), 1, 1, 0, &defects), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x37, 0, 0x18, 0, 0, 0, 0, 0, 64, 0}));
    EXPECT_EQ(Bytes(BytesOf(defects), BytesOf(defects) + 12), (Bytes{0, 0x18, 0, 8, 0, 0, 0, 100, 0, 0, 1, 0}));
}

TEST_F(CDiskTest, DefectReadFallsBackOnlyOnIllegalRequest)
{
    AlignedBuffer defects = Filled(64, 0);
    int cdbUsed = 9;
    // Format 1 is refused by both commands: the 10-byte attempt is made and its failure thrown.
    auto refused = Failure([&] { m_Disk->ReadDefectData(0, 0, 1, 1, &defects, &cdbUsed); });
    ASSERT_NE(refused, nullptr);
    EXPECT_EQ(refused->GetSenseKey(), 0x05);
    EXPECT_EQ(cdbUsed, 0);
    EXPECT_EQ(SentCdb(*m_Disk)[0], 0x37);
    EXPECT_EQ(m_Disk->GetLogState(), 0u);
    EXPECT_EQ(m_Disk->GetErrorInfo()->GetHardErrors(), 1);  // the 10-byte failure alone

    ASSERT_EQ(m_Disk->StartStopUnit(0, false, false), ERR_NONE);
    cdbUsed = 9;
    auto notReady = Failure([&] { m_Disk->ReadDefectData(0, 0, 1, 0, &defects, &cdbUsed); });
    ASSERT_NE(notReady, nullptr);
    EXPECT_EQ(notReady->GetSenseKey(), 0x02);
    EXPECT_EQ(cdbUsed, 0);
    EXPECT_EQ(SentCdb(*m_Disk)[0], 0xB7);
    EXPECT_EQ(m_Disk->GetErrorInfo()->GetHardErrors(), 2);
    long count = 0;
    auto countNotReady = Failure([&] { m_Disk->ReadDefectCount(0, &count, 0, 1, 0, &cdbUsed); });
    ASSERT_NE(countNotReady, nullptr);
    EXPECT_EQ(countNotReady->GetSenseKey(), 0x02);
}

TEST_F(CDiskTest, OlderDriveIsReadWithTheTenByteCommand)
{
    auto older = Make<CDisk>(1);
    AlignedBuffer reassign = Filled(4 + 10 * 4, 0);
    auto* list = static_cast<std::uint8_t*>(reassign.Ptr());
    list[3] = 40;
    for (int i = 0; i < 10; ++i) {
        list[4 + 4 * i + 3] = static_cast<std::uint8_t>(50 + i);
    }
    ASSERT_EQ(older->ReassignBlocks(0, &reassign), ERR_NONE);

    older->SetLogState(4);
    AlignedBuffer defects = Filled(64, 0xEE);
    int cdbUsed = 0;
    EXPECT_EQ(older->ReadDefectData(0, 0, 1, 0, &defects, &cdbUsed), ERR_NONE);
    EXPECT_EQ(cdbUsed, 2);
    EXPECT_EQ(SentCdb(*older), (Bytes{0x37, 0, 0x08, 0, 0, 0, 0, 0, 64, 0}));
    EXPECT_EQ(Bytes(BytesOf(defects), BytesOf(defects) + 8), (Bytes{0, 0x08, 0, 40, 0, 0, 0, 50}));
    EXPECT_EQ(older->GetLogState(), 4u);

    long count = 0;
    cdbUsed = 0;
    EXPECT_EQ(older->ReadDefectCount(0, &count, 0, 1, 0, &cdbUsed), ERR_NONE);
    EXPECT_EQ(cdbUsed, 2);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(older->ReadDefectCount(0, &count, 0, 1, 4, &cdbUsed), ERR_NONE);
    EXPECT_EQ(count, 10);
    EXPECT_EQ(SentCdb(*older), (Bytes{0x37, 0, 0x0C, 0, 0, 0, 0, 0, 8, 0}));
    // The refused 12-byte reads were expected: a healthy drive has no errors.
    EXPECT_EQ(older->GetErrorInfo()->GetTotalErrors(), 0);
}

TEST_F(CDiskTest, WriteLongAndWriteSame)
{
    AlignedBuffer longBlock = Filled(566, 0x3C);
    EXPECT_EQ(m_Disk->WriteLong(0, 5, 566, &longBlock, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x3F, 0, 0, 0, 0, 5, 0, 0x02, 0x36, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataIn, SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 566u);

    AlignedBuffer pattern = Filled(512, 0x77);
    EXPECT_EQ(m_Disk->WriteSame(0, &pattern, 6, 4, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x41, 0, 0, 0, 0, 6, 0, 0, 4, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataTransferLength, 512u);

    AlignedBuffer back = Filled(5 * 512, 0);
    ASSERT_EQ(m_Disk->Read(0, 5, 5, &back, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(Bytes(BytesOf(back), BytesOf(back) + 512), Bytes(512, 0x3C));
    EXPECT_EQ(Bytes(BytesOf(back) + 512, BytesOf(back) + 5 * 512), Bytes(4 * 512, 0x77));
    auto stamped = Failure([&] { m_Disk->WriteSame(0, &pattern, 6, 4, 0, 1, 0); });
    ASSERT_NE(stamped, nullptr);
    EXPECT_EQ(SentCdb(*m_Disk)[1], 0x02);
}

TEST_F(CDiskTest, LongBlockLengthFromTheWrongLengthAnswer)
{
    long length = -1;
    m_Disk->SetLogState(5);
    EXPECT_EQ(m_Disk->CalcLongBlockLength(length), ERR_NONE);
    EXPECT_EQ(length, 512 + 54);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x3E, 0, 0, 0, 0, 0, 0, 0x04, 0x00, 0}));
    EXPECT_EQ(m_Disk->GetLogState(), 5u);

    AlignedBuffer longBlock = Filled(566, 0xEE);
    EXPECT_EQ(m_Disk->ReadLong(0, 3, 566, &longBlock, 1), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x3E, 0x01, 0, 0, 0, 3, 0, 0x02, 0x36, 0}));
    EXPECT_EQ(Sent(*m_Disk).Spt.DataIn, SCSI_IOCTL_DATA_IN);

    // A stopped drive answers NOT READY: that code is the result.
    ASSERT_EQ(m_Disk->StartStopUnit(0, false, false), ERR_NONE);
    EXPECT_EQ(m_Disk->CalcLongBlockLength(length), ERR_CHECK_CONDITION);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(m_Disk->GetLogState(), 5u);
}

TEST_F(CDiskTest, SilentSystemThrowsNullEventsYetStillFallsBack)
{
    struct Silence {
        Silence() { CComputerSystem::Instance()->SetSilent(true); }
        ~Silence() { CComputerSystem::Instance()->SetSilent(false); }
    } silence;
    long length = 0;
    EXPECT_EQ(m_Disk->CalcLongBlockLength(length), ERR_NONE);
    EXPECT_EQ(length, 566);

    auto older = Make<CDisk>(1);
    AlignedBuffer defects = Filled(64, 0);
    int cdbUsed = 0;
    EXPECT_EQ(older->ReadDefectData(0, 0, 1, 0, &defects, &cdbUsed), ERR_NONE);
    EXPECT_EQ(cdbUsed, 2);

    AlignedBuffer block = Filled(512, 0);
    bool thrown = false;
    try {
        m_Disk->Read(0, 100, 1, &block, 0, 0, 0);
    } catch (CEventBase* event) {
        thrown = true;
        EXPECT_EQ(event, nullptr);
        delete event;
    }
    EXPECT_TRUE(thrown);
}

TEST_F(CDiskTest, RetryFlagResendsThePreviousRequest)
{
    AlignedBuffer block = Filled(512, 0);
    ASSERT_EQ(m_Disk->Read(0, 9, 1, &block, 0, 0, 0), ERR_NONE);
    ASSERT_EQ(m_Disk->SetRetryCmd(0), ERR_NONE);
    EXPECT_EQ(m_Disk->Seek(0, 77), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Disk), (Bytes{0x28, 0, 0, 0, 0, 9, 0, 0, 1, 0}));
    ASSERT_EQ(m_Disk->UnSetRetryCmd(0), ERR_NONE);
}

TEST_F(CDiskTest, ThreadsOnTheirOwnBlocks)
{
    ASSERT_EQ(m_Disk->SetIoCtlBlocks(2), 1u);
    auto worker = [&](unsigned long index, std::uint8_t value) {
        AlignedBuffer out = Filled(4 * 512, value);
        AlignedBuffer in = Filled(4 * 512, 0);
        for (unsigned long lba = 1000 * index; lba < 1000 * index + 64; lba += 4) {
            EXPECT_EQ(m_Disk->Write(index, lba, 4, &out, 0, 0, 0), ERR_NONE);
            EXPECT_EQ(m_Disk->Read(index, lba, 4, &in, 0, 0, 0), ERR_NONE);
            EXPECT_EQ(std::memcmp(in.Ptr(), out.Ptr(), in.Size()), 0);
        }
    };
    std::vector<std::thread> workers;
    workers.emplace_back(worker, 1, 0x11);
    workers.emplace_back(worker, 2, 0x22);
    test_support::JoinWithin(workers, "two disk threads on their own blocks");
    PerfData_t perf{};
    m_Disk->GetCtlBlock(2)->GetPerfCounters(&perf);
    EXPECT_EQ(perf.BlocksWritten, 64u);
}

}  // namespace
}  // namespace disk_test
