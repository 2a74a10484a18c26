#include "AspiTestSupport.h"

#include "core/transport/CASPIDriver.h"
#include "core/transport/SCSI_ASPIIoCtl.h"
#include "machine/MachineFile.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using aspi_test::AspiFixture;

constexpr const char* kTwoDisks = R"({"name": "aspi-two", "ports": [
  {"port": 0, "driver": "abcdefghijklmnop", "deviceName": "HBA0",
   "units": [{"target": 1, "type": "disk", "vendor": "KESTREL", "product": "KX18LVD", "blocks": 4096},
             {"target": 3, "type": "disk", "vendor": "MERIDIAN", "product": "MD3600LW", "blocks": 4096}]}]})";

// The control block's request, reached through its CDB.
SRB_ExecSCSICmd& BlockOf(CScsiIoCtl& block)
{
    return *reinterpret_cast<SRB_ExecSCSICmd*>(block.GetCdb(false) - offsetof(SRB_ExecSCSICmd, CDBByte));
}

Error_t Issue(CScsiIoCtl& block, std::initializer_list<BYTE> cdb, void* data = nullptr, unsigned long length = 0)
{
    std::copy(cdb.begin(), cdb.end(), block.GetCdb(true));
    block.SetBuffer(data, static_cast<long>(length));
    EXPECT_EQ(block.CompleteCmd(static_cast<unsigned char>(cdb.size()), length, length != 0 ? 0x08 : 0, 30, 0, 0, 0),
              ERR_NONE);
    EXPECT_EQ(block.DoIO(), ERR_NONE);
    return block.IsCommandComplete();
}

