#include "AspiTestSupport.h"

#include "core/transport/AspiSrb.h"
#include "platform/Library.h"

namespace {

using aspi_test::AspiFixture;

class AspiLayerFixture : public AspiFixture {
protected:
    void SetUp() override
    {
        AspiFixture::SetUp();
        UseMachine(R"({"name": "layer", "ports": [{"port": 0, "driver": "aic78xx",
            "units": [{"target": 1, "type": "disk", "blocks": 4096}, {"target": 4, "type": "tape"}]}]})");
        m_Library = LoadLibraryA("WNASPI32.DLL");
        ASSERT_NE(m_Library, nullptr);
        m_Send = reinterpret_cast<SendASPI32Command_t>(GetProcAddress(m_Library, "SendASPI32Command"));
        m_Support = reinterpret_cast<GetASPI32SupportInfo_t>(GetProcAddress(m_Library, "GetASPI32SupportInfo"));
        ASSERT_NE(m_Send, nullptr);
        ASSERT_NE(m_Support, nullptr);
    }
    void TearDown() override
    {
        FreeLibrary(m_Library);
        AspiFixture::TearDown();
    }

    HMODULE m_Library = nullptr;
    SendASPI32Command_t m_Send = nullptr;
    GetASPI32SupportInfo_t m_Support = nullptr;
};

TEST_F(AspiLayerFixture, EveryRequestBlockKindIsAnswered)
{
    EXPECT_EQ(m_Support(), 0x0101u);  // SS_COMP, one adapter

    SRB_HAInquiry inquiry{};
    inquiry.SRB_HaId = 1;
    EXPECT_EQ(m_Send(&inquiry), aspi::SS_INVALID_HA);
    EXPECT_EQ(inquiry.SRB_Status, aspi::SS_INVALID_HA);

    SRB_GDEVBlock type{aspi::SC_GET_DEV_TYPE, 0, 0, 0, 0, 4, 0, 0xFF, 0};
    EXPECT_EQ(m_Send(&type), aspi::SS_COMP);
    EXPECT_EQ(type.SRB_DeviceType, 1);  // tape
    type.SRB_Target = 2;
    EXPECT_EQ(m_Send(&type), aspi::SS_NO_DEVICE);

    SRB_GetSetTimeouts timeouts{aspi::SC_GETSET_TIMEOUTS, 0, 0, aspi::kTimeoutSet, 0, 1, 0, 20};
    EXPECT_EQ(m_Send(&timeouts), aspi::SS_COMP);
    timeouts.SRB_Flags = aspi::kTimeoutGet;
    timeouts.SRB_Timeout = 0;
    timeouts.SRB_Lun = 1;
    EXPECT_EQ(m_Send(&timeouts), aspi::SS_COMP);
    DWORD halfSeconds = timeouts.SRB_Timeout;  // a packed field is read by value
    EXPECT_EQ(halfSeconds, 60u);               // nothing set for LUN 1
    timeouts.SRB_Lun = 0;
    EXPECT_EQ(m_Send(&timeouts), aspi::SS_COMP);
    halfSeconds = timeouts.SRB_Timeout;
    EXPECT_EQ(halfSeconds, 20u);

    SRB_ExecSCSICmd exec{};
    exec.SRB_Cmd = aspi::SC_EXEC_SCSI_CMD;
    exec.SRB_Target = 1;
    EXPECT_EQ(m_Send(&exec), aspi::SS_INVALID_SRB);  // no CDB
    exec.SRB_CDBLen = 6;
    exec.SRB_BufLen = 512;  // data without a buffer
    EXPECT_EQ(m_Send(&exec), aspi::SS_INVALID_SRB);

    SRB_Abort abort{aspi::SC_ABORT_SRB, 0, 0, 0, 0, &exec};
    EXPECT_EQ(m_Send(&abort), aspi::SS_ABORT_FAIL);  // nothing of that block is waiting
    SRB_BusDeviceReset reset{};
    reset.SRB_Cmd = aspi::SC_RESET_DEV;
    reset.SRB_Target = 1;
    EXPECT_EQ(m_Send(&reset), aspi::SS_COMP);
    SRB_RescanPort rescan{aspi::SC_RESCAN_SCSI_BUS, 0, 0, 0, 0};
    EXPECT_EQ(m_Send(&rescan), aspi::SS_COMP);

    SRB_Header unknown{0x42, 0, 0, 0, 0};
    EXPECT_EQ(m_Send(&unknown), aspi::SS_INVALID_CMD);
    EXPECT_EQ(m_Send(nullptr), aspi::SS_INVALID_SRB);
}

}  // namespace
