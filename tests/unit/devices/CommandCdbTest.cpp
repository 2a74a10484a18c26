// Every command's CDB bytes, transfer length, direction and time-out, as the
// transport receives them, and the argument checks that stop a command early.
#include "DeviceTestSupport.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CDisk.h"

#include <cstring>
#include <functional>

namespace devices_test {
namespace {

constexpr unsigned long kIn = 0x08;
constexpr unsigned long kOut = 0x10;
constexpr unsigned long kNoData = 0;

struct CdbCase {
    const char* Name;
    std::function<Error_t(TestDevice&, AlignedBuffer&)> Run;
    std::vector<std::uint8_t> Cdb;
    unsigned long DataLength;
    unsigned long Flags;
    long Timeout;
};

class CommandCdb : public ScriptedFixture {
protected:
    CommandCdb() : ScriptedFixture(3, 5) {}  // LUN 5: byte 1 bits 5-7 read 101
    const std::vector<Issued>& Log() const { return m_Adapter.script->Log; }
};

TEST_F(CommandCdb, EveryCommandBuildsItsCdbDirectionAndTimeout)
{
    CScsiIoCtl* block = nullptr;
    const std::vector<CdbCase> cases = {
        {"Inquiry", [](TestDevice& d, AlignedBuffer& b) { return d.Inquiry(0, &b, 36, 1, 0x83); },
         {0x12, 0xA1, 0x83, 0x00, 36, 0x00}, 36, kIn, 30},
        {"TestUnitReady", [](TestDevice& d, AlignedBuffer&) { return d.TestUnitReady(0); },
         {0x00, 0xA0, 0, 0, 0, 0}, 0, kNoData, 30},
        {"RequestSense", [](TestDevice& d, AlignedBuffer& b) { return d.RequestSense(0, &b); },
         {0x03, 0xA0, 0, 0, 0x80, 0}, 512, kIn, 30},
        {"SendDiagnostic", [](TestDevice& d, AlignedBuffer& b) { return d.SendDiagnostic(0, &b, 1, 1, 0, 1, 1); },
         {0x1D, 0x35, 0x00, 0x02, 0x00, 0x00}, 512, kOut, 30},
        {"SendDiagnostic without data",
         [](TestDevice& d, AlignedBuffer&) { return d.SendDiagnostic(0, nullptr, 6, 0, 1, 0, 0); },
         {0x1D, 0xC2, 0, 0, 0, 0}, 0, kOut, 30},
        {"RecvDiagnosticResults", [](TestDevice& d, AlignedBuffer& b) { return d.RecvDiagnosticResults(0, &b); },
         {0x1C, 0xA0, 0x00, 0x02, 0x00, 0x00}, 512, kIn, 30},
        {"ModeSense6",
         [&block](TestDevice& d, AlignedBuffer& b) { return d.ModeSense6(block, &b, 252, 0x08, 2, 1); },
         {0x1A, 0xA8, 0x88, 0x00, 252, 0x00}, 252, kIn, 30},
        {"ModeSense10",
         [&block](TestDevice& d, AlignedBuffer& b) { return d.ModeSense10(block, &b, 300, 0x3F, 1, 0); },
         {0x5A, 0xA0, 0x7F, 0, 0, 0, 0, 0x01, 0x2C, 0}, 300, kIn, 30},
        {"ModeSelect6", [&block](TestDevice& d, AlignedBuffer& b) { return d.ModeSelect6(block, &b, 24, 1, 1); },
         {0x15, 0xB1, 0, 0, 24, 0}, 24, kOut, 30},
        {"ModeSelect10",
         [&block](TestDevice& d, AlignedBuffer& b) { return d.ModeSelect10(block, &b, 280, 1, 0); },
         {0x55, 0xB0, 0, 0, 0, 0, 0, 0x01, 0x18, 0}, 280, kOut, 30},
        {"LogSense", [](TestDevice& d, AlignedBuffer& b) { return d.LogSense(0, &b, 500, 1, 0x0D, 1, 1); },
         {0x4D, 0xA3, 0x4D, 0, 0, 0, 0, 0x01, 0xF4, 0}, 500, kIn, 30},
        {"LogSelect", [](TestDevice& d, AlignedBuffer& b) { return d.LogSelect(0, &b, 16, 1, 0, 3); },
         {0x4C, 0xA2, 0xC0, 0, 0, 0, 0, 0x00, 16, 0}, 16, kOut, 30},
        {"ReadBuffer", [](TestDevice& d, AlignedBuffer& b) { return d.ReadBuffer(0, 0x012345, 0x400, &b, 2, 7); },
         {0x3C, 0x02, 0x07, 0x01, 0x23, 0x45, 0x00, 0x04, 0x00, 0}, 512, kIn, 30},
        {"WriteBuffer", [](TestDevice& d, AlignedBuffer& b) { return d.WriteBuffer(0, 0x8000, 0x100, &b, 5, 3); },
         {0x3B, 0xA5, 0x03, 0x00, 0x80, 0x00, 0x00, 0x01, 0x00, 0}, 256, kOut, 108000},
        {"ReportLUNs", [](TestDevice& d, AlignedBuffer& b) { return d.ReportLUNs(0, &b); },
         {0xA0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x02, 0x00, 0, 0}, 512, kIn, 30},
        {"PersistentReserveIn",
         [&block](TestDevice& d, AlignedBuffer& b) { return d.PersistentReserveIn(block, &b, 100, 0x21); },
         {0x5E, 0x01, 0, 0, 0, 0, 0, 0x00, 100, 0}, 100, kIn, 30},
        {"PersistentReserveOut",
         [&block](TestDevice& d, AlignedBuffer& b) { return d.PersistentReserveOut(block, &b, 24, 0x06, 0x12, 0x13); },
         {0x5F, 0x06, 0x23, 0, 0, 0, 0, 0x00, 24, 0}, 24, kOut, 30},
    };
    block = m_Device->GetCtlBlock(0);
    for (const CdbCase& c : cases) {
        SCOPED_TRACE(c.Name);
        AlignedBuffer buffer(512);
        const std::size_t before = Log().size();
        ASSERT_EQ(c.Run(*m_Device, buffer), ERR_NONE);
        ASSERT_EQ(Log().size(), before + 1);
        const Issued& issued = Log().back();
        EXPECT_EQ(issued.Cdb, c.Cdb);
        EXPECT_EQ(issued.DataLength, c.DataLength);
        if (c.DataLength != 0) {
            EXPECT_EQ(issued.Flags, c.Flags);
        }
        EXPECT_EQ(issued.Timeout, c.Timeout);
    }
}

// A disk at LUN 5 whose INQUIRY data claims the given version.
std::unique_ptr<CDisk> DiskOfVersion(FakeAdapter& adapter, std::uint8_t version)
{
    std::vector<std::uint8_t> inquiry(36, 0x20);
    inquiry[0] = 0x00;
    inquiry[1] = 0x00;
    inquiry[2] = version;
    inquiry[3] = 0x02;
    inquiry[4] = 31;
    // The probe and then the disk read the standard data and the serial number page.
    for (int reader = 0; reader < 2; ++reader) {
        adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, inquiry});
        adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, {0x00, 0x80, 0x00, 0x00}});
    }
    SCSIDevice probe(&adapter, adapter.GetAssignedID(), 2, 5);
    EXPECT_EQ(probe.Init(), ERR_NONE);
    auto disk = std::make_unique<CDisk>(&probe);
    adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, {0x00, 0x00, 0x0F, 0xFF, 0x00, 0x00, 0x02, 0x00}});
    EXPECT_EQ(disk->Init(), ERR_NONE);
    return disk;
}