TEST_F(AspiFixture, RequestBlockHoldsTheExecuteCommandFields)
{
    SCSI_ASPIIoCtl block(CDevAddress(1, 2, 3, 0, 0, 0), 0);
    unsigned char data[512];
    unsigned char* cdb = block.GetCdb(true);
    ASSERT_NE(cdb, nullptr);
    const unsigned char read10[10] = {0x28, 0, 0, 0, 0, 9, 0, 0, 1, 0};
    std::memcpy(cdb, read10, sizeof read10);
    ASSERT_EQ(block.SetBuffer(data, sizeof data), ERR_NONE);
    ASSERT_EQ(block.CompleteCmd(10, sizeof data, 0x08, 45, 9, 1, 0), ERR_NONE);

    std::array<unsigned char, sizeof(SRB_ExecSCSICmd)> bytes{};
    block.FillSRB(bytes.data());
    std::array<unsigned char, sizeof(SRB_ExecSCSICmd)> expected{};
    expected[0] = 2;
    expected[2] = 1;
    expected[3] = 0x08;
    expected[4] = 45;
    expected[8] = 2;
    expected[9] = 3;
    expected[12] = 0x00;
    expected[13] = 0x02;  // 512, little-endian
    void* pointer = data;
    std::memcpy(&expected[16], &pointer, sizeof pointer);
    expected[24] = 128;
    expected[25] = 10;
    std::memcpy(&expected[52], read10, sizeof read10);
    EXPECT_EQ(bytes, expected);

    // CDB lengths outside 6..16 are clamped; a transfer past the buffer is refused.
    ASSERT_NE(block.GetCdb(true), nullptr);
    block.SetBuffer(data, sizeof data);
    ASSERT_EQ(block.CompleteCmd(3, 0, 0, 30, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(block.GetCdbLen(), 6);
    ASSERT_EQ(block.CompleteCmd(20, 0, 0, 30, 0, 0, 0), ERR_NONE);
    EXPECT_EQ(block.GetCdbLen(), 16);
    EXPECT_EQ(block.CompleteCmd(10, sizeof data + 1, 0x08, 30, 0, 0, 0), ERR_BUFFER_TOO_SMALL);
}

TEST_F(AspiFixture, SetTimeoutsBlockCarriesHalfSeconds)
{
    EXPECT_EQ(CASPIDriver::TimeoutHalfSeconds(0), 60u);
    EXPECT_EQ(CASPIDriver::TimeoutHalfSeconds(0xFFFFFFFF), 108000u);
    EXPECT_EQ(CASPIDriver::TimeoutHalfSeconds(30), 60u);
    EXPECT_EQ(CASPIDriver::TimeoutHalfSeconds(108000), 216000u);

    UseMachine(kTwoDisks);
    SCSI_ASPIIoCtl block(CDevAddress(0, 3, 0, 0, 0, 0), 0);
    std::copy_n("\x00\x00\x00\x00\x00\x00", 6, block.GetCdb(true));
    ASSERT_EQ(block.CompleteCmd(6, 0, 0, -1, 0, 0, 0), ERR_NONE);
    ASSERT_EQ(block.DoIO(), ERR_NONE);
    block.IsCommandComplete();
    auto* driver = CASPIDriver::Acquire();
    const SRB_GetSetTimeouts sent = driver->LastTimeoutBlock();
    driver->Release();
    std::array<unsigned char, 14> bytes{};
    std::memcpy(bytes.data(), &sent, bytes.size());
    // 108000 half seconds; byte 1 is the layer's answer, SS_COMP.
    const std::array<unsigned char, 14> expected = {8, 1, 0, 0x10, 0, 0, 0, 0, 3, 0, 0xE0, 0xA5, 0x01, 0x00};
    EXPECT_EQ(bytes, expected);
}

TEST_F(AspiFixture, AdapterInquiryAnswers)
{
    EXPECT_EQ(CASPIDriver::DevicesSupported(15), 16);
    EXPECT_EQ(CASPIDriver::DevicesSupported(9), 16);
    EXPECT_EQ(CASPIDriver::DevicesSupported(16), 16);
    EXPECT_EQ(CASPIDriver::DevicesSupported(7), 8);
    EXPECT_EQ(CASPIDriver::DevicesSupported(1), 8);
    EXPECT_EQ(CASPIDriver::DevicesSupported(0), 128);
    EXPECT_EQ(CASPIDriver::DevicesSupported(static_cast<signed char>(0x80)), 128);
    EXPECT_EQ(CASPIDriver::DevicesSupported(17), 128);

    UseMachine(kTwoDisks);
    CASPIDriver* driver = CASPIDriver::Acquire();
    ASSERT_TRUE(driver->IsLoaded());
    EXPECT_EQ(driver->AdapterCount(), 1);
    int targetId = -1;
    std::string manager;
    std::string identifier;
    long devices = 0;
    EXPECT_EQ(driver->AdapterInquiry(0, &targetId, &manager, &identifier, &devices), ERR_NONE);
    EXPECT_EQ(targetId, 7);
    EXPECT_EQ(manager, "ASPI for WIN32");
    EXPECT_EQ(identifier, "abcdefghijklmno");  // 16 characters cut to 15
    EXPECT_EQ(devices, 16);
    EXPECT_EQ(driver->AdapterInquiry(1, &targetId, &manager, &identifier, &devices), ERR_DRIVER_FAILURE);
    driver->Release();
}

TEST_F(AspiFixture, BuffersStepDownAndReleaseInAnyOrder)
{
    UseMachine(R"({"name": "aspi-small", "aspiBufferLimit": 307200, "ports": []})");
    CASPIDriver* driver = CASPIDriver::Acquire();
    ASSERT_TRUE(driver->IsLoaded());
    EXPECT_EQ(driver->BufferLimit(), 0x80000u);
    void* first = nullptr;
    ASSERT_EQ(driver->BufferGet(0x80000, &first), ERR_NONE);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(driver->BufferLimit(), 307200u);
    void* refused = &refused;
    EXPECT_EQ(driver->BufferGet(307201, &refused), ERR_NO_MEMORY);
    EXPECT_EQ(refused, nullptr);
    void* second = nullptr;
    void* third = nullptr;
    ASSERT_EQ(driver->BufferGet(0x10000, &second), ERR_NONE);
    ASSERT_EQ(driver->BufferGet(0x10000, &third), ERR_NONE);
    EXPECT_EQ(driver->BufferTotal(), 307200u + 2 * 0x10000u);

    EXPECT_EQ(driver->BufferRelease(first), ERR_NONE);
    EXPECT_EQ(driver->BufferTotal(), 2 * 0x10000u);
    EXPECT_EQ(driver->BufferRelease(&refused), ERR_NONE);  // not ours: nothing changes
    EXPECT_EQ(driver->BufferRelease(third), ERR_NONE);
    EXPECT_EQ(driver->BufferRelease(second), ERR_NONE);
    EXPECT_EQ(driver->BufferTotal(), 0u);
    driver->Release();
}

TEST_F(AspiFixture, AspiManagerHandsOutTheLayersBuffers)
{
    AlignedBuffer::UnregisterBufferMgr();
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_ASPI), ERR_NONE);
    CASPIDriver* driver = CASPIDriver::Acquire();
    {
        AlignedBuffer large(0x20000);
        EXPECT_EQ(driver->BufferTotal(), 0x20000u);
        AlignedBuffer small(0x10000);  // at the threshold: from the heap
        EXPECT_EQ(driver->BufferTotal(), 0x20000u);
    }
    EXPECT_EQ(driver->BufferTotal(), 0u);
    driver->Release();
}

