#include "TransportFixture.h"

#include "core/transport/SRB_ExecSCSICmd.h"
#include "core/types/CEventError.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <tuple>
#include <utility>

namespace transport_test {
namespace {

constexpr std::uint8_t kTestUnitReady = 0x00;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;

template <class T>
T BytesAt(const void* base, std::size_t offset)
{
    T value;
    std::memcpy(&value, static_cast<const BYTE*>(base) + offset, sizeof value);
    return value;
}

// The port writes sense where the request says, not where the code assumes.
PassThroughAnswer CheckCondition(std::uint8_t responseCode, std::uint8_t key, std::uint8_t asc)
{
    return [=](NTPortRequest_s& request, DWORD*) {
        request.Spt.ScsiStatus = 0x02;
        BYTE* sense = reinterpret_cast<BYTE*>(&request) + request.Spt.SenseInfoOffset;
        sense[0] = responseCode;
        sense[2] = key;
        sense[7] = 10;
        sense[12] = asc;
        return true;
    };
}

// Descriptor-format sense (SPC-4 4.5.2): key, ASC and ASCQ in bytes 1-3, then
// `additional` bytes of descriptors, here one information descriptor cut short.
PassThroughAnswer DescriptorCheckCondition(std::uint8_t responseCode, std::uint8_t additional)
{
    return [=](NTPortRequest_s& request, DWORD*) {
        request.Spt.ScsiStatus = 0x02;
        BYTE* sense = reinterpret_cast<BYTE*>(&request) + request.Spt.SenseInfoOffset;
        sense[0] = responseCode;
        sense[1] = 0x05;
        sense[2] = 0x24;
        sense[7] = additional;
        sense[8] = 0x00;
        sense[9] = 0x0A;
        return true;
    };
}

class NTPortIoCtlTest : public TransportFixture {
protected:
    void SetUp() override
    {
        TransportFixture::SetUp();
        FakePort port;
        port.buses = 2;
        port.units = {{0, 0, 0, false}, {1, 4, 2, false}};
        m_Fake->ports = {port};
    }
};

TEST_F(NTPortIoCtlTest, RequestIsLaidOutAndFilledByName)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 20, 2, -1, -1, -1), 0);
    ASSERT_EQ(block.GetStatus(), ERR_NONE);
    std::vector<BYTE> data(4096);
    unsigned char* cdb = block.GetCdb(true);
    ASSERT_NE(cdb, nullptr);
    cdb[0] = kRead10;
    ASSERT_EQ(block.SetBuffer(data.data(), 4096), ERR_NONE);
    ASSERT_EQ(block.CompleteCmd(10, 4096, CScsiIoCtl::kFlagDataIn, 45, 100, 8, 0), ERR_NONE);

    const void* raw = block.GetCtlBlock();
    EXPECT_EQ(sizeof(NTPortRequest_s), 192u);
    EXPECT_EQ(BytesAt<USHORT>(raw, 0), 48);                    // Length
    EXPECT_EQ(BytesAt<UCHAR>(raw, 3), 1);                      // PathId: target 20 of 16 per bus
    EXPECT_EQ(BytesAt<UCHAR>(raw, 4), 4);                      // TargetId
    EXPECT_EQ(BytesAt<UCHAR>(raw, 5), 2);                      // Lun
    EXPECT_EQ(BytesAt<UCHAR>(raw, 6), 10);                     // CdbLength
    EXPECT_EQ(BytesAt<UCHAR>(raw, 7), 128);                    // SenseInfoLength
    EXPECT_EQ(BytesAt<UCHAR>(raw, 8), SCSI_IOCTL_DATA_IN);     // DataIn
    EXPECT_EQ(BytesAt<ULONG>(raw, 12), 4096u);                 // DataTransferLength
    EXPECT_EQ(BytesAt<ULONG>(raw, 16), 45u);                   // TimeOutValue
    EXPECT_EQ(BytesAt<void*>(raw, 20), data.data());           // DataBuffer
    EXPECT_EQ(BytesAt<ULONG>(raw, 28), 52u);                   // SenseInfoOffset: the sense area
    EXPECT_EQ(BytesAt<UCHAR>(raw, 32), kRead10);               // Cdb
    EXPECT_EQ(reinterpret_cast<const BYTE*>(block.GetSenseData()), static_cast<const BYTE*>(raw) + 52);
    EXPECT_EQ(block.GetCdbLen(), 10);

    block.DoIO();
    EXPECT_EQ(block.IsCommandComplete(), ERR_CMD_COMPLETE);
    EXPECT_EQ(BytesAt<ULONG>(raw, 184), 1u);  // delivery state
    EXPECT_EQ(BytesAt<ULONG>(raw, 188), 1u);  // delivery detail
    EXPECT_EQ(m_Fake->sentTo, std::vector<std::string>{"SCSI0:"});
}

