// The Nox transport against our NOXCOMM library on a simulated machine.
#include "core/buffers/AlignedBuffer.h"
#include "core/transport/SCSI_NOXIoCtl.h"
#include "core/transport/SCSI_NOXWrapper.h"
#include "core/transport/SRB_ExecSCSICmd.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <string>

namespace {

// Port 1: a loop adapter whose driver name takes the lp6n corrections, a
// unit at path 2 target 9 (system target 40). Port 2: a one-bus adapter with
// a unit at 0:0:0, where the library also lists its pseudo device. Port 3:
// hidden from the transport.
const char* kMachine = R"({"name": "nox-unit", "ports": [
  {"driver": "aic78xx", "units": [{"target": 0}]},
  {"port": 1, "driver": "LP6NDS35", "deviceName": "LP9002-F2", "nox": true, "buses": 5,
   "targetsPerBus": 31, "initiatorId": 255,
   "units": [{"bus": 2, "target": 9, "serial": "FC000040"}, {"bus": 1, "target": 0, "serial": "FC000000"}]},
  {"port": 2, "driver": "ql12160", "nox": true, "units": [{"target": 0, "serial": "QL000000",
   "faults": {"unitAttentions": 1}}]},
  {"port": 3, "driver": "sparrow", "nox": true, "noxHidden": true, "units": [{"target": 1}]}
]})";

constexpr BYTE kInquiry = 0x12;

CDevAddress Address(int adapter, int target, int lun)
{
    return CDevAddress(adapter, target, lun, -1, -1, -1);
}
constexpr BYTE kTestUnitReady = 0x00;

class NoxTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Home = test_support::MakeTestHome("nox");
        test_support::UseMachineFile(m_Home, kMachine);
        ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP), ERR_NONE);
        m_Driver = SCSI_NOXWrapper::Acquire();
    }

    void TearDown() override
    {
        CScsiIoCtl::SetNumUnitAttnRetries(0);
        m_Driver->Release();
        AlignedBuffer::UnregisterBufferMgr();
        test_support::LeaveTestHome(m_Home);
    }

    static NoxRequest_s* RequestOf(CScsiIoCtl& ctl) { return static_cast<NoxRequest_s*>(ctl.GetCtlBlock()); }

    // Starts a command and collects it; blocks other than 0 poll, for at most 10 s.
    static Error_t Run(CScsiIoCtl& ctl, const std::array<BYTE, 6>& cdb, BYTE* data, unsigned long length)
    {
        std::memcpy(ctl.GetCdb(true), cdb.data(), cdb.size());
        ctl.SetBuffer(data, static_cast<long>(length));
        EXPECT_EQ(ctl.CompleteCmd(6, length, length != 0 ? CScsiIoCtl::kFlagDataIn : 0, 30, 0, 0, 0), ERR_NONE);
        if (const Error_t sent = ctl.DoIO(); sent != ERR_NONE) {
            return sent;
        }
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        Error_t status = ctl.IsCommandComplete();
        while (status == ERR_CMD_PENDING && std::chrono::steady_clock::now() < limit) {
            status = ctl.IsCommandComplete();
        }
        return status;
    }

    // The unit serial number page through a control block, or the failure.
    static std::string Serial(const CDevAddress& address, unsigned char block = 0)
    {
        SCSI_NOXIoCtl ctl(address, block);
        if (ctl.GetStatus() != ERR_CMD_NOT_STARTED && ctl.GetStatus() != ERR_NONE) {
            return "status " + std::to_string(ctl.GetStatus());
        }
        std::array<BYTE, 255> page{};
        const Error_t status = Run(ctl, {kInquiry, 1, 0x80, 0, 255, 0}, page.data(), page.size());
        if (status != ERR_CMD_COMPLETE) {
            return "failed " + std::to_string(status);
        }
        return std::string(reinterpret_cast<const char*>(page.data() + 4), page[3]);
    }

    std::filesystem::path m_Home;
    SCSI_NOXWrapper* m_Driver = nullptr;
};