TEST_F(AspiFixture, BufferBelowTheSmallestStepFails)
{
    UseMachine(R"({"name": "aspi-tiny", "aspiBufferLimit": 65535, "ports": []})");
    CASPIDriver* driver = CASPIDriver::Acquire();
    void* block = nullptr;
    EXPECT_EQ(driver->BufferGet(0x10400, &block), ERR_NO_MEMORY);
    EXPECT_EQ(driver->BufferTotal(), 0u);
    EXPECT_EQ(driver->BufferLimit(), 0x80000u);
    driver->Release();
}

TEST_F(AspiFixture, CompletionTranslation)
{
    SRB_ExecSCSICmd srb{};
    const auto Completion = [&](BYTE status, BYTE ha, BYTE target) {
        srb.SRB_Status = status;
        srb.SRB_HaStat = ha;
        srb.SRB_TargStat = target;
        return CASPIDriver::CompletionStatus(srb);
    };
    EXPECT_EQ(Completion(0x00, 0x11, 2), ERR_CMD_PENDING);
    EXPECT_EQ(Completion(0x01, 0x00, 0), ERR_NONE);
    EXPECT_EQ(Completion(0x04, 0x00, 2), ERR_CHECK_CONDITION);
    EXPECT_EQ(Completion(0x01, 0x12, 2), ERR_CHECK_CONDITION);
    const std::pair<BYTE, Error_t> haRows[] = {
        {0x09, ERR_TIMEOUT},       {0x0B, ERR_COMMAND_TIMEOUT},    {0x0D, ERR_MESSAGE_REJECTED},
        {0x0E, ERR_BUS_RESET},     {0x0F, ERR_PARITY},             {0x10, ERR_HA_REQSENSE_FAILED},
        {0x11, ERR_SELECTION_TIMEOUT}, {0x12, ERR_DATA_OVERRUN},   {0x13, ERR_UNEXPECTED_BUS_FREE},
        {0x14, ERR_PHASE_SEQUENCE},
    };
    for (const auto& [ha, code] : haRows) {
        EXPECT_EQ(Completion(0x04, ha, 0), code) << std::hex << int(ha);
    }
    const std::pair<BYTE, Error_t> srbRows[] = {
        {0x02, ERR_SK_ABORTED_COMMAND}, {0x03, ERR_ABORT_FAILED},    {0x04, ERR_DRIVER_IO},
        {0x80, ERR_DRIVER_FAILURE},     {0xE0, ERR_DRIVER_FAILURE},  {0xE1, ERR_DRIVER_FAILURE},
        {0xE2, ERR_DRIVER_FAILURE},     {0xE3, ERR_DRIVER_FAILURE},  {0xE5, ERR_DRIVER_FAILURE},
        {0xE7, ERR_DRIVER_FAILURE},     {0x81, ERR_NO_HOST_ADAPTER}, {0xE8, ERR_NO_HOST_ADAPTER},
        {0x82, ERR_NO_DEVICE},          {0xE4, ERR_NOT_INITIALIZED}, {0xE6, ERR_NO_MEMORY},
        {0xE9, ERR_NO_RESOURCE},        {0x05, ERR_NONE},            {0x01, ERR_NONE},
    };
    for (const auto& [status, code] : srbRows) {
        EXPECT_EQ(Completion(status, 0x00, 0), code) << std::hex << int(status);
    }
    EXPECT_EQ(Completion(0x01, 0x42, 0), ERR_NONE);  // no row anywhere
}