TEST_F(NTPortIoCtlTest, CompleteCmdClampsTheCdbAndChoosesTheDirection)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    BYTE data[512];
    auto build = [&](unsigned char cdbLength, unsigned long length, unsigned long flags) {
        block.GetCdb(true);
        block.SetBuffer(data, sizeof data);
        return block.CompleteCmd(cdbLength, length, flags, 30, 0, 1, 0);
    };
    ASSERT_EQ(build(20, 0, 0), ERR_NONE);
    EXPECT_EQ(block.GetCdbLen(), 16);
    ASSERT_EQ(build(3, 0, 0), ERR_NONE);
    EXPECT_EQ(block.GetCdbLen(), 6);

    const struct {
        unsigned long length;
        unsigned long flags;
        UCHAR dataIn;
    } cases[] = {{0, 0x08, SCSI_IOCTL_DATA_UNSPECIFIED}, {512, 0x08, SCSI_IOCTL_DATA_IN},
                 {512, 0x10, SCSI_IOCTL_DATA_OUT},       {512, 0x18, SCSI_IOCTL_DATA_IN},
                 {512, 0x00, SCSI_IOCTL_DATA_UNSPECIFIED}};
    for (const auto& c : cases) {
        ASSERT_EQ(build(10, c.length, c.flags), ERR_NONE);
        EXPECT_EQ(RequestOf(block).Spt.DataIn, c.dataIn) << c.length << " / " << c.flags;
    }

    // A refused request is left exactly as it was.
    build(10, 512, 0x08);
    const std::vector<BYTE> before(static_cast<BYTE*>(block.GetCtlBlock()),
                                   static_cast<BYTE*>(block.GetCtlBlock()) + sizeof(NTPortRequest_s));
    EXPECT_EQ(block.CompleteCmd(10, 513, 0x08, 30, 0, 1, 0), ERR_BUFFER_TOO_SMALL);
    block.SetBuffer(data, -1);
    EXPECT_EQ(block.CompleteCmd(10, 1, 0x08, 30, 0, 1, 0), ERR_BUFFER_TOO_SMALL);
    block.SetBuffer(data, sizeof data);
    EXPECT_EQ(std::memcmp(before.data(), block.GetCtlBlock(), before.size()), 0);
}

TEST_F(NTPortIoCtlTest, CheckConditionFailsTheBlockWhileTheEventKeepsItAndTheSense)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    m_Fake->answer = CheckCondition(0x70, 0x03, 0x11);
    BYTE data[512];
    EXPECT_EQ(Issue(block, {kRead10, 0, 0, 0, 0, 7, 0, 0, 1, 0}, data, 512, 0x08, 7, 1), ERR_DRIVER_FAILURE);
    EXPECT_EQ(block.IsCommandComplete(), ERR_DRIVER_FAILURE);
    EXPECT_EQ(m_Fake->sentTo.size(), 1u);  // the second answer needed no request
    EXPECT_EQ(block.GetDriverStatus(), ERR_CHECK_CONDITION);

    std::unique_ptr<CEventBase> event(block.GetErrorEvent());
    auto* error = dynamic_cast<CEventError*>(event.get());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->GetErrorCode(), ERR_CHECK_CONDITION);
    EXPECT_EQ(error->GetSenseKey(), 3);
    EXPECT_EQ(error->GetASC(), 0x11);
    EXPECT_EQ(error->GetTargetStatus(), 0x02);
    EXPECT_EQ(error->GetHAStatus(), ERR_DRIVER_IO);
    EXPECT_EQ(error->GetSRBStatus(), ERR_NONE);
    EXPECT_NE(error->toString().find("  28  00  00  00  00  07"), std::string::npos);

    EXPECT_EQ(block.ProcessError(), ERR_CHECK_CONDITION);
    EXPECT_TRUE(block.IsDevErrorValid());
    EXPECT_FALSE(block.IsUnitAttnError());

    m_Fake->answer = CheckCondition(0x70, 0x06, 0x29);
    Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0});
    EXPECT_TRUE(block.IsUnitAttnError());

    m_Fake->answer = CheckCondition(0x72, 0x06, 0x29);  // descriptor format: the key is byte 1
    Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0});
    EXPECT_FALSE(block.IsUnitAttnError());
}

