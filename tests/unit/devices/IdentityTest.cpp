// Device set-up from INQUIRY: identity, copyright text and serial number,
// whatever lengths the drive claims.
#include "DeviceTestSupport.h"

#include "core/log/CLogFile.h"
#include "support/FileText.h"

#include <cstring>
#include <string>

namespace devices_test {
namespace {

std::vector<std::uint8_t> StandardInquiry(std::uint8_t additionalLength, std::uint8_t type = 0x00)
{
    std::vector<std::uint8_t> data(255, 0);
    data[0] = type;
    data[2] = 0x03;
    data[4] = additionalLength;
    std::memcpy(&data[8], "KESTREL ", 8);
    std::memcpy(&data[16], "KX18LVD         ", 16);
    std::memcpy(&data[32], "K100", 4);
    return data;
}

std::vector<std::uint8_t> SerialPage(std::uint8_t pageLength, const std::string& serial)
{
    std::vector<std::uint8_t> page(4 + serial.size(), 0);
    page[1] = 0x80;
    page[3] = pageLength;
    std::copy(serial.begin(), serial.end(), page.begin() + 4);
    return page;
}

class Identity : public DeviceFixture {
protected:
    void TearDown() override
    {
        m_Device.reset();
        DeviceFixture::TearDown();
    }
    // Init against a drive answering the two INQUIRYs with these bytes.
    Error_t InitWith(const std::vector<std::uint8_t>& inquiry, const std::vector<std::uint8_t>& serialPage)
    {
        m_Device = std::make_unique<TestDevice>(&m_Adapter, 0, 4, 0);
        m_Device->AllocateResource();
        m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, inquiry});
        m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, serialPage});
        return m_Device->Init();
    }

    FakeAdapter m_Adapter{0};
    std::unique_ptr<TestDevice> m_Device;
};