TEST_F(AspiFixture, GetIOStatiiTables)
{
    SCSI_ASPIIoCtl block(CDevAddress(0, 0, 0, 0, 0, 0), 0);
    SRB_ExecSCSICmd& srb = BlockOf(block);
    const auto Statii = [&](BYTE status, BYTE ha, BYTE target) {
        srb.SRB_Status = status;
        srb.SRB_HaStat = ha;
        srb.SRB_TargStat = target;
        std::array<Error_t, 3> out{};
        EXPECT_TRUE(block.GetIOStatii(&out[0], &out[1], &out[2]));
        return out;
    };
    const std::pair<BYTE, Error_t> srbRows[] = {
        {0x00, ERR_CMD_PENDING},    {0x01, ERR_NONE},           {0x02, ERR_SK_ABORTED_COMMAND},
        {0x03, ERR_ABORT_FAILED},   {0x04, ERR_CHECK_CONDITION}, {0x80, ERR_DRIVER_FAILURE},
        {0x81, ERR_NO_HOST_ADAPTER}, {0x82, ERR_NO_DEVICE},     {0xE0, ERR_DRIVER_FAILURE},
        {0xE1, ERR_DRIVER_FAILURE}, {0xE2, ERR_DRIVER_FAILURE}, {0xE3, ERR_DRIVER_FAILURE},
        {0xE4, ERR_DRIVER_FAILURE}, {0xE5, ERR_DRIVER_FAILURE}, {0xE6, ERR_NO_MEMORY},
        {0xE7, ERR_DRIVER_FAILURE}, {0xE8, ERR_NO_HOST_ADAPTER}, {0xE9, ERR_NO_RESOURCE},
        {0x55, ERR_DRIVER_IO},
    };
    for (const auto& [status, code] : srbRows) {
        EXPECT_EQ(Statii(status, 0, 0)[0], code) << std::hex << int(status);
    }
    const std::pair<BYTE, Error_t> haRows[] = {
        {0x00, ERR_NONE},          {0x11, ERR_SELECTION_TIMEOUT}, {0x12, ERR_DATA_OVERRUN},
        {0x13, ERR_UNEXPECTED_BUS_FREE}, {0x14, ERR_PHASE_SEQUENCE}, {0x09, ERR_TIMEOUT},
        {0x0B, ERR_COMMAND_TIMEOUT}, {0x0D, ERR_MESSAGE_REJECTED}, {0x0E, ERR_BUS_RESET},
        {0x0F, ERR_PARITY},        {0x10, ERR_REQSENSE_FAILED},   {0x01, ERR_DRIVER_IO},
    };
    for (const auto& [ha, code] : haRows) {
        EXPECT_EQ(Statii(1, ha, 0)[1], code) << std::hex << int(ha);
    }
    EXPECT_EQ(Statii(1, 0, 0x02)[2], static_cast<Error_t>(0x02));
    EXPECT_EQ(Statii(1, 0, 0x28)[2], static_cast<Error_t>(0x28));
    EXPECT_EQ(Statii(1, 0, 0x03)[2], ERR_NO_TRANSLATION);
}

