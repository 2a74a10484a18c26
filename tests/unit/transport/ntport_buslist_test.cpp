#include "FakePortMachine.h"

#include "core/transport/CScsiIoCtl.h"
#include "core/transport/NTPortBusList.h"

#include <gtest/gtest.h>

#include <cstring>

namespace transport_test {
namespace {

void PutUlong(std::vector<BYTE>& bytes, std::size_t offset, ULONG value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// One bus, units at targets 0 and 1: bus entry at 4, chain at 12 and 60.
std::vector<BYTE> TwoUnits()
{
    FakePort port;
    port.units = {{0, 0, 0, false}, {0, 1, 0, true}};
    return BuildBusList(port);
}

TEST(NTPortBusListTest, ReadsTheChains)
{
    const std::vector<BYTE> bytes = TwoUnits();
    const NTPortBusList_s list = ParseBusList(bytes.data(), bytes.size());
    ASSERT_EQ(list.Buses.size(), 1u);
    EXPECT_EQ(list.Buses[0].InitiatorBusId, 7);
    EXPECT_EQ(list.Buses[0].LogicalUnits, 2);
    ASSERT_EQ(list.Units.size(), 2u);
    EXPECT_EQ(list.Units[1].TargetId, 1);
    EXPECT_TRUE(list.Units[1].Claimed);
    EXPECT_EQ(list.Units[0].Inquiry[0], 0x01);
}

TEST(NTPortBusListTest, NeverReadsPastTheReturnedBytes)
{
    const std::vector<BYTE> whole = TwoUnits();
    // Cut anywhere: whatever is listed lies inside what is left.
    for (std::size_t size = 0; size <= whole.size(); ++size) {
        const std::vector<BYTE> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        const NTPortBusList_s list = ParseBusList(cut.data(), cut.size());
        EXPECT_LE(list.Units.size(), 2u);
        if (size < 12) {
            EXPECT_TRUE(list.Buses.empty()) << size;
        }
        if (size < 12 + 12) {
            EXPECT_TRUE(list.Units.empty()) << size;
        }
    }

    std::vector<BYTE> lying = whole;
    lying[0] = 200;  // more buses than bytes: only entries that fit are read
    EXPECT_EQ(ParseBusList(lying.data(), lying.size()).Buses.size(), (lying.size() - 4) / 8);

    lying = whole;
    PutUlong(lying, 4 + 4, 0xFFFFFFF0);  // chain start far outside
    EXPECT_TRUE(ParseBusList(lying.data(), lying.size()).Units.empty());

    lying = whole;
    PutUlong(lying, 12 + 8, 12);  // the first entry points at itself
    EXPECT_EQ(ParseBusList(lying.data(), lying.size()).Units.size(), 1u);

    lying = whole;
    PutUlong(lying, 60 + 4, 0x7FFFFFFF);  // inquiry length beyond the answer
    lying.resize(60 + 12 + 5);
    const NTPortBusList_s shortInquiry = ParseBusList(lying.data(), lying.size());
    ASSERT_EQ(shortInquiry.Units.size(), 2u);
    EXPECT_EQ(shortInquiry.Units[1].Inquiry[5], 0);  // zero-filled, not read

    EXPECT_TRUE(ParseBusList(nullptr, 100).Buses.empty());
}

// Exposes the protected lookup without making a block.
struct TableProbe : CScsiIoCtl {
    using CScsiIoCtl::search_table;
};

TEST(CScsiIoCtlTest, StaticsAndTables)
{
    // Refused values leave the setting alone; a negative format time-out means none.
    EXPECT_EQ(CScsiIoCtl::SetTimeout(-1), ERR_INVALID_PARAM);
    EXPECT_EQ(CScsiIoCtl::GetTimeout(), 30);
    EXPECT_EQ(CScsiIoCtl::SetFmtTimeout(-5), ERR_NONE);
    EXPECT_EQ(CScsiIoCtl::GetFmtTimeout(), 108000);
    CScsiIoCtl::SetFmtTimeout(CScsiIoCtl::NO_TIMEOUT);

    EXPECT_TRUE(CScsiIoCtl::SetNumUnitAttnRetries(3));
    EXPECT_FALSE(CScsiIoCtl::SetNumUnitAttnRetries(-1));
    EXPECT_EQ(CScsiIoCtl::GetNumUnitAttnRetries(), 3);
    EXPECT_TRUE(CScsiIoCtl::IgnoreUnitAttn());
    EXPECT_TRUE(CScsiIoCtl::SetNumUnitAttnRetries(0));
    EXPECT_FALSE(CScsiIoCtl::IgnoreUnitAttn());

    const ERR_XTBL twice[] = {{5, ERR_TIMEOUT}, {5, ERR_BUS_RESET}};
    Error_t out = ERR_NONE;
    EXPECT_TRUE(TableProbe::search_table(twice, 2, 5, &out));
    EXPECT_EQ(out, ERR_TIMEOUT);
    EXPECT_FALSE(TableProbe::search_table(twice, 2, 6, &out));
    EXPECT_TRUE(TableProbe::search_table(kTargetStatusTable, kTargetStatusRows, 0x28, &out));
    EXPECT_EQ(out, 0x28);
    EXPECT_FALSE(TableProbe::search_table(kTargetStatusTable, kTargetStatusRows, 0x01, &out));
}

}  // namespace
}  // namespace transport_test
