#include "core/buffers/AlignedBuffer.h"
#include "core/types/ByteOrder.h"
#include "core/types/Hexdump.h"
#include "core/types/MessageQueue.h"
#include "platform/System.h"
#include "tests/unit/log/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdint>

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
    grab_bytes(field, -1, &whole, 4);
    EXPECT_EQ(whole, 0u);
}

TEST(Hexdump, AtMostOneHundredSixtyBytesAndNeverPastTheBuffer)
{
    TempFolder folder("harrow-hexdump");
    const auto home = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());

    unsigned char bytes[256];
    for (int i = 0; i < 256; ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    AlignedBuffer buffer(bytes, 256);
    AlignedBuffer shortBuffer(bytes + 0xAA, 3);
    EXPECT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Page 08", &buffer, 200));
    EXPECT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Again", &buffer, 17));
    EXPECT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Short", &shortBuffer, 100));
    EXPECT_TRUE(HexdumpToLogFile(nullptr, nullptr, "Negative", &buffer, -5));
    const std::string text = ReadText("mode.txt");
    std::filesystem::current_path(home);

    std::string expected = "\nPage 08\n";
    for (int i = 0; i < 160; ++i) {
        char byte[8];
        std::snprintf(byte, sizeof(byte), "%02X ", i);
        expected += byte + std::string(i % 16 == 15 ? "\n" : "");
    }
    expected += "\nAgain\n00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 ";
    expected += "\nShort\nAA AB AC \nNegative\n";
    EXPECT_EQ(text, expected);
}

namespace {

int g_PumpMax = 0;

int RecordingPump(int maxMessages)
{
    g_PumpMax = maxMessages;
    return 0;
}

}  // namespace

TEST(ClearMsgQueue, HandsAtMostTenMessagesToTheGuiPump)
{
    ClearMsgQueue();  // a console program has no pump
    harrow::platform::SetMessagePump(&RecordingPump);
    ClearMsgQueue();
    harrow::platform::SetMessagePump(nullptr);
    EXPECT_EQ(g_PumpMax, 10);
}