TEST_F(NoxTransport, RequestBytes)
{
    SCSI_NOXIoCtl tagged(Address(1, 40, 0), 1);
    BYTE data[512] = {};
    unsigned char* cdb = tagged.GetCdb(true);
    auto* bytes = static_cast<BYTE*>(tagged.GetCtlBlock());
    ASSERT_NE(cdb, nullptr);
    EXPECT_EQ(cdb, bytes + 33);
    std::memset(bytes + 57, 0xAA, 128);
    ASSERT_EQ(tagged.SetBuffer(data, sizeof data), ERR_NONE);
    ASSERT_EQ(tagged.CompleteCmd(20, sizeof data, CScsiIoCtl::kFlagDataOut, 45, 0, 1, 0), ERR_NONE);
    void* address = nullptr;
    std::memcpy(&address, bytes + 17, sizeof address);
    EXPECT_EQ(address, data);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[3], QTYPE_SIMPLE);
    EXPECT_EQ(bytes[4], 16);  // clamped
    const auto dword = [&](int offset) {
        DWORD value = 0;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    };
    EXPECT_EQ(dword(5), 0x80u | 0x02u);
    EXPECT_EQ(dword(9), 512u);
    EXPECT_EQ(dword(13), 45u);
    EXPECT_EQ(std::count(bytes + 57, bytes + 185, 0), 128);

    SCSI_NOXIoCtl untagged(Address(1, 40, 0), 0);
    untagged.GetCdb(true);
    untagged.SetBuffer(data, sizeof data);
    ASSERT_EQ(untagged.CompleteCmd(3, sizeof data, CScsiIoCtl::kFlagDataIn, 30, 0, 1, 0), ERR_NONE);
    EXPECT_EQ(RequestOf(untagged)->CdbLength, 6);
    EXPECT_EQ(DWORD{RequestOf(untagged)->Flags}, 0x40u);
    EXPECT_EQ(RequestOf(untagged)->QueueTag, 0);
    EXPECT_EQ(untagged.GetCdbLen(), 6);
    EXPECT_EQ(reinterpret_cast<BYTE*>(untagged.GetSenseData()), static_cast<BYTE*>(untagged.GetCtlBlock()) + 57);
    // A request armed for a retry is not rebuilt.
    untagged.SetRetryCmd();
    EXPECT_EQ(untagged.GetCdb(true), nullptr);
    EXPECT_NE(untagged.GetCdb(false), nullptr);
}

TEST(NoxStatus, EveryLibraryCode)
{
    const std::pair<DWORD, Error_t> rows[] = {
        {0, ERR_CMD_PENDING},         {1, ERR_NONE},
        {2, ERR_CMD_ABORTED},         {0x8000000B, ERR_CMD_ABORTED},
        {3, ERR_ABORT_FAILED},        {4, ERR_CHECK_CONDITION},
        {5, ERR_DEVICE_BUSY},         {6, ERR_INVALID_REQUEST},
        {7, ERR_INVALID_PATH_ID},     {8, ERR_NO_DEVICE},
        {0x80000008, ERR_NO_DEVICE},  {9, ERR_TIMEOUT},
        {10, ERR_SELECTION_TIMEOUT},  {11, ERR_COMMAND_TIMEOUT},
        {0x8000000C, ERR_COMMAND_TIMEOUT}, {13, ERR_MESSAGE_REJECTED},
        {14, ERR_BUS_RESET},          {15, ERR_PARITY},
        {16, ERR_REQSENSE_FAILED},    {17, ERR_NO_HOST_ADAPTER},
        {18, ERR_DATA_OVERRUN},       {19, ERR_UNEXPECTED_BUS_FREE},
        {20, ERR_PHASE_SEQUENCE},     {21, ERR_BAD_SRB_LENGTH},
        {22, ERR_REQUEST_FLUSHED},    {32, ERR_INVALID_LUN},
        {33, ERR_INVALID_TARGET},     {34, ERR_BAD_FUNCTION},
        {35, ERR_ERROR_RECOVERY},     {0x80000002, ERR_NOT_INITIALIZED},
        {0x80000004, ERR_NO_RESOURCE}, {0x80000005, ERR_DRIVER_FAILURE},
        {0x80000006, ERR_SK_ILLEGAL_REQUEST}, {0x80000009, ERR_INVALID_PARAM},
        {0x8000000A, ERR_NOX_5},      {0x8000000D, ERR_NOX_6},
        {0x8000000E, ERR_NO_MEMORY},  {0x8000000F, ERR_DEVICE_REPORTED},
    };
    for (const auto& [code, expected] : rows) {
        EXPECT_EQ(SCSI_NOXWrapper::Translate(code), expected) << "code " << code;
    }
    for (DWORD unknown : {12u, 23u, 31u, 36u, 0x80000001u, 0x80000003u, 0x80000007u, 0x80000010u}) {
        EXPECT_EQ(SCSI_NOXWrapper::Translate(unknown), ERR_NO_TRANSLATION) << "code " << unknown;
    }
}

