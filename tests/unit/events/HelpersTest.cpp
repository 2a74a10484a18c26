#include "core/buffers/AlignedBuffer.h"
#include "core/types/ByteOrder.h"
#include "core/types/Hexdump.h"
#include "core/types/MessageQueue.h"
#include "platform/System.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

TEST(GrabBytes, ReversesAndZeroFills)
{
    const unsigned char field[4] = {0x12, 0x34, 0x56, 0x78};
    std::uint32_t whole = 0xFFFFFFFF;
    grab_bytes(field, 4, &whole, 4);
    EXPECT_EQ(whole, 0x12345678u);

    unsigned char shorter[2] = {0xFF, 0xFF};
    grab_bytes(field, 4, shorter, 2);
    EXPECT_EQ(shorter[0], 0x34);
    EXPECT_EQ(shorter[1], 0x12);

    std::uint64_t wider = ~0ull;
    grab_bytes(field, 2, &wider, 8);
    EXPECT_EQ(wider, 0x1234u);

    std::uint32_t none = 0xFFFFFFFF;
    grab_bytes(field, -1, &none, 4);
    EXPECT_EQ(none, 0u);
}

class Hexdump : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_Old = fs::current_path();
        m_Dir = fs::temp_directory_path() / ("harrow-hexdump-" + std::to_string(::getpid()));
        fs::create_directories(m_Dir);
        fs::current_path(m_Dir);
    }
    void TearDown() override
    {
        fs::current_path(m_Old);
        fs::remove_all(m_Dir);
    }
    static std::string Dump()
    {
        std::ifstream in("mode.txt");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path m_Old;
    fs::path m_Dir;
};

TEST_F(Hexdump, AtMostOneHundredSixtyBytesSixteenALine)
{
    std::vector<unsigned char> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    AlignedBuffer buffer(bytes.data(), static_cast<long>(bytes.size()));
    ASSERT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Page 08", &buffer, 200));

    std::string expected = "\nPage 08\n";
    for (int i = 0; i < 160; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof(byte), "%02X ", i);
        expected += byte + std::string(i % 16 == 15 ? "\n" : "");
    }
    EXPECT_EQ(Dump(), expected);

    ASSERT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Again", &buffer, 17));
    EXPECT_EQ(Dump(), expected + "\nAgain\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 ");
}

TEST_F(Hexdump, NeverReadsPastTheBuffer)
{
    unsigned char bytes[3] = {0xAA, 0xBB, 0xCC};
    AlignedBuffer buffer(bytes, 3);
    ASSERT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Short", &buffer, 100));
    ASSERT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Negative", &buffer, -5));
    EXPECT_EQ(Dump(), "\nShort\nAA BB CC \nNegative\n");
}

namespace {

int g_PumpCalls = 0;
int g_PumpMax = 0;

int CountingPump(int maxMessages)
{
    ++g_PumpCalls;
    g_PumpMax = maxMessages;
    return 0;
}

}  // namespace

TEST(ClearMsgQueue, HandsAtMostTenMessagesToTheRegisteredPump)
{
    ClearMsgQueue();  // a console program has no pump: nothing happens
    harrow::platform::SetMessagePump(&CountingPump);
    ClearMsgQueue();
    harrow::platform::SetMessagePump(nullptr);
    ClearMsgQueue();
    EXPECT_EQ(g_PumpCalls, 1);
    EXPECT_EQ(g_PumpMax, 10);
}
