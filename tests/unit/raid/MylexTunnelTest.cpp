// The Mylex tunnel: a command for a drive behind the controller leaves as a
// descriptor and a data transfer on the controller LUN's own block.
#include "core/system/CHostAdapter.h"
#include "core/transport/MylexExtIoCtl.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

namespace {

struct Step {
    std::array<unsigned char, 10> cdb;
    std::vector<unsigned char> data;
    unsigned long flags;
    void* buffer;
};

// An inner block that keeps what it was asked to send.
class RecordingIoCtl final : public CScsiIoCtl {
public:
    RecordingIoCtl(const CDevAddress& address, std::vector<Step>& steps, Error_t& answer)
        : CScsiIoCtl(address, 0), m_Steps(steps), m_Answer(answer)
    {
    }

    Error_t DoIO() override
    {
        const auto* bytes = static_cast<const unsigned char*>(m_Buffer);
        Step step{};
        std::memcpy(step.cdb.data(), m_Cdb, step.cdb.size());
        step.data.assign(bytes, bytes + m_Length);
        step.flags = m_Flags;
        step.buffer = m_Buffer;
        m_Steps.push_back(step);
        return ERR_NONE;
    }
    Error_t IsCommandComplete() override { return m_Answer; }
    unsigned char* GetCdb(bool clear) override
    {
        if (clear) {
            std::memset(m_Cdb, 0, sizeof m_Cdb);
        }
        return m_Cdb;
    }
    Error_t SetBuffer(void* data, long) override
    {
        m_Buffer = data;
        return ERR_NONE;
    }
    Error_t CompleteCmd(unsigned char, unsigned long length, unsigned long flags, long, unsigned long, unsigned long,
                        unsigned char) override
    {
        m_Length = length;
        m_Flags = flags;
        return ERR_NONE;
    }
    Error_t GetDriverStatus() override { return ERR_NONE; }
    SCSI_SenseData_s* GetSenseData() override { return nullptr; }
    unsigned char GetCdbLen() override { return 10; }
    void FillSRB(void*) override {}
    bool GetIOStatii(Error_t*, Error_t*, Error_t*) override { return true; }
    Error_t ProcessError() override { return ERR_NONE; }

private:
    std::vector<Step>& m_Steps;
    Error_t& m_Answer;
    unsigned char m_Cdb[16] = {};
    void* m_Buffer = nullptr;
    unsigned long m_Length = 0;
    unsigned long m_Flags = 0;
};

class ControllerAdapter final : public CHostAdapter {
public:
    ControllerAdapter() : CHostAdapter(0) {}
    CScsiIoCtl* CreateIoCtl(const CDevAddress& address, unsigned char) override
    {
        EXPECT_EQ(address.m_RaidChannel, -1) << "the inner block addresses the controller LUN";
        return new RecordingIoCtl(address, steps, answer);
    }
    Error_t Rescan() override { return ERR_NONE; }

