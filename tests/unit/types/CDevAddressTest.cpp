#include "core/types/CDevAddress.h"

#include <gtest/gtest.h>

namespace {

void ExpectFields(const CDevAddress& a, std::int32_t ha, std::int32_t t, std::int32_t l,
                  std::int32_t r1, std::int32_t r2, std::int32_t r3)
{
    EXPECT_EQ(a.m_HostAdapter, ha);
    EXPECT_EQ(a.m_Target, t);
    EXPECT_EQ(a.m_Lun, l);
    EXPECT_EQ(a.m_RaidChannel, r1);
    EXPECT_EQ(a.m_RaidTarget, r2);
    EXPECT_EQ(a.m_RaidLun, r3);
}

}  // namespace

TEST(CDevAddress, ConstructionAndCopyKeepAllSixFields)
{
    ExpectFields(CDevAddress(), -1, -1, -1, -1, -1, -1);

    const CDevAddress full(1, 2, 3, 4, 5, 6);
    ExpectFields(full, 1, 2, 3, 4, 5, 6);
    ExpectFields(CDevAddress(full), 1, 2, 3, 4, 5, 6);

    CDevAddress assigned;
    assigned = full;
    ExpectFields(assigned, 1, 2, 3, 4, 5, 6);
}

TEST(CDevAddress, EqualityLooksAtAdapterTargetAndLunOnly)
{
    EXPECT_TRUE(CDevAddress(1, 2, 3, 4, 5, 6) == CDevAddress(1, 2, 3, 7, 8, 9));
    EXPECT_TRUE(CDevAddress(1, 2, 3, 4, 5, 6) == CDevAddress(1, 2, 3, -1, -1, -1));
    EXPECT_FALSE(CDevAddress(1, 2, 3, 4, 5, 6) == CDevAddress(0, 2, 3, 4, 5, 6));
    EXPECT_FALSE(CDevAddress(1, 2, 3, 4, 5, 6) == CDevAddress(1, 0, 3, 4, 5, 6));
    EXPECT_FALSE(CDevAddress(1, 2, 3, 4, 5, 6) == CDevAddress(1, 2, 0, 4, 5, 6));
}

TEST(CDevAddress, PackingRoundTrips)
{
    EXPECT_EQ(CDevAddress(1, 2, 3, 4, 5, 6).ToData(), 0x01020300L);
    EXPECT_EQ(CDevAddress(255, 127, 7, -1, -1, -1).ToData(), 0xFF7F0700L);

    CDevAddress a(9, 9, 9, 4, 5, 6);
    a.SetFromData(0x010203FFL);  // low byte ignored
    ExpectFields(a, 1, 2, 3, 4, 5, 6);

    // The adapter byte is unsigned: 0xFF is adapter 255, not -1.
    ExpectFields(CDevAddress(0xFF0102AAL), 255, 1, 2, -1, -1, -1);
    // Only the low 32 bits carry the address.
    ExpectFields(CDevAddress(0x7E00000000010203L), 0, 1, 2, -1, -1, -1);
}