TEST_F(NoxTransport, AdapterStatusAndSrbMapping)
{
    SCSI_NOXIoCtl ctl(Address(1, 40, 0), 0);
    NoxRequest_s* request = RequestOf(ctl);
    const auto adapterStatus = [&](BYTE code) {
        request->Completion = code;
        Error_t srb = ERR_NO_TRANSLATION;
        Error_t ha = ERR_NONE;
        Error_t target = ERR_NONE;
        ctl.GetIOStatii(&srb, &ha, &target);
        EXPECT_EQ(srb, ERR_NONE);
        return ha;
    };
    const std::pair<BYTE, Error_t> rows[] = {
        {0, ERR_CMD_PENDING},         {1, ERR_NONE},           {2, ERR_CMD_ABORTED},
        {3, ERR_ABORT_FAILED},        {4, ERR_DRIVER_IO},      {5, ERR_CMD_NOT_STARTED},
        {6, ERR_INVALID_REQUEST},     {7, ERR_INVALID_PATH_ID}, {8, ERR_NO_DEVICE},
        {9, ERR_TIMEOUT},             {10, ERR_SELECTION_TIMEOUT}, {11, ERR_COMMAND_TIMEOUT},
        {13, ERR_MESSAGE_REJECTED},   {14, ERR_BUS_RESET},     {15, ERR_PARITY},
        {16, ERR_REQSENSE_FAILED},    {17, ERR_NO_HOST_ADAPTER}, {18, ERR_DATA_OVERRUN},
        {19, ERR_UNEXPECTED_BUS_FREE}, {20, ERR_PHASE_SEQUENCE}, {21, ERR_BAD_SRB_LENGTH},
        {22, ERR_REQUEST_FLUSHED},    {32, ERR_INVALID_LUN},   {33, ERR_INVALID_TARGET},
        {34, ERR_BAD_FUNCTION},       {35, ERR_ERROR_RECOVERY},
        {12, ERR_DRIVER_IO},          {36, ERR_DRIVER_IO},
    };
    for (const auto& [code, expected] : rows) {
        EXPECT_EQ(adapterStatus(code), expected) << "code " << int{code};
    }
    // The sense flag is not part of the code.
    EXPECT_EQ(adapterStatus(0x80 | 4), ERR_DRIVER_IO);

    const struct {
        BYTE code;
        BYTE srb;
        BYTE ha;
    } srbRows[] = {
        {0, 0, 0},       {1, 1, 0},       {2, 2, 0},       {3, 3, 0},       {4, 4, 0},       {5, 0xE5, 0},
        {6, 0xE0, 0},    {7, 0x81, 0},    {17, 0x81, 0},   {8, 0x82, 0},    {32, 0x82, 0},   {33, 0x82, 0},
        {9, 4, 0x09},    {10, 4, 0x11},   {11, 4, 0x0B},   {13, 4, 0x0D},   {14, 4, 0x0E},   {15, 4, 0x0F},
        {16, 4, 0x10},   {18, 4, 0x12},   {19, 4, 0x14},   {20, 4, 0x14},   {21, 4, 0},      {0x80 | 9, 4, 0x09},
    };
    BYTE data[16] = {};
    ctl.GetCdb(true)[0] = kInquiry;
    ctl.SetBuffer(data, sizeof data);
    ctl.CompleteCmd(6, sizeof data, CScsiIoCtl::kFlagDataIn, 30, 0, 0, 0);
    request->ScsiStatus = 2;
    for (const auto& row : srbRows) {
        request->Completion = row.code;
        SRB_ExecSCSICmd srb{};
        ctl.FillSRB(&srb);
        EXPECT_EQ(srb.SRB_Status, row.srb) << "code " << int{row.code};
        EXPECT_EQ(srb.SRB_HaStat, row.ha) << "code " << int{row.code};
        EXPECT_EQ(srb.SRB_Cmd, 2);
        EXPECT_EQ(srb.SRB_Target, 40);
        EXPECT_EQ(srb.SRB_HaId, 1);
        EXPECT_EQ(srb.SRB_TargStat, 2);
        EXPECT_EQ(srb.SRB_Flags, SRB_ExecSCSICmd::SRB_DIR_IN);
        EXPECT_EQ(DWORD{srb.SRB_BufLen}, sizeof data);
        EXPECT_EQ(srb.CDBByte[0], kInquiry);
    }
}

