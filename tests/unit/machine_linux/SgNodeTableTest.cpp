#include "FakeSysfs.h"
#include "machine/linux/SgNodeTable.h"

#include <gtest/gtest.h>

#include <string>

namespace harrow::machine {
namespace {

using testing::FakeSgIo;
using testing::FakeSysfs;
using testing::kKestrelNames;

constexpr int kUnits = static_cast<int>(SgNodeTable::kMaxOpen) + 6;

UnitAddress Target(int target) { return UnitAddress{1, 0, static_cast<std::uint8_t>(target), 0}; }

class SgNodeTableTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int target = 0; target < kUnits; ++target) {
            fake.AddUnit("1:0:" + std::to_string(target) + ":0",
                         {0, kKestrelNames, "sd", "sg" + std::to_string(target), ""});
        }
    }

    int SendTo(int target)
    {
        sg_io_hdr header{};
        return table.Send(Target(target), header);
    }

    FakeSysfs fake;
    std::function<int(const std::string&, sg_io_hdr&)> onSend = [](const std::string&, sg_io_hdr&) { return 0; };
    std::shared_ptr<FakeSgIo> io =
        std::make_shared<FakeSgIo>([this](const std::string& node, sg_io_hdr& h) { return onSend(node, h); });
    SgNodeTable table{fake.Sys(), fake.Dev(), io};
};

TEST_F(SgNodeTableTest, OpenNodesAreBoundedAndReopenedWhenEvicted)
{
    for (int target = 0; target < kUnits; ++target) {
        ASSERT_EQ(SendTo(target), 0);
        ASSERT_EQ(SendTo(target), 0);
    }
    EXPECT_EQ(table.Opens(), static_cast<unsigned>(kUnits));
    EXPECT_EQ(io->OpenNow(), static_cast<int>(SgNodeTable::kMaxOpen));
    EXPECT_EQ(SendTo(0), 0) << "an evicted unit is opened again";
    EXPECT_EQ(table.Opens(), static_cast<unsigned>(kUnits) + 1);
    EXPECT_EQ(io->OpenNow(), static_cast<int>(SgNodeTable::kMaxOpen));
}

TEST_F(SgNodeTableTest, NodeEvictedDuringItsCommandClosesWhenTheCommandReturns)
{
    ASSERT_EQ(SendTo(0), 0);
    const std::string first = (fake.Dev() / "sg0").string();
    bool stillOpen = false;
    bool evicting = false;
    onSend = [&](const std::string& node, sg_io_hdr&) {
        if (node == first && !evicting) {
            evicting = true;
            for (int target = 1; target < kUnits; ++target) {
                SendTo(target);  // evicts unit 0 while its command runs
            }
            stillOpen = io->OpenNow() == static_cast<int>(SgNodeTable::kMaxOpen) + 1;
        }
        return 0;
    };
    EXPECT_EQ(SendTo(0), 0);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(io->OpenNow(), static_cast<int>(SgNodeTable::kMaxOpen));
}

// The sg driver refuses a 17th queued command on one descriptor with EDOM.
TEST_F(SgNodeTableTest, CommandBeyondTheDescriptorsQueueGetsItsOwnDescriptor)
{
    ASSERT_EQ(SendTo(0), 0);
    int calls = 0;
    int openDuringSecond = 0;
    onSend = [&](const std::string&, sg_io_hdr&) {
        ++calls;
        if (calls == 1) {
            return EDOM;
        }
        openDuringSecond = io->OpenNow();
        return 0;
    };
    EXPECT_EQ(SendTo(0), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(openDuringSecond, 2) << "sent on a second descriptor";
    EXPECT_EQ(io->OpenNow(), 1) << "which is closed again";
    EXPECT_EQ(table.Opens(), 1u) << "the kept one stays";

    onSend = [](const std::string&, sg_io_hdr&) { return EDOM; };
    EXPECT_EQ(SendTo(0), EDOM) << "refused on its own descriptor too: said as it is";
    EXPECT_EQ(io->OpenNow(), 1);
}

TEST_F(SgNodeTableTest, MissingUnitNodeAndOpenFailuresAreErrnos)
{
    EXPECT_EQ(SendTo(kUnits), ENODEV);
    fake.AddUnit("1:0:" + std::to_string(kUnits) + ":0", {1, kKestrelNames, "st", "", ""});
    EXPECT_EQ(SendTo(kUnits), EOPNOTSUPP);

    SgNodeTable refusing(fake.Sys(), fake.Dev(), std::make_shared<testing::RefusingSgIo>(EACCES));
    sg_io_hdr header{};
    EXPECT_EQ(refusing.Send(Target(0), header), EACCES);
    EXPECT_EQ(refusing.Opens(), 0u);
}

}  // namespace
}  // namespace harrow::machine
