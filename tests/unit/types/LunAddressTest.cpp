// LUN entries of a REPORT LUNS list (SPC-4 4.6) as a port can address them.
#include "core/types/LunAddress.h"

#include <gtest/gtest.h>

#include <array>

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

}  // namespace
