// The MegaRAID plug-in against a recording miniport: the device-map scan and
// the pass-through buffer it sends, byte for byte.
#include "core/types/Error.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"
#include "platform/ntddscsi.h"
#include "raidplugin/OrbAmiRaid.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct Miniport {
    std::vector<std::vector<std::uint8_t>> sent;  // each buffer as it arrived
    int status = 0;                                // -1: the status byte is left untouched
    std::uint8_t sense[18] = {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0x00};
};

class MiniportDevice final : public harrow::platform::Device {
public:
    explicit MiniportDevice(Miniport& miniport) : m_Miniport(miniport) {}

    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD, DWORD* returned, DWORD*) override
    {
        EXPECT_EQ(code, IOCTL_SCSI_MINIPORT);
        const auto* bytes = static_cast<const std::uint8_t*>(in);
        m_Miniport.sent.emplace_back(bytes, bytes + inSize);
        auto* header = static_cast<MegaRaidPassThrough*>(out);
        if (header->Cdb[0] == 0x03) {  // REQUEST SENSE
            header->Status = 0;
            std::memcpy(static_cast<std::uint8_t*>(out) + sizeof(MegaRaidPassThrough), m_Miniport.sense,
                        sizeof m_Miniport.sense);
        } else if (m_Miniport.status >= 0) {
            header->Status = static_cast<std::uint8_t>(m_Miniport.status);
        }
        *returned = inSize;
        return TRUE;
    }

private:
    Miniport& m_Miniport;
};

// Ports by number with their driver value and as many subkeys as given.
struct Port {
    int number;
    const char* driver;
    int subkeys;
};

class RaidMachine final : public harrow::platform::Machine {
public:
    RaidMachine(std::vector<Port> ports, Miniport& miniport) : m_Ports(std::move(ports)), m_Miniport(miniport) {}

    std::unique_ptr<harrow::platform::Device> Open(const std::string&, DWORD, DWORD* error) override
    {
        *error = ERROR_SUCCESS;
        return std::make_unique<MiniportDevice>(m_Miniport);
    }

    std::vector<harrow::platform::RegistryKey> DeviceMap() const override
    {
        std::vector<harrow::platform::RegistryKey> keys;
        for (const Port& port : m_Ports) {
            const std::string name = "Scsi Port " + std::to_string(port.number);
            harrow::platform::RegistryValue driver{"Driver", REG_SZ, {}};
            driver.data.assign(port.driver, port.driver + std::strlen(port.driver) + 1);
            keys.push_back({name, {driver}});
            for (int bus = 0; bus < port.subkeys; ++bus) {
                keys.push_back({name + "\\Scsi Bus " + std::to_string(bus), {}});
            }
        }
        return keys;
    }

private:
    std::vector<Port> m_Ports;
    Miniport& m_Miniport;
};

class RaidPluginTest : public ::testing::Test {
protected:
    void SetUp() override { m_Home = test_support::MakeTestHome("raidplugin"); }

    void TearDown() override
    {
        CloseControllers();
        test_support::LeaveTestHome(m_Home);
    }

    void Use(std::vector<Port> ports)
    {
        harrow::platform::SetActiveMachine(std::make_unique<RaidMachine>(std::move(ports), m_Miniport));
        harrow::platform::ReloadRegistry();
        ASSERT_EQ(fnAMIRaidInit(), ERR_NONE);
    }

    static RaidRequest Request(std::uint8_t adapter, std::uint8_t channel, std::uint8_t target, std::uint32_t timeout)
    {
        RaidRequest request{};
        request.Cdb[0] = 0x2A;
        request.Cdb[8] = 1;
        request.CdbLength = 10;
        request.Adapter = adapter;
        request.Channel = channel;
        request.Target = target;
        request.Timeout = timeout;
        return request;
    }

    std::filesystem::path m_Home;
    Miniport m_Miniport;
};

