// Many devices, threads and command blocks, ended at random moments: every
// run must end, leave no thread, block or event behind, and lose no error.
#include "EngineFixture.h"

#include "core/tests/DiskRanTests.h"
#include "core/tests/DiskSeqTests.h"

#include <random>

namespace engine_test {
namespace {

constexpr int kDevices = 16;
constexpr int kRuns = 50;

class StressTest : public EngineFixture {};

TEST_F(StressTest, SixteenDevicesOfFourThreadsCancelledAtRandomMoments)
{
    std::string units = "[";
    for (int target = 0; target < kDevices; ++target) {
        // The last unit fails its first read, so every counted run has exactly one error to deliver.
        const char* faults = target == kDevices - 1 ? R"(, "faults": {"mediumErrors": [0]})" : "";
        units += (target > 0 ? ", " : "") + std::string(R"({"target": )") + std::to_string(target) +
                 R"(, "blocks": 4096)" + faults + "}";
    }
    StartMachine(units + "]", R"("initiatorId": 255, )");
    std::vector<int> targets;
    for (int target = 0; target < kDevices; ++target) {
        targets.push_back(target);
    }
    auto addresses = Addresses(targets);
    const unsigned long blocksBefore = Disk(0)->GetNumCtlBlocks();
    std::mt19937 random(20261207);

    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        if (run % 2 == 0) {
            CDiskRanReadTest endless(&addresses, kDevices, 0, 4, 4);
            ASSERT_EQ(endless.StartTest(0, 4096, 1, 8, 0), ERR_NONE);
            const auto cancelAt =
                std::chrono::steady_clock::now() + std::chrono::microseconds(random() % 20000);
            const Outcome outcome =
                RunUntil(endless, [&] { return std::chrono::steady_clock::now() >= cancelAt; });
            EXPECT_EQ(outcome.result, ERR_NONE);
            EXPECT_EQ(endless.GetError(), nullptr);
            for (int target = 0; target < kDevices - 1; ++target) {
                EXPECT_EQ(Disk(target)->GetTestState(), 3u) << "device " << target;
            }
        } else {
            CDiskSeqReadTest counted(&addresses, kDevices, 0, 4, 4);
            ASSERT_EQ(counted.StartTest(0, 256, 0, 16, 0), ERR_NONE);
            const Outcome outcome = RunToEnd(counted);
            EXPECT_EQ(outcome.result, ERR_NONE);
            ASSERT_EQ(outcome.texts.size(), 1u);
            EXPECT_NE(outcome.texts[0].find("Device: 0:15:0 "), std::string::npos) << outcome.texts[0];
            EXPECT_EQ(Disk(kDevices - 1)->GetTestState(), 4u);
            EXPECT_EQ(Disk(0)->GetTestState(), 2u);
        }
        EXPECT_EQ(Disk(0)->GetNumCtlBlocks(), blocksBefore);
    }
}

}  // namespace
}  // namespace engine_test