// Fixed (70h, 71h; bit 7 VALID) and descriptor (72h, 73h; bit 7 reserved)
// sense are vouched for; the codes around them are not (SPC-4 4.5.1).
TEST_F(NTPortIoCtlTest, BothSenseFormatsAreValidAndNothingElse)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    const std::pair<std::uint8_t, bool> codes[] = {
        {0x70, true},  {0x71, true},  {0x72, true},  {0x73, true},  {0xF0, true},  {0xF1, true},
        {0xF2, true},  {0xF3, true},  {0x00, false}, {0x6F, false}, {0x74, false}, {0x7F, false},
        {0xEF, false}, {0xF4, false}, {0xFF, false},
    };
    for (const auto& [code, valid] : codes) {
        m_Fake->answer = DescriptorCheckCondition(code, 0);
        Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0});
        EXPECT_EQ(block.IsDevErrorValid(), valid) << std::hex << int{code};
    }
}

TEST_F(NTPortIoCtlTest, OtherOutcomesTranslate)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    EXPECT_EQ(Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);

    m_Fake->answer = [](NTPortRequest_s&, DWORD* error) {
        *error = ERROR_SEM_TIMEOUT;
        return false;
    };
    block.GetCdb(true);
    block.CompleteCmd(6, 0, 0, 30, 0, 0, 0);
    EXPECT_EQ(block.DoIO(), ERR_DRIVER_IO);
    EXPECT_EQ(block.IsCommandComplete(), ERR_DRIVER_FAILURE);
    EXPECT_EQ(RequestOf(block).DeliveryState, 2u);
    EXPECT_EQ(RequestOf(block).DeliveryDetail, ERROR_SEM_TIMEOUT);
    std::unique_ptr<CEventBase> undelivered(block.GetErrorEvent());
    EXPECT_EQ(undelivered->GetErrorCode(), ERR_DRIVER_IO);

    // A busy target ended nothing well: never reported as a completed command.
    std::uint8_t status = 0x08;
    m_Fake->answer = [&status](NTPortRequest_s& request, DWORD*) {
        request.Spt.ScsiStatus = status;
        return true;
    };
    EXPECT_EQ(Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_DRIVER_FAILURE);
    EXPECT_EQ(block.GetDriverStatus(), ERR_DEVICE_BUSY);
    Error_t srb = ERR_CMD_PENDING, ha = ERR_NONE, target = ERR_NONE;
    EXPECT_TRUE(block.GetIOStatii(&srb, &ha, &target));
    EXPECT_EQ(srb, ERR_NONE);
    EXPECT_EQ(ha, ERR_DRIVER_IO);
    EXPECT_EQ(target, 0x08);

    status = 0x18;  // reservation conflict
    EXPECT_EQ(Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_DRIVER_FAILURE);
    EXPECT_EQ(block.GetDriverStatus(), ERR_DRIVER_FAILURE);
    status = 0x30;  // not a status the table knows
    Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0});
    block.GetIOStatii(&srb, &ha, &target);
    EXPECT_EQ(target, ERR_NO_TRANSLATION);
    status = 0x04;  // condition met is a good ending
    EXPECT_EQ(Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0}), ERR_CMD_COMPLETE);
}

