#include "DeviceFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/devices/CLibraryDev.h"
#include "core/devices/CMagnetoOptical.h"
#include "core/devices/CTape.h"
#include "core/types/CEventError.h"

#include <cstring>

namespace disk_test {
namespace {

// The sense key of the event a failing command throws.
template <typename Command>
int FailureKey(Command command)
{
    const auto error = Failure(command);
    return error != nullptr ? error->GetSenseKey() : -1;
}

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kMachine = R"({"name": "others", "ports": [{"driver": "aic78xx", "units": [
    {"target": 4, "type": "tape"}, {"target": 5, "type": "changer"}]}]})";

class OtherDevicesTest : public DeviceFixture {
protected:
    void SetUp() override
    {
        DeviceFixture::SetUp();
        StartMachine(kMachine);
        m_Tape = Make<CTape>(4);
    }

    std::unique_ptr<CTape> m_Tape;
};

TEST_F(OtherDevicesTest, TapeMotionCdbs)
{
    // This drive has no setmarks and says so, as an SSC drive does.
    EXPECT_EQ(FailureKey([&] { m_Tape->WriteFilemarks(0, 2, false, true); }), 0x05);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x10, 0x02, 0x00, 0x00, 0x02, 0x00}));
    EXPECT_EQ(m_Tape->WriteFilemarks(0, 2, false, false), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x10, 0x00, 0x00, 0x00, 0x02, 0x00}));
    EXPECT_EQ(Sent(*m_Tape).Spt.DataTransferLength, 0u);
    EXPECT_EQ(Sent(*m_Tape).Spt.TimeOutValue, 30u);

    long back = -1;
    EXPECT_EQ(m_Tape->Space(0, back, 1), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x11, 0x01, 0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(back, -1);
    EXPECT_EQ(m_Tape->Rewind(0, true), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x01, 0x01, 0, 0, 0, 0}));
    EXPECT_EQ(m_Tape->Locate(0, 2, false, false, false, 0), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x2B, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00}));

    // Past the end of the data: BLANK CHECK, thrown.
    EXPECT_EQ(FailureKey([&] { m_Tape->Locate(0, 0x00012345, true, false, true, 3); }), 0x08);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x2B, 0x05, 0x00, 0x00, 0x01, 0x23, 0x45, 0x00, 0x03, 0x00}));
    long forward = 5;
    EXPECT_EQ(FailureKey([&] { m_Tape->Space(0, forward, 0); }), 0x08);
    EXPECT_EQ(forward, 5);

    EXPECT_EQ(m_Tape->Erase(0, true, true), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x19, 0x03, 0, 0, 0, 0}));
    EXPECT_EQ(m_Tape->AllowMediumRemoval(0, true), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x1E, 0, 0, 0, 0x01, 0}));
}

TEST_F(OtherDevicesTest, TapeLoadUnloadAndLimits)
{
    EXPECT_EQ(m_Tape->LoadUnload(0, true, false, true, true), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x1B, 0x01, 0, 0, 0x06, 0}));
    EXPECT_EQ(FailureKey([&] { m_Tape->Rewind(0, false); }), 0x02);
    EXPECT_EQ(m_Tape->LoadUnload(0, false, true, false, false), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x1B, 0x00, 0, 0, 0x01, 0}));
    EXPECT_EQ(m_Tape->Rewind(0, false), ERR_NONE);

    AlignedBuffer limits(16);
    std::memset(limits.Ptr(), 0xEE, limits.Size());
    EXPECT_EQ(m_Tape->ReadBlockLimits(0, &limits), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), (Bytes{0x05, 0, 0, 0, 0, 0}));
    EXPECT_EQ(Sent(*m_Tape).Spt.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(Sent(*m_Tape).Spt.DataTransferLength, 6u);
    EXPECT_EQ(m_Tape->GetMaxBlockLength(), 0x10000u);
    EXPECT_EQ(m_Tape->GetMinBlockLength(), 1u);
    AlignedBuffer tooSmall(5);
    EXPECT_EQ(m_Tape->ReadBlockLimits(0, &tooSmall), ERR_INVALID_PARAM);
}

TEST_F(OtherDevicesTest, TapeChecksAndOperationsThatSendNothing)
{
    ASSERT_EQ(m_Tape->Rewind(0, false), ERR_NONE);
    const Bytes before = SentCdb(*m_Tape);
    long tooFar = 0x800000;
    EXPECT_EQ(m_Tape->Space(0, tooFar, 0), ERR_INVALID_PARAM);
    tooFar = -0x800001;
    EXPECT_EQ(m_Tape->Space(0, tooFar, 0), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Tape->WriteFilemarks(0, -1, false, false), ERR_INVALID_PARAM);
    EXPECT_EQ(m_Tape->Locate(0, -1, false, false, false, 0), ERR_INVALID_PARAM);
    unsigned char data[16] = {};
    EXPECT_EQ(m_Tape->Read(0, 1, 16, data), ERR_NONE);
    EXPECT_EQ(m_Tape->Write(0, 1, 16, data), ERR_NONE);
    EXPECT_EQ(m_Tape->Verify(0, 1, 16), ERR_NONE);
    EXPECT_EQ(SentCdb(*m_Tape), before);
}

TEST_F(OtherDevicesTest, OpticalAndChangerSendNothing)
{
    SCSIDevice probe(&m_Adapter, 0, 5, 0);
    ASSERT_EQ(probe.Init(), ERR_NONE);
    probe.LockDev();
    CLibraryDev changer(&probe);
    EXPECT_TRUE(changer.IsDevLocked());
    ASSERT_EQ(changer.Init(), ERR_NONE);
    EXPECT_FALSE(changer.IsDevLocked());
    ASSERT_EQ(changer.TestUnitReady(0), ERR_NONE);
    const Bytes before = SentCdb(changer);
    unsigned char data[64] = {};
    CDevAddress address(1, 2, 3, -1, -1, -1);
    EXPECT_EQ(changer.MoveMedium(0, ELEMENT_STORAGE, 1, ELEMENT_DATA_TRANSFER, 2, false), ERR_NONE);
    EXPECT_EQ(changer.ReadElementStatus(64, 0, ELEMENT_ALL, data), ERR_NONE);
    EXPECT_EQ(changer.Element2DevAddress(0, ELEMENT_DATA_TRANSFER, address), ERR_NONE);
    EXPECT_EQ(address, CDevAddress(1, 2, 3, -1, -1, -1));
    EXPECT_EQ(SentCdb(changer), before);

    CMagnetoOptical optical(&probe);
    ASSERT_EQ(optical.Init(), ERR_NONE);
    const Bytes opticalBefore = SentCdb(optical);
    EXPECT_TRUE(optical.SetMediaType(static_cast<MagnetoOptMedia_t>(3)));
    EXPECT_EQ(optical.GetMediaType(), MO_MEDIA_UNKNOWN);
    EXPECT_EQ(optical.Write(0, 1, data), ERR_NONE);
    EXPECT_EQ(SentCdb(optical), opticalBefore);
}

}  // namespace
}  // namespace disk_test