TEST_F(NoxTransport, AdaptersDevicesAndCorrections)
{
    // The hidden adapter is not kept.
    EXPECT_EQ(m_Driver->AdapterCount(), 2);
    int id = 0;
    std::string manager;
    std::string identifier;
    long devices = 0;
    ASSERT_EQ(m_Driver->AdapterInquiry(1, &id, &manager, &identifier, &devices), ERR_NONE);
    EXPECT_EQ(id, 255);
    EXPECT_EQ(manager, "LP6NDS35");
    EXPECT_EQ(identifier, "LP9002-F2");
    EXPECT_EQ(devices, 4 * 31);  // one bus fewer than listed
    ASSERT_EQ(m_Driver->AdapterInquiry(2, &id, &manager, &identifier, &devices), ERR_NONE);
    EXPECT_EQ(id, 7);
    EXPECT_EQ(devices, 16);
    EXPECT_NE(m_Driver->AdapterInquiry(3, &id, &manager, &identifier, &devices), ERR_NONE);

    // Target 40 is path 2 (base path 1 + bus 1), target 9.
    EXPECT_EQ(Serial(Address(1, 40, 0)), "FC000040");
    EXPECT_EQ(Serial(Address(1, 0, 0)), "FC000000");
    EXPECT_EQ(m_Driver->GetDeviceHandle(Address(1, 9, 0)), nullptr);
    EXPECT_EQ(m_Driver->GetDeviceHandle(Address(1, 40, 1)), nullptr);
    EXPECT_EQ(m_Driver->GetDeviceHandle(Address(0, 0, 0)), nullptr);
    // The pseudo device listed on 0:0:0 never takes the real unit's place.
    EXPECT_EQ(Serial(Address(2, 0, 0), 1), "QL000000");
    SCSI_NOXIoCtl none(Address(1, 41, 0), 0);
    EXPECT_EQ(none.GetStatus(), ERR_NO_DEVICE);

    // A rescan relists the devices: the same handles come back.
    const HANDLE before = m_Driver->GetDeviceHandle(Address(1, 40, 0));
    EXPECT_EQ(m_Driver->RescanBus(1), ERR_NONE);
    EXPECT_EQ(m_Driver->GetDeviceHandle(Address(1, 40, 0)), before);
}