TEST_F(NTPortIoCtlTest, RetryReissuesTheRequestAsBuilt)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    std::vector<std::uint8_t> opcodes;
    m_Fake->answer = [&opcodes](NTPortRequest_s& request, DWORD*) {
        opcodes.push_back(request.Spt.Cdb[0]);
        return true;
    };
    BYTE data[512];
    ASSERT_EQ(Issue(block, {kWrite10, 0, 0, 0, 0, 9, 0, 0, 1, 0}, data, 512, 0x10, 9, 1), ERR_CMD_COMPLETE);

    ASSERT_EQ(block.SetRetryCmd(), ERR_NONE);
    EXPECT_TRUE(block.IsRetryCmd());
    EXPECT_EQ(block.GetStatus(), ERR_CMD_NOT_STARTED);
    EXPECT_EQ(block.GetCdb(true), nullptr);
    EXPECT_EQ(block.CompleteCmd(6, 0, 0, 30, 0, 0, 0), ERR_INVALID_PARAM);
    block.DoIO();
    EXPECT_EQ(block.IsCommandComplete(), ERR_CMD_COMPLETE);
    block.SetRetryCmd();
    block.DoIO();
    block.IsCommandComplete();
    EXPECT_EQ(block.GetRetryCount(), 2u);
    EXPECT_EQ(opcodes, (std::vector<std::uint8_t>{kWrite10, kWrite10, kWrite10}));

    // A failed retry still reports the CDB it sent.
    m_Fake->answer = CheckCondition(0x70, 0x04, 0x44);
    block.SetRetryCmd();
    block.DoIO();
    EXPECT_EQ(block.IsCommandComplete(), ERR_DRIVER_FAILURE);
    std::unique_ptr<CEventBase> event(block.GetErrorEvent());
    EXPECT_NE(event->toString().find("CDB:   2A  00  00  00  00  09"), std::string::npos);
    EXPECT_TRUE(block.IsRetryCmd());

    ASSERT_EQ(block.UnSetRetryCmd(), ERR_NONE);
    EXPECT_NE(block.GetCdb(true), nullptr);
    EXPECT_EQ(block.FUDGE_STATUS(ERR_TIMEOUT), ERR_TIMEOUT);
    EXPECT_EQ(block.IsCommandComplete(), ERR_TIMEOUT);
}

TEST_F(NTPortIoCtlTest, RetryAfterUnitAttentionSendsTheBuiltLengthsAndReportsItsOwnDelivery)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    std::vector<ULONG> lengths;
    std::vector<UCHAR> senseLengths;
    bool attention = true;
    m_Fake->answer = [&](NTPortRequest_s& request, DWORD* error) {
        lengths.push_back(request.Spt.DataTransferLength);
        senseLengths.push_back(request.Spt.SenseInfoLength);
        if (request.Spt.DataTransferLength == 0 && request.Spt.DataIn == SCSI_IOCTL_DATA_IN) {
            *error = ERROR_INVALID_PARAMETER;
            return false;
        }
        // The port leaves the residual and the sense bytes it wrote.
        if (attention) {
            attention = false;
            request.Spt.ScsiStatus = 0x02;
            request.Spt.DataTransferLength = 0;
            request.Spt.SenseInfoLength = 18;
            request.Sense.ResponseCode = 0x70;
        }
        return true;
    };
    std::vector<BYTE> data(4096);
    EXPECT_EQ(Issue(block, {kRead10, 0, 0, 0, 0, 100, 0, 0, 8, 0}, data.data(), 4096, 0x08, 100, 8),
              ERR_DRIVER_FAILURE);
    block.SetRetryCmd();
    block.DoIO();
    EXPECT_EQ(block.IsCommandComplete(), ERR_CMD_COMPLETE);
    EXPECT_EQ(lengths, (std::vector<ULONG>{4096, 4096}));
    EXPECT_EQ(senseLengths, (std::vector<UCHAR>{128, 128}));
    PerfData_t perf{};
    block.GetPerfCounters(&perf);
    EXPECT_EQ(perf.BlocksRead, 8u);

    // A retry the port refuses reports its own failure, not the last sense.
    attention = true;
    Issue(block, {kRead10, 0, 0, 0, 0, 100, 0, 0, 8, 0}, data.data(), 4096, 0x08, 100, 8);
    m_Fake->answer = [](NTPortRequest_s&, DWORD* error) {
        *error = ERROR_INVALID_PARAMETER;
        return false;
    };
    block.SetRetryCmd();
    block.DoIO();
    EXPECT_EQ(block.IsCommandComplete(), ERR_DRIVER_FAILURE);
    EXPECT_EQ(block.GetDriverStatus(), ERR_DRIVER_IO);
    EXPECT_EQ(block.GetSenseData()->ResponseCode, 0);
    std::unique_ptr<CEventBase> event(block.GetErrorEvent());
    EXPECT_EQ(event->GetErrorCode(), ERR_DRIVER_IO);
}