TEST_F(RaidPluginTest, ScanCountsEveryMraidDriverAndStopsAtAPortGap)
{
    Use({{0, "MRAID35X", 3}, {1, "aic78xx", 1}, {2, "x-mraid", 1}, {4, "mraid35x", 2}});
    int count = -1;
    EXPECT_EQ(AdapterCount(&count), ERR_NONE);
    EXPECT_EQ(count, 2);
    char channels = 0;
    char identity[16] = {};
    char ownId = 0;
    EXPECT_EQ(HaInquiry(0x100, &channels, identity, &ownId), ERR_NONE) << "the low byte names the port";
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(std::string(identity), "mraid35x/");
    EXPECT_EQ(ownId, 15);
    EXPECT_EQ(HaInquiry(4, &channels, identity, &ownId), ERR_NO_HOST_ADAPTER) << "hidden behind the missing port 3";
    EXPECT_EQ(HaInquiry(1, &channels, identity, &ownId), ERR_NO_HOST_ADAPTER);
}

TEST_F(RaidPluginTest, PassThroughBufferByteForByte)
{
    Use({{0, "mraid35x", 3}});
    const struct {
        std::uint32_t timeout;
        std::uint8_t timeoutClass;
    } cases[] = {{6, 0}, {180, 1}, {600, 2}, {35999, 3}, {36000, 4}};
    std::uint8_t data[512];
    for (std::size_t i = 0; i < sizeof data; ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    for (const auto& each : cases) {
        m_Miniport.sent.clear();
        RaidRequest request = Request(0, 1, 5, each.timeout);
        request.Direction = RaidRequest::kDirectionOut;
        request.DataLength = sizeof data;
        request.Data = data;
        ASSERT_EQ(DoCommand(&request), ERR_NONE);
        ASSERT_EQ(m_Miniport.sent.size(), 1u);
        const std::vector<std::uint8_t>& b = m_Miniport.sent[0];
        std::vector<std::uint8_t> expected(sizeof data + 100, 0);
        const std::uint32_t fields[][2] = {{0, 28}, {12, each.timeout}, {24, sizeof data + 72}, {92, sizeof data}};
        for (const auto& field : fields) {
            std::memcpy(&expected[field[0]], &field[1], 4);
        }
        expected[28] = 3;
        expected[29] = 0xAA;
        expected[36] = static_cast<std::uint8_t>(each.timeoutClass | 0x08);
        expected[39] = 0x15;
        expected[42] = 0x2A;
        expected[50] = 1;
        expected[52] = 10;
        expected[53] = 32;
        expected[87] = 0xFF;
        std::memcpy(&expected[96], data, sizeof data);
        EXPECT_EQ(b, expected) << "timeout " << each.timeout;
    }
}

TEST_F(RaidPluginTest, RefusalsRetriesAndSense)
{
    Use({{0, "mraid35x", 2}});
    RaidRequest request = Request(0, 0, 1, 30);
    request.CdbLength = 12;
    EXPECT_EQ(DoCommand(&request), ERR_INVALID_REQUEST);
    request = Request(0, 0, 16, 30);
    EXPECT_EQ(DoCommand(&request), ERR_NO_DEVICE) << "target 16 would reach channel 1 target 0";
    request = Request(3, 0, 1, 30);
    EXPECT_EQ(DoCommand(&request), ERR_NO_HOST_ADAPTER);
    request = Request(0, 0, 1, 30);
    request.DataLength = 512;
    EXPECT_EQ(DoCommand(&request), ERR_INVALID_REQUEST) << "data without a buffer";
    EXPECT_TRUE(m_Miniport.sent.empty());

    m_Miniport.status = -1;
    request = Request(0, 0, 1, 30);
    EXPECT_EQ(DoCommand(&request), ERR_TIMEOUT);
    EXPECT_EQ(m_Miniport.sent.size(), 3u);

    m_Miniport.sent.clear();
    m_Miniport.status = 0x82;
    std::uint8_t sense[8] = {};
    request.Sense = sense;
    request.SenseLength = sizeof sense;
    EXPECT_EQ(DoCommand(&request), ERR_CHECK_CONDITION);
    ASSERT_EQ(m_Miniport.sent.size(), 2u);
    EXPECT_EQ(m_Miniport.sent[1][42], 0x03) << "REQUEST SENSE follows";
    EXPECT_EQ(m_Miniport.sent[1][46], 128);
    EXPECT_EQ(std::vector<std::uint8_t>(sense, sense + 8), std::vector<std::uint8_t>(m_Miniport.sense, m_Miniport.sense + 8));

    m_Miniport.status = 0xF4;
    char peripheral = 0;
    EXPECT_EQ(GetDevType(&request, &peripheral), ERR_NO_DEVICE);
}

}  // namespace