TEST_F(CommandCdb, LunBitsOnlyForDrivesOfScsi2AndOlder)
{
    struct LunCase {
        const char* Name;
        std::function<Error_t(CDisk&, AlignedBuffer&)> Run;
        bool CarriesLun;
    };
    const std::vector<LunCase> cases = {
        {"Read6", [](CDisk& d, AlignedBuffer& b) { return d.Read6(d.GetCtlBlock(0), 1, 1, &b); }, false},
        {"Write6", [](CDisk& d, AlignedBuffer& b) { return d.Write6(d.GetCtlBlock(0), 1, 1, &b); }, false},
        {"Read10", [](CDisk& d, AlignedBuffer& b) { return d.Read(0, 1, 1, &b, 0, 0, 0); }, false},
        {"Write10", [](CDisk& d, AlignedBuffer& b) { return d.Write(0, 1, 1, &b, 0, 0, 0); }, false},
        {"Seek6", [](CDisk& d, AlignedBuffer&) { return d.Seek6(d.GetCtlBlock(0), 1); }, false},
        {"Seek10", [](CDisk& d, AlignedBuffer&) { return d.Seek(0, 1); }, true},
        {"Verify", [](CDisk& d, AlignedBuffer& b) { return d.Verify(0, 1, 1, &b, 0, 0, 0); }, true},
        {"WriteVerify", [](CDisk& d, AlignedBuffer& b) { return d.WriteVerify(0, 1, 1, &b, 0, 0, 0); }, true},
        {"ReadLong", [](CDisk& d, AlignedBuffer& b) { return d.ReadLong(0, 1, 512, &b, 0); }, true},
        {"WriteLong", [](CDisk& d, AlignedBuffer& b) { return d.WriteLong(0, 1, 512, &b, 0); }, true},
        {"WriteSame", [](CDisk& d, AlignedBuffer& b) { return d.WriteSame(0, &b, 1, 1, 0, 0, 0); }, false},
        {"SyncCache", [](CDisk& d, AlignedBuffer&) { return d.SyncCache(0, 1, 1, 0, 0); }, true},
        {"PreFetch", [](CDisk& d, AlignedBuffer&) { return d.PreFetch(0, 1, 1, 0, 0); }, false},
        {"ReadCapacity", [](CDisk& d, AlignedBuffer&) { return d.ReadCapacity(0, 0, 0, nullptr, false); }, false},
        {"ReadDefectData10",
         [](CDisk& d, AlignedBuffer& b) { return d.ReadDefectData10(d.GetCtlBlock(0), 1, 1, 4, &b); }, false},
        {"ReadDefectData12",
         [](CDisk& d, AlignedBuffer& b) { return d.ReadDefectData12(d.GetCtlBlock(0), 1, 1, 4, &b); }, false},
        {"ReassignBlocks", [](CDisk& d, AlignedBuffer& b) { return d.ReassignBlocks(0, &b); }, true},
        {"StartStopUnit", [](CDisk& d, AlignedBuffer&) { return d.StartStopUnit(0, true, false); }, false},
        {"ReZero", [](CDisk& d, AlignedBuffer&) { return d.ReZero(0); }, false},
        {"Reserve6", [](CDisk& d, AlignedBuffer& b) { return d.Reserve6(d.GetCtlBlock(0), 0, 0, 0, 0, &b); }, false},
        {"Release10", [](CDisk& d, AlignedBuffer& b) { return d.Release10(d.GetCtlBlock(0), 0, 0, 0, 0, &b); }, false},
        {"FormatUnit", [](CDisk& d, AlignedBuffer&) { return d.FormatUnit(0, 0, 0, 0, 0, nullptr); }, false},
        {"Inquiry", [](CDisk& d, AlignedBuffer& b) { return d.Inquiry(0, &b, 36, 0, 0); }, true},
        {"ModeSense6", [](CDisk& d, AlignedBuffer& b) { return d.ModeSense6(d.GetCtlBlock(0), &b, 36, 8, 0, 0); }, true},
        {"LogSense", [](CDisk& d, AlignedBuffer& b) { return d.LogSense(0, &b, 36, 1, 0x10, 0, 0); }, true},
    };
    for (std::uint8_t version : {0x02, 0x05}) {
        auto disk = DiskOfVersion(m_Adapter, version);
        for (const LunCase& c : cases) {
            SCOPED_TRACE(std::string(c.Name) + " version " + std::to_string(version));
            AlignedBuffer buffer(512);
            std::memset(buffer.Ptr(), 0, buffer.Size());
            ASSERT_EQ(c.Run(*disk, buffer), ERR_NONE);
            const std::uint8_t expected = c.CarriesLun && version <= 2 ? 0xA0 : 0x00;
            EXPECT_EQ(Log().back().Cdb[1] & 0xE0, expected);
        }
    }
}

