// LUN entries of a REPORT LUNS list (SPC-4 4.6) as a port can address them.
#include "core/types/LunAddress.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

using Entry = std::array<unsigned char, kLunEntryBytes>;

TEST(SingleLevelLun, PeripheralAndFlatAddressingGiveTheLun)
{
    EXPECT_EQ(SingleLevelLun(Entry{0x00, 0x00}.data()), 0);
    EXPECT_EQ(SingleLevelLun(Entry{0x00, 0x40}.data()), 64);
    EXPECT_EQ(SingleLevelLun(Entry{0x00, 0xFF}.data()), 255);
    // Flat space: 14 bits, as targets with more than 256 LUNs report them.
    EXPECT_EQ(SingleLevelLun(Entry{0x40, 0x08}.data()), 8);
    EXPECT_EQ(SingleLevelLun(Entry{0x41, 0x00}.data()), 256);
    EXPECT_EQ(SingleLevelLun(Entry{0x7F, 0xFF}.data()), 0x3FFF);
}

TEST(SingleLevelLun, OtherFormsAreNotAddressable)
{
    EXPECT_EQ(SingleLevelLun(Entry{0x01, 0x05}.data()), -1);              // peripheral, bus 1
    EXPECT_EQ(SingleLevelLun(Entry{0x80, 0x05}.data()), -1);              // logical unit addressing
    EXPECT_EQ(SingleLevelLun(Entry{0xC1, 0x00}.data()), -1);              // well-known LUN (REPORT LUNS)
    EXPECT_EQ(SingleLevelLun(Entry{0x00, 0x01, 0x00, 0x02}.data()), -1);  // a second level
    EXPECT_EQ(SingleLevelLun(Entry{0x00, 0x01, 0, 0, 0, 0, 0, 1}.data()), -1);
}

// A REPORT LUNS answer of `size` bytes claiming `claimed` bytes of entries.
std::vector<unsigned char> Answer(unsigned long size, unsigned long claimed)
{
    std::vector<unsigned char> list(size, 0);
    list[0] = static_cast<unsigned char>(claimed >> 24);
    list[1] = static_cast<unsigned char>(claimed >> 16);
    list[2] = static_cast<unsigned char>(claimed >> 8);
    list[3] = static_cast<unsigned char>(claimed);
    return list;
}

TEST(LunList, TheClaimedLengthSaysWhenToAskAgainAndIsBounded)
{
    EXPECT_EQ(LunListBytes(Answer(8, 0).data()), 8u);
    EXPECT_EQ(LunListBytes(Answer(8, 8 * 300).data()), 8u + 8 * 300);
    EXPECT_GT(LunListBytes(Answer(8, 8 * 300).data()), kLunListFirstAsk);
    EXPECT_EQ(LunListBytes(Answer(8, 0xFFFFFFFF).data()), kLunListMostAsked);
}

TEST(LunList, OnlyTheEntriesHeldAndClaimedAreReadAscendingAndOnce)
{
    auto list = Answer(8 + 8 * 4, 8 * 6);  // claims six entries, holds four
    list[8 + 1] = 9;
    list[16 + 1] = 3;
    list[24] = 0x40;  // LUN 9 again, flat space addressing
    list[24 + 1] = 9;
    list[32] = 0x41;  // LUN 256: past the limit
    EXPECT_EQ(LunsBelow(list.data(), list.size(), 256), (std::vector<unsigned long>{3, 9}));
    EXPECT_EQ(LunsBelow(list.data(), list.size(), 257), (std::vector<unsigned long>{3, 9, 256}));
    list[3] = 8 * 1;  // claims one entry of the four held
    EXPECT_EQ(LunsBelow(list.data(), list.size(), 256), (std::vector<unsigned long>{9}));
    EXPECT_TRUE(LunsBelow(list.data(), 4, 256).empty());  // shorter than the header
}

}  // namespace