TEST_F(AspiFixture, CommandsReachTheMachineAndOverlap)
{
    UseMachine(kTwoDisks);
    SCSI_ASPIIoCtl first(CDevAddress(0, 1, 0, 0, 0, 0), 0);
    unsigned char inquiry[36] = {};
    ASSERT_EQ(Issue(first, {0x12, 0, 0, 0, 36, 0}, inquiry, sizeof inquiry), ERR_CMD_COMPLETE);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(inquiry + 8), 8), "KESTREL ");

    // A check condition leaves its sense in the block.
    EXPECT_EQ(Issue(first, {0x28, 0, 0x7F, 0, 0, 0, 0, 0, 0, 0}), ERR_CHECK_CONDITION);
    EXPECT_TRUE(first.IsDevErrorValid());
    EXPECT_EQ(first.GetSenseData()->SenseKey(), 5);

    // No target there: the adapter reports a selection time-out.
    SCSI_ASPIIoCtl absent(CDevAddress(0, 5, 0, 0, 0, 0), 0);
    EXPECT_EQ(Issue(absent, {0, 0, 0, 0, 0, 0}), ERR_SELECTION_TIMEOUT);

    // Blocks other than 0 are polled. Another thread keeps the adapter busy,
    // so the layer takes blocks in the background and several are under way.
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        SCSI_ASPIIoCtl other(CDevAddress(0, 3, 0, 0, 0, 0), 7);
        while (!stop) {
            Issue(other, {0, 0, 0, 0, 0, 0});
            aspi_test::PollUntil([&] { return other.IsCommandComplete() != ERR_CMD_PENDING; });
        }
    });
    std::vector<std::unique_ptr<SCSI_ASPIIoCtl>> blocks;
    std::vector<std::array<unsigned char, 8>> capacities(6);
    for (unsigned char index = 1; index <= 6; ++index) {
        blocks.push_back(std::make_unique<SCSI_ASPIIoCtl>(CDevAddress(0, index % 2 ? 1 : 3, 0, 0, 0, 0), index));
        SCSI_ASPIIoCtl& block = *blocks.back();
        std::copy_n("\x25\0\0\0\0\0\0\0\0\0", 10, block.GetCdb(true));
        block.SetBuffer(capacities[index - 1].data(), 8);
        ASSERT_EQ(block.CompleteCmd(10, 8, 0x08, 30, 0, 0, 0), ERR_NONE);
        ASSERT_EQ(block.DoIO(), ERR_NONE);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        EXPECT_TRUE(aspi_test::PollUntil([&] { return blocks[i]->IsCommandComplete() != ERR_CMD_PENDING; }));
        EXPECT_EQ(blocks[i]->GetStatus(), ERR_CMD_COMPLETE);
        EXPECT_EQ(capacities[i][2], 0x0F);  // last block 4095
        EXPECT_EQ(capacities[i][3], 0xFF);
    }
    stop = true;
    busy.join();
}

constexpr const char* kTwoPorts = R"({"name": "aspi-ports", "ports": [
  {"port": 0, "driver": "aic78xx", "units": [{"target": 1, "blocks": 4096, "durations": {"command": 1}}]},
  {"port": 1, "driver": "aic78xx", "units": [{"target": 1, "blocks": 4096, "durations": {"command": 1}}]}]})";

// Reads one block again and again on the port's drive, one command at a time on block 0.
void ReadRepeatedly(int port, int count)
{
    SCSI_ASPIIoCtl block(CDevAddress(port, 1, 0, 0, 0, 0), 0);
    unsigned char data[512] = {};
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(Issue(block, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, data, sizeof data), ERR_CMD_COMPLETE);
    }
}

TEST_F(AspiFixture, DrivesOnTwoPortsAreServedAtTheSameTime)
{
    UseMachine(kTwoPorts);
    constexpr int kReads = 20;
    using Clock = std::chrono::steady_clock;
    const auto alone = Clock::now();
    ReadRepeatedly(0, kReads);
    const auto aloneTime = Clock::now() - alone;

    const auto together = Clock::now();
    std::thread other([] { ReadRepeatedly(1, kReads); });
    ReadRepeatedly(0, kReads);
    other.join();
    const auto togetherTime = Clock::now() - together;
    // One after the other the two would take twice as long as one alone.
    EXPECT_LT(togetherTime, aloneTime * 3 / 2)
        << std::chrono::duration<double>(togetherTime).count() << " s against "
        << std::chrono::duration<double>(aloneTime).count() << " s alone";
}

}  // namespace

namespace {

TEST(AspiMachineFile, BufferLimitIsAWholeNumberOfBytes)
{
    using harrow::machine::ParseMachineText;
    EXPECT_EQ(ParseMachineText(R"({"aspiBufferLimit": 307200, "ports": []})", "m.json", "m").aspiBufferLimit,
              307200u);
    EXPECT_FALSE(ParseMachineText(R"({"ports": []})", "m.json", "m").aspiBufferLimit.has_value());
    for (const char* text : {R"({"aspiBufferLimit": 0, "ports": []})", R"({"aspiBufferLimit": "big", "ports": []})"}) {
        try {
            ParseMachineText(text, "m.json", "m");
            ADD_FAILURE() << text;
        } catch (const harrow::machine::MachineFileError& error) {
            EXPECT_NE(std::string(error.what()).find("m.json: aspiBufferLimit: must be"), std::string::npos)
                << error.what();
        }
    }
}

}  // namespace