TEST_F(NoxTransport, CompletionCodes)
{
    SCSI_NOXIoCtl ctl(Address(1, 40, 0), 0);
    // A short INQUIRY ends in an underrun, which counts as complete.
    std::array<BYTE, 255> data{};
    ASSERT_EQ(Run(ctl, {kInquiry, 0, 0, 0, 255, 0}, data.data(), data.size()), ERR_CMD_COMPLETE);
    EXPECT_EQ(RequestOf(ctl)->Completion, 1);

    // Code 1 with CHECK CONDITION is an error without unit-attention absorption...
    ctl.SetStatus(ERR_CMD_PENDING);
    RequestOf(ctl)->ScsiStatus = 2;
    EXPECT_EQ(ctl.IsCommandComplete(), ERR_CHECK_CONDITION);
    // ...and complete with it.
    CScsiIoCtl::SetNumUnitAttnRetries(2);
    ctl.SetStatus(ERR_CMD_PENDING);
    EXPECT_EQ(ctl.IsCommandComplete(), ERR_CMD_COMPLETE);
    CScsiIoCtl::SetNumUnitAttnRetries(0);
    // The library's own failure of a started request is a driver failure.
    RequestOf(ctl)->Completion = 0x80 | 9;
    RequestOf(ctl)->ScsiStatus = 0;
    ctl.SetStatus(ERR_CMD_PENDING);
    EXPECT_EQ(ctl.IsCommandComplete(), ERR_TIMEOUT);
    EXPECT_EQ(ctl.GetDriverStatus(), ERR_TIMEOUT);
    EXPECT_TRUE(ctl.IsDevErrorValid());
}

TEST_F(NoxTransport, UnitAttentionAndPolling)
{
    // The unit's first command after power-on reports a unit attention.
    SCSI_NOXIoCtl waiting(Address(2, 0, 0), 0);
    CScsiIoCtl::SetNumUnitAttnRetries(1);
    EXPECT_EQ(Run(waiting, {kTestUnitReady, 0, 0, 0, 0, 0}, nullptr, 0), ERR_SK_UNIT_ATTENTION);
    EXPECT_EQ(waiting.GetSenseData()->SenseKey(), 6);
    EXPECT_EQ(Run(waiting, {kTestUnitReady, 0, 0, 0, 0, 0}, nullptr, 0), ERR_CMD_COMPLETE);

    // Four polling blocks in flight at once all complete.
    std::vector<std::unique_ptr<SCSI_NOXIoCtl>> blocks;
    std::vector<std::array<BYTE, 255>> pages(4);
    for (unsigned char index = 1; index <= 4; ++index) {
        blocks.push_back(std::make_unique<SCSI_NOXIoCtl>(Address(1, 40, 0), index));
        SCSI_NOXIoCtl& ctl = *blocks.back();
        const BYTE cdb[6] = {kInquiry, 1, 0x80, 0, 255, 0};
        std::memcpy(ctl.GetCdb(true), cdb, sizeof cdb);
        ctl.SetBuffer(pages[index - 1].data(), 255);
        ctl.CompleteCmd(6, 255, CScsiIoCtl::kFlagDataIn, 30, 0, 0, 0);
        ASSERT_EQ(ctl.DoIO(), ERR_NONE);
    }
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (auto& ctl : blocks) {
        Error_t status = ctl->IsCommandComplete();
        while (status == ERR_CMD_PENDING && std::chrono::steady_clock::now() < limit) {
            status = ctl->IsCommandComplete();
        }
        EXPECT_EQ(status, ERR_CMD_COMPLETE);
    }
    for (const auto& page : pages) {
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(page.data() + 4), page[3]), "FC000040");
    }
}

TEST_F(NoxTransport, BufferManager)
{
    AlignedBuffer::UnregisterBufferMgr();
    ASSERT_EQ(AlignedBuffer::RegisterBufferMgr(BUFMGR_NOX), ERR_NONE);
    unsigned long available = 0;
    AlignedBuffer::GetAvailable(&available);
    EXPECT_EQ(available, 16ul * 1024 * 1024);
    {
        AlignedBuffer large(1024 * 1024);
        AlignedBuffer::GetAvailable(&available);
        EXPECT_EQ(available, 15ul * 1024 * 1024);
        unsigned long total = 0;
        AlignedBuffer::GetTotalAllocated(&total);
        EXPECT_EQ(total, 1024ul * 1024);
        std::memset(large.Ptr(), 0x5A, large.Size());
    }
    AlignedBuffer::GetAvailable(&available);
    EXPECT_EQ(available, 16ul * 1024 * 1024);
    // More than the pool holds is refused with the library's code.
    Error_t refused = ERR_NONE;
    try {
        AlignedBuffer huge(17 * 1024 * 1024);
    } catch (Error_t code) {
        refused = code;
    }
    EXPECT_EQ(refused, ERR_NO_MEMORY);
}

}  // namespace