TEST_F(NTPortIoCtlTest, PerformanceCountersFollowCompletedCommands)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 1);
    EXPECT_EQ(block.GetQueueType(), QTYPE_SIMPLE);
    EXPECT_EQ(block.SetQueueType(QTYPE_UNTAGGED), ERR_NOT_SUPPORTED);
    EXPECT_EQ(block.GetQueueType(), QTYPE_SIMPLE);

    std::vector<BYTE> data(8 * 512);
    Issue(block, {kRead10, 0, 0, 0, 0, 100, 0, 0, 8, 0}, data.data(), 4096, 0x08, 100, 8);
    Issue(block, {kWrite10, 0, 0, 0, 0, 7, 0, 0, 4, 0}, data.data(), 2048, 0x10, 7, 4);
    Issue(block, {0x2B, 0, 0, 0, 0, 55, 0, 0, 0, 0}, nullptr, 0, 0, 55, 0);
    m_Fake->answer = CheckCondition(0x70, 0x03, 0x11);
    Issue(block, {kRead10, 0, 0, 0, 0, 200, 0, 0, 8, 0}, data.data(), 4096, 0x08, 200, 8);

    PerfData_t perf{};
    block.GetPerfCounters(&perf);
    EXPECT_EQ(perf.LastReadLba, 100u);
    EXPECT_EQ(perf.BlocksRead, 8u);
    EXPECT_EQ(perf.LastWriteLba, 7u);
    EXPECT_EQ(perf.BlocksWritten, 4u);
    EXPECT_EQ(perf.LastNoDataLba, 55u);
    EXPECT_GE(perf.ReadSeconds, 0.0f);

    block.ClearPerfCounters();
    block.GetPerfCounters(&perf);
    EXPECT_EQ(perf.BlocksRead, 0u);
    EXPECT_EQ(perf.LastWriteLba, 0u);

    // The device reads the counters while a test thread runs commands.
    m_Fake->answer = nullptr;
    std::atomic<bool> done{false};
    std::uint32_t lastSeen = 0;
    bool monotonic = true;
    std::thread reader([&] {
        while (!done) {
            PerfData_t seen{};
            block.GetPerfCounters(&seen);
            monotonic = monotonic && seen.BlocksRead >= lastSeen;
            lastSeen = seen.BlocksRead;
        }
    });
    for (int i = 0; i < 200; ++i) {
        Issue(block, {kRead10, 0, 0, 0, 0, 1, 0, 0, 1, 0}, data.data(), 512, 0x08, 1, 1);
    }
    done = true;
    reader.join();
    block.GetPerfCounters(&perf);
    EXPECT_EQ(perf.BlocksRead, 200u);
    EXPECT_TRUE(monotonic);
}

// A device's threads each sweep every block's counters while commands complete:
// each block read is taken by exactly one sweeper.
TEST_F(NTPortIoCtlTest, CountersTakenByTwoSweepersCountEveryCommandOnce)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 1);
    std::vector<BYTE> data(512);
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> taken{0};
    auto sweep = [&] {
        while (true) {
            const bool last = done;
            PerfData_t perf{};
            block.TakePerfCounters(&perf);
            taken += perf.BlocksRead;
            if (last) {
                return;
            }
        }
    };
    std::thread first(sweep);
    std::thread second(sweep);
    constexpr int kCommands = 2000;
    for (int i = 0; i < kCommands; ++i) {
        Issue(block, {kRead10, 0, 0, 0, 0, 1, 0, 0, 1, 0}, data.data(), 512, 0x08, 1, 1);
    }
    done = true;
    first.join();
    second.join();
    EXPECT_EQ(taken.load(), std::uint64_t{kCommands});
}