TEST_F(Identity, InitReadsIdentityAndSerialNumber)
{
    std::vector<std::uint8_t> inquiry = StandardInquiry(92);
    std::memcpy(&inquiry[8], "ACME\0\0\0\0", 8);  // fields end at their first zero byte
    const std::filesystem::path logFile = m_Dir / "core.log";
    ASSERT_EQ(CLogFile::Init(logFile.string()), ERR_NONE);
    CLogFile::Instance()->TurnOnLogOption(LOG_DEVINFO);
    m_Device = std::make_unique<TestDevice>(&m_Adapter, 0, 4, 0);
    m_Device->LockDev();
    m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, inquiry});
    m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, SerialPage(8, "SIM00001")});
    ASSERT_EQ(m_Device->Init(), ERR_NONE);

    EXPECT_EQ(m_Device->GetDevType(), DEV_DISK);
    EXPECT_EQ(m_Device->GetInterfaceType(), IF_SCSI);
    EXPECT_EQ(m_Device->GetVendor(), "ACME");
    EXPECT_EQ(m_Device->GetModelName(), "KX18LVD         ");
    EXPECT_EQ(m_Device->GetFirmwareVersion(), "K100");
    EXPECT_EQ(m_Device->GetSerialNum_Str(), "SIM00001");
    EXPECT_EQ(m_Device->GetCopyright(), "");  // additional length 92: no copyright
    EXPECT_FALSE(m_Device->IsDevLocked());
    EXPECT_EQ(m_Device->GetNumCtlBlocks(), 0UL);

    const auto& log = m_Adapter.script->Log;
    ASSERT_EQ(log.size(), 2U);
    EXPECT_EQ(log[0].Cdb, (std::vector<std::uint8_t>{0x12, 0x00, 0x00, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(log[1].Cdb, (std::vector<std::uint8_t>{0x12, 0x01, 0x80, 0x00, 0xFF, 0x00}));
    EXPECT_EQ(log[0].DataLength, 255UL);

    CLogFile::Destroy();
    const std::string text = test_support::ReadText(logFile);
    EXPECT_EQ(text.rfind("Device: 0:4:0\nDevice type: 0\nVendor: ACME\n", 0), 0U) << text;
    EXPECT_NE(text.find("Serial Number: SIM00001"), std::string::npos) << text;
}

TEST_F(Identity, CopyrightOffsetsAndLengths)
{
    const std::string text = "Copyright (c) 2001 Kestrel Storage, all rights reserved";
    std::vector<std::uint8_t> at96 = StandardInquiry(120);
    std::memcpy(&at96[96], text.data(), text.size());
    ASSERT_EQ(InitWith(at96, SerialPage(0, "")), ERR_NONE);
    EXPECT_EQ(m_Device->GetCopyright(), text.substr(0, 28));

    std::vector<std::uint8_t> at97 = StandardInquiry(120);  // a zero at 96 moves the text by one
    std::memcpy(&at97[97], text.data(), text.size());
    ASSERT_EQ(InitWith(at97, SerialPage(0, "")), ERR_NONE);
    EXPECT_EQ(m_Device->GetCopyright(), text.substr(0, 28));

    // The drive claims more than INQUIRY(6) can return: cut at the end of the data.
    std::vector<std::uint8_t> full = StandardInquiry(255);
    std::memset(&full[96], 'C', 255 - 96);
    ASSERT_EQ(InitWith(full, SerialPage(0, "")), ERR_NONE);
    EXPECT_EQ(m_Device->GetCopyright(), std::string(159, 'C'));

    // Claimed but not returned: the unreturned bytes end the text.
    const std::vector<std::uint8_t> claimed = StandardInquiry(200);
    std::vector<std::uint8_t> shortData(claimed.begin(), claimed.begin() + 100);
    shortData[96] = 'K';
    shortData[97] = 'S';
    ASSERT_EQ(InitWith(shortData, SerialPage(0, "")), ERR_NONE);
    EXPECT_EQ(m_Device->GetCopyright(), "KS");
}

TEST_F(Identity, SerialNumberLengths)
{
    ASSERT_EQ(InitWith(StandardInquiry(92), SerialPage(0, "IGNORED!")), ERR_NONE);
    EXPECT_EQ(m_Device->GetSerialNum_Str(), "");

    ASSERT_EQ(InitWith(StandardInquiry(92), SerialPage(255, std::string(251, 'S'))), ERR_NONE);
    EXPECT_EQ(m_Device->GetSerialNum_Str(), std::string(251, 'S'));

    // 253 claimed: never past the 255-byte page.
    ASSERT_EQ(InitWith(StandardInquiry(92), SerialPage(253, std::string(251, 'T'))), ERR_NONE);
    EXPECT_EQ(m_Device->GetSerialNum_Str(), std::string(251, 'T'));
}

TEST_F(Identity, InitFailures)
{
    // Peripheral type 0x1F: no supported device.
    EXPECT_EQ(InitWith(StandardInquiry(92, 0x1F), SerialPage(0, "")), ERR_INIT_FAILED);
    // The qualifier bits are not examined.
    EXPECT_EQ(InitWith(StandardInquiry(92, 0x65), SerialPage(0, "")), ERR_NONE);
    EXPECT_EQ(m_Device->GetDevType(), DEV_CDROM);

    m_Device = std::make_unique<TestDevice>(&m_Adapter, 0, 4, 0);
    m_Adapter.script->Answers.push_back({ERR_CMD_COMPLETE, -1, StandardInquiry(92)});
    m_Adapter.script->Answers.push_back({ERR_CHECK_CONDITION, 5, {}, ERR_NONE});  // no serial number page
    EXPECT_EQ(m_Device->Init(), ERR_INIT_FAILED);

    m_Adapter.script->Answers.push_back({ERR_CHECK_CONDITION, 4, {}, ERR_NONE});
    EXPECT_EQ(m_Device->Init(), ERR_INIT_FAILED);

    m_Adapter.blocksLeft = 0;
    EXPECT_EQ(m_Device->Init(), ERR_INIT_FAILED);
    EXPECT_EQ(m_Device->GetCtlBlock(0), nullptr);

    TestDevice orphan(nullptr, 0, 4, 0);
    EXPECT_EQ(orphan.Init(), ERR_INIT_FAILED);
}

}  // namespace
}  // namespace devices_test