    std::vector<Step> steps;
    Error_t answer = ERR_CMD_COMPLETE;
};

std::uint32_t SequenceOf(const Step& step)
{
    return step.cdb[3] | step.cdb[4] << 8 | step.cdb[5] << 16 | static_cast<std::uint32_t>(step.cdb[6]) << 24;
}

Error_t Tunnel(MylexExtIoCtl& ctl, const std::vector<unsigned char>& cdb, unsigned char* data, unsigned long length,
               unsigned long flags)
{
    std::memcpy(ctl.GetCdb(true), cdb.data(), cdb.size());
    ctl.SetBuffer(data, static_cast<long>(length));
    EXPECT_EQ(ctl.CompleteCmd(static_cast<unsigned char>(cdb.size()), length, flags, 30, 0, 0, 0), ERR_NONE);
    return ctl.DoIO();
}

TEST(MylexTunnel, DescriptorThenDataWithOneSequenceNumberEach)
{
    ControllerAdapter controller;
    MylexExtIoCtl ctl(CDevAddress(0, 2, 0, 1, 3, 0), 0, &controller);
    unsigned char inquiry[36] = {};
    ASSERT_EQ(Tunnel(ctl, {0x12, 0, 0, 0, 36, 0}, inquiry, sizeof inquiry, CScsiIoCtl::kFlagDataIn), ERR_NONE);
    std::vector<unsigned char> block(512, 0xA5);
    ASSERT_EQ(Tunnel(ctl, {0x2A, 0, 0, 0, 0, 9, 0, 0, 1, 0}, block.data(), block.size(), CScsiIoCtl::kFlagDataOut),
              ERR_NONE);

    const std::vector<Step>& s = controller.steps;
    ASSERT_EQ(s.size(), 4u);
    std::vector<unsigned char> descriptor(32, 0);
    const unsigned char head[] = {1, 3, 6, 1, 1};
    std::copy(std::begin(head), std::end(head), descriptor.begin());
    const unsigned char inquiryCdb[] = {0x12, 0, 0, 0, 36, 0};
    std::copy(std::begin(inquiryCdb), std::end(inquiryCdb), descriptor.begin() + 16);
    EXPECT_EQ(s[0].data, descriptor);
    EXPECT_EQ(s[0].flags, CScsiIoCtl::kFlagDataOut);
    EXPECT_EQ((std::array<unsigned char, 3>{s[0].cdb[0], s[0].cdb[2], s[0].cdb[8]}),
              (std::array<unsigned char, 3>{0x22, 0xAD, 32}));
    EXPECT_EQ((std::array<unsigned char, 4>{s[1].cdb[0], s[1].cdb[2], s[1].cdb[7], s[1].cdb[8]}),
              (std::array<unsigned char, 4>{0x22, 0xAE, 0x00, 36}));
    EXPECT_EQ(s[1].buffer, inquiry);
    EXPECT_EQ(s[1].flags, CScsiIoCtl::kFlagDataIn);
    EXPECT_EQ(s[2].data[3], 2) << "data out";
    EXPECT_EQ((std::array<unsigned char, 2>{s[3].cdb[7], s[3].cdb[8]}), (std::array<unsigned char, 2>{0x02, 0x00}));

    EXPECT_EQ(SequenceOf(s[0]), SequenceOf(s[1]));
    EXPECT_EQ(SequenceOf(s[2]), SequenceOf(s[3]));
    EXPECT_EQ(SequenceOf(s[2]), SequenceOf(s[0]) + 1);
}

TEST(MylexTunnel, TransfersBeyondTheSixteenBitLengthAreRefused)
{
    ControllerAdapter controller;
    MylexExtIoCtl ctl(CDevAddress(0, 2, 0, 1, 3, 0), 0, &controller);
    std::vector<unsigned char> data(0x10000, 0x5A);
    std::memcpy(ctl.GetCdb(true), "\x28\0\0\0\0\0\0\0\x80\0", 10);
    ASSERT_EQ(ctl.SetBuffer(data.data(), static_cast<long>(data.size())), ERR_NONE);
    EXPECT_EQ(ctl.CompleteCmd(10, 0x10000, CScsiIoCtl::kFlagDataIn, 30, 0, 128, 0), ERR_INVALID_PARAM);
    EXPECT_TRUE(controller.steps.empty());

    // The largest transfer that fits goes out with its length whole.
    ASSERT_EQ(Tunnel(ctl, {0x28, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0}, data.data(), 0xFFFF, CScsiIoCtl::kFlagDataIn),
              ERR_NONE);
    ASSERT_EQ(controller.steps.size(), 2u);
    EXPECT_EQ((std::array<unsigned char, 2>{controller.steps[1].cdb[7], controller.steps[1].cdb[8]}),
              (std::array<unsigned char, 2>{0xFF, 0xFF}));
}

TEST(MylexTunnel, AFailedDescriptorSkipsTheData)
{
    ControllerAdapter controller;
    controller.answer = ERR_CHECK_CONDITION;
    MylexExtIoCtl ctl(CDevAddress(0, 2, 0, 0, 1, 0), 0, &controller);
    unsigned char data[8] = {};
    EXPECT_EQ(Tunnel(ctl, {0x00, 0, 0, 0, 0, 0}, data, 0, 0), ERR_CHECK_CONDITION);
    EXPECT_EQ(controller.steps.size(), 1u);
    EXPECT_EQ(controller.steps[0].data[3], 0) << "no data";

    MylexExtIoCtl orphan(CDevAddress(0, 2, 0, 0, 1, 0), 0, nullptr);
    EXPECT_EQ(orphan.GetCdb(true), nullptr);
    EXPECT_EQ(orphan.GetCdbLen(), 255);
    EXPECT_EQ(orphan.DoIO(), ERR_NO_RESOURCE);
}

}  // namespace