TEST_F(NTPortIoCtlTest, FillSrbCopiesTheOutcomeIntoTheAspiBlock)
{
    StartFake();
    SCSI_NTPortIoCtl block(CDevAddress(0, 20, 2, -1, -1, -1), 0);
    m_Fake->answer = CheckCondition(0x70, 0x05, 0x24);
    BYTE data[512];
    Issue(block, {kRead10, 0, 0, 0, 0, 3, 0, 0, 1, 0}, data, 512, 0x08, 3, 1);

    SRB_ExecSCSICmd srb{};
    srb.SRB_SenseLen = 0xEE;
    block.FillSRB(&srb);
    EXPECT_EQ(srb.SRB_Cmd, 2);
    EXPECT_EQ(srb.SRB_HaId, 0);
    EXPECT_EQ(srb.SRB_Target, 20);
    EXPECT_EQ(srb.SRB_Lun, 2);
    EXPECT_EQ(srb.SRB_Flags, 0x08);
    EXPECT_EQ(srb.SRB_BufLen, 512u);
    EXPECT_EQ(srb.SRB_BufPointer, data);
    EXPECT_EQ(srb.SRB_CDBLen, 10);
    EXPECT_EQ(srb.SRB_TargStat, 2);
    EXPECT_EQ(srb.SRB_HaStat, 0);
    EXPECT_EQ(srb.CDBByte[0], kRead10);
    EXPECT_EQ(srb.SenseArea.AdditionalSenseCode, 0x24);
    EXPECT_EQ(srb.SRB_SenseLen, 18);  // additional length 10 + 8

    // Descriptor sense has the same 8-byte header: a drive in descriptor mode
    // reports its length too, even with no descriptor at all.
    for (const auto& [code, additional, length] :
         {std::tuple<std::uint8_t, std::uint8_t, int>{0x72, 12, 20}, {0x73, 0, 8}, {0xF2, 120, 128}, {0x72, 121, 128}}) {
        m_Fake->answer = DescriptorCheckCondition(code, additional);
        Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0});
        srb.SRB_SenseLen = 0xEE;
        block.FillSRB(&srb);
        EXPECT_EQ(srb.SRB_SenseLen, length) << std::hex << int{code} << " " << std::dec << int{additional};
    }

    // Sense the block cannot vouch for leaves the caller's length alone; a
    // device's oversized additional length is cut to the sense area.
    m_Fake->answer = DescriptorCheckCondition(0x7F, 12);
    Issue(block, {kTestUnitReady, 0, 0, 0, 0, 0});
    srb.SRB_SenseLen = 0xEE;
    block.FillSRB(&srb);
    EXPECT_EQ(srb.SRB_SenseLen, 0xEE);
    EXPECT_EQ(srb.SRB_Flags, 0);
    RequestOf(block).Sense.ResponseCode = 0xF0;
    RequestOf(block).Sense.AdditionalSenseLength = 250;
    block.FillSRB(&srb);
    EXPECT_EQ(srb.SRB_SenseLen, 128);
}

TEST_F(NTPortIoCtlTest, WithoutRequestMemoryEveryOperationRefuses)
{
    StartFake(false);  // no buffer manager: the request cannot be made
    SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
    EXPECT_EQ(block.GetCtlBlock(), nullptr);
    EXPECT_EQ(block.GetCdb(true), nullptr);
    EXPECT_EQ(block.SetBuffer(nullptr, 0), ERR_NO_RESOURCE);
    EXPECT_EQ(block.CompleteCmd(6, 0, 0, 30, 0, 0, 0), ERR_NO_RESOURCE);
    EXPECT_EQ(block.IsCommandComplete(), ERR_NO_RESOURCE);
    EXPECT_EQ(block.DoIO(), ERR_NO_RESOURCE);
    EXPECT_EQ(block.GetSenseData(), nullptr);
    EXPECT_EQ(block.GetCdbLen(), 255);
    EXPECT_EQ(block.FUDGE_STATUS(ERR_TIMEOUT), ERR_NO_RESOURCE);
    EXPECT_EQ(block.SetRetryCmd(), ERR_NO_RESOURCE);
    EXPECT_EQ(block.UnSetRetryCmd(), ERR_NO_RESOURCE);
    EXPECT_EQ(block.AllocateBuffer(512), ERR_NOT_INITIALIZED);
    EXPECT_EQ(block.GetBuffer(), nullptr);
    std::unique_ptr<CEventBase> event(block.GetErrorEvent());
    EXPECT_EQ(event->GetErrorCode(), ERR_NO_RESOURCE);
    EXPECT_TRUE(m_Fake->sentTo.empty());
}

}  // namespace
}  // namespace transport_test