TEST_F(CommandCdb, ArgumentFaultsAreReturnedAndNothingIsSent)
{
    AlignedBuffer small(16);
    // A transfer longer than its buffer would let the drive write past it.
    EXPECT_EQ(m_Device->Inquiry(0, &small, 36, 0, 0), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(m_Device->Inquiry(0, nullptr, 36, 0, 0), ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(m_Device->PersistentReserveIn(m_Device->GetCtlBlock(0), nullptr, 8, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->PersistentReserveOut(m_Device->GetCtlBlock(0), &small, 17, 0, 0, 0), ERR_INVALID_PARAM);

    // A length its CDB field cannot carry would ask for less and still report success.
    std::vector<unsigned char> memory(70000);
    AlignedBuffer large(memory.data(), static_cast<long>(memory.size()));
    CScsiIoCtl* block = m_Device->GetCtlBlock(0);
    EXPECT_EQ(m_Device->ModeSense6(block, &large, 260, 8, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->ModeSelect6(block, &large, 256, 1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->ModeSense10(block, &large, 65536, 8, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->ModeSelect10(block, &large, 65536, 1, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->ModeSense(0, &large, -1, 8, 0, 0, nullptr), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->LogSense(0, &large, 65536, 1, 0x10, 0, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->LogSelect(0, &large, 65536, 0, 0, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->SendDiagnostic(0, &large, 0, 0, 0, 0, 1), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->RecvDiagnosticResults(0, &large), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->PersistentReserveIn(block, &large, 65536, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->PersistentReserveOut(block, &large, 65536, 0, 0, 0), ERR_INVALID_PARAM);

    SCSI_Cdb_UserDef16Byte_s record{};
    record.CdbLength = 6;
    record.DataLength = 17;
    record.Flags = 0x08;
    AlignedBuffer wrapsNothing(nullptr, 0);
    EXPECT_EQ(m_Device->SCSI_CDB_DANGER(0, nullptr, &small), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->SCSI_CDB_DANGER(0, &record, static_cast<AlignedBuffer*>(nullptr)), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->SCSI_CDB_DANGER(0, &record, static_cast<unsigned char*>(nullptr)), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->SCSI_CDB_DANGER(0, &record, &wrapsNothing), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Device->SCSI_CDB_DANGER(0, &record, &small), ERR_BUFFER_TOO_SMALL);
    EXPECT_TRUE(Log().empty());

    TestDevice bare(&m_Adapter, 3, 2, 0);  // no control block yet
    EXPECT_EQ(bare.TestUnitReady(0), ERR_NOT_INITIALIZED);
}

TEST_F(CommandCdb, ModeWrappersPickTheHeaderForm)
{
    AlignedBuffer buffer(64);
    std::memset(buffer.Ptr(), 0xFF, buffer.Size());
    eDataHeaderKind_t kind = MODE_HDR_10;
    m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, {0x23, 0x00, 0x10, 0x08}});
    ASSERT_EQ(m_Device->ModeSense(0, &buffer, 40, 0x1C, 0, 0, &kind), ERR_NONE);
    EXPECT_EQ(kind, MODE_HDR_6);
    EXPECT_EQ(Log().back().Cdb[0], 0x1A);
    const auto* bytes = static_cast<const unsigned char*>(buffer.Ptr());
    EXPECT_EQ(bytes[0], 0x23);
    EXPECT_EQ(bytes[4], 0x00);   // zeroed before the command
    EXPECT_EQ(bytes[39], 0x00);
    EXPECT_EQ(bytes[40], 0xFF);  // beyond len: untouched

    ASSERT_EQ(m_Device->ModeSelect(0, &buffer, 40, 1, 0, MODE_HDR_10), ERR_NONE);
    EXPECT_EQ(Log().back().Cdb[0], 0x55);
    ASSERT_EQ(m_Device->ModeSelect(0, &buffer, 40, 1, 0, static_cast<eDataHeaderKind_t>(0)), ERR_NONE);
    EXPECT_EQ(Log().back().Cdb[0], 0x15);
}

TEST_F(CommandCdb, GlobalIdComesFromTheNaaIdentifier)
{
    std::vector<std::uint8_t> page = {0x00, 0x83, 0x00, 0x0C, 0x01, 0x03, 0x00, 0x08,
                                      0x50, 0x00, 0xC5, 0x00, 0x12, 0x34, 0x56, 0x78};
    auto device = ScriptedDevice(m_Adapter, 0);
    m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, page});
    LARGE_INTEGER id{};
    ASSERT_EQ(device->GetGlobalID(&id), ERR_NONE);
    EXPECT_EQ(static_cast<std::uint64_t>(id.QuadPart), 0x5000C50012345678ULL);
    EXPECT_EQ(Log().back().Cdb, (std::vector<std::uint8_t>{0x12, 0x01, 0x83, 0x00, 128, 0x00}));

    EXPECT_EQ(device->GetGlobalID(nullptr), ERR_INVALID_PARAM);
    for (int field : {1, 4, 5, 7}) {
        SCOPED_TRACE(field);
        std::vector<std::uint8_t> wrong = page;
        wrong[field] = field == 7 ? 0x04 : 0x02;  // other page, ASCII, vendor type, short identifier
        m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, wrong});
        try {
            device->GetGlobalID(&id);
            ADD_FAILURE() << "an unexpected page must be thrown";
        } catch (CEventBase* event) {
            EXPECT_EQ(event, nullptr);
        }
    }
}

TEST_F(CommandCdb, RawCommandsGoOutAsGivenAndFailuresThrowTheBlock)
{
    SCSI_Cdb_UserDef16Byte_s record{};
    const std::uint8_t cdb[] = {0xC1, 0xA5, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    std::memcpy(record.Cdb, cdb, sizeof cdb);
    record.CdbLength = sizeof cdb;
    record.Flags = 0x08;
    record.DataLength = 64;
    record.Timeout = 7;

    AlignedBuffer buffer(64);
    ASSERT_EQ(m_Device->SCSI_CDB_DANGER(0, &record, &buffer), ERR_NONE);
    EXPECT_EQ(Log().back().Cdb, std::vector<std::uint8_t>(cdb, cdb + sizeof cdb));  // LUN bits left alone
    EXPECT_EQ(Log().back().DataLength, 64UL);
    EXPECT_EQ(Log().back().Flags, 0x08UL);
    EXPECT_EQ(Log().back().Timeout, 7);

    unsigned char raw[64] = {};
    m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, {0xAB, 0xCD}});
    ASSERT_EQ(m_Device->SCSI_CDB_DANGER(0, &record, raw), ERR_NONE);
    EXPECT_EQ(raw[0], 0xAB);
    EXPECT_EQ(raw[1], 0xCD);

    m_Adapter.script->Answers.push_back({ERR_CHECK_CONDITION, 3, {}, ERR_NONE});
    try {
        m_Device->SCSI_CDB_DANGER(0, &record, &buffer);
        ADD_FAILURE() << "a failed raw command must throw";
    } catch (CScsiIoCtl* failed) {
        EXPECT_EQ(failed, m_Device->GetCtlBlock(0));
        EXPECT_EQ(failed->GetSenseData()->SenseKey(), 3);
    }
    // No error event was made, so nothing was counted.
    EXPECT_EQ(m_Device->GetErrorInfo()->GetTotalErrors(), 0);
}

}  // namespace
}  // namespace devices_test
