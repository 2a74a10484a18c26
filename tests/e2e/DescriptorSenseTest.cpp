// The programs read sense in both formats of SPC-4 4.5 alike: every run on a
// drive that answers in descriptor format prints and ends as on the same
// drive answering in fixed format, on the simulated machine and on tgtd.
#include "CliRunner.h"
#include "support/FileText.h"
#include "support/TgtTarget.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using harrow::testing::TgtTarget;

// Progress lines come at polls whose number depends on timing, and a test
// ending between two reads of one poll is reported once more.
std::string WithoutTiming(const std::string& text)
{
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("% complete") == std::string::npos &&
            line.find("Disc Drive Self Test Completed Without Error") == std::string::npos) {
            kept += line + "\n";
        }
    }
    return kept;
}

// The machine file with every unit answering in descriptor format.
fs::path DescriptorCopy(const std::string& name, const fs::path& folder)
{
    nlohmann::json machine = nlohmann::json::parse(test_support::ReadText(fs::path(HARROW_E2E_MACHINES) / name));
    for (auto& port : machine["ports"]) {
        for (auto& unit : port["units"]) {
            unit["descriptorSense"] = true;
        }
    }
    const fs::path copy = folder / ("descriptor-" + name);
    std::ofstream(copy) << machine.dump(2);
    return copy;
}

struct Case {
    std::string machine;
    std::vector<std::string> arguments;
    // A text the run must print, so that the comparison covers the path that reads sense.
    std::string expected;
};

TEST(DescriptorSense, SimulatedDrivesGiveTheSameTextsAndVerdictsInBothFormats)
{
    const fs::path folder = fs::temp_directory_path() / ("harrow-dsense-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::vector<Case> cases = {
        {"host-tests.json", {"-i", "0:0:0"}, "\tSerial Number = GEN00000"},
        {"self-test.json", {"-i", "0:0:0"}, "\tSerial Number = DST00000"},
        {"self-test.json", {"-t", "0:1:0"}, "DST Short Test complete without error"},
        {"self-test.json", {"-t", "0:2:0"}, "Disc Drive Self Test Second Segment Failed"},
        {"self-test.json", {"-t", "0:5:0"}, "DST not supported"},
        {"host-tests.json", {"-g", "1%", "0:6:0"}, "Generic Short Test Passed"},
        {"host-tests.json", {"-g", "1%", "0:5:0"}, " Generic Short Test Failed 03 / 11 / 00"},
        {"host-tests.json", {"-g", "1%", "0:13:0"}, "Random Seek Commands skipped: the drive does not support SEEK"},
        {"host-tests.json", {"-gl", "0:9:0"}, " Generic Long Test Passed"},
        {"host-tests.json", {"-gl", "0:1:0"}, "Generic Long Test Failed 03 / 11 / 00"},
    };
    for (const Case& c : cases) {
        std::string name = c.machine;
        for (const std::string& argument : c.arguments) {
            name += " " + argument;
        }
        SCOPED_TRACE(name);
        const CliRunner fixedCli((fs::path(HARROW_E2E_MACHINES) / c.machine).string());
        const CliRunner descriptorCli(DescriptorCopy(c.machine, folder).string());
        const auto fixed = fixedCli.Run(c.arguments);
        const auto descriptor = descriptorCli.Run(c.arguments);
        EXPECT_NE(fixed.out.find(c.expected), std::string::npos) << fixed.out;
        EXPECT_EQ(descriptor.exitCode, fixed.exitCode);
        EXPECT_EQ(WithoutTiming(descriptor.out), WithoutTiming(fixed.out));
        EXPECT_EQ(descriptor.err, fixed.err);
    }
    fs::remove_all(folder);
}

// tgtd switches a LUN's sense format at run time (tgtadm --params sense_format=1).
TEST(DescriptorSense, TgtdLunGivesTheSameTextsAndVerdictsInBothFormats)
{
    std::string why;
    const auto target = TgtTarget::Start({64ULL << 20}, &why);
    if (!target) {
        GTEST_SKIP() << "tgtd cannot be started here: " << why;
    }
    const CliRunner cli(target->Url());
    const std::vector<Case> cases = {
        {"", {"-i", "0:0:1"}, "\tVendor = IET"},
        {"", {"-t", "10%", "0:0:1"}, "Random Seek Commands skipped: the drive does not support SEEK"},
        {"", {"-g", "1%", "0:0:1"}, "Random Seek Commands skipped: the drive does not support SEEK"},
        {"", {"-gl", "0:0:1"}, " Generic Long Test Passed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        ASSERT_TRUE(target->SetSenseFormat(1, 0));
        const auto fixed = cli.Run(c.arguments);
        ASSERT_TRUE(target->SetSenseFormat(1, 1));
        const auto descriptor = cli.Run(c.arguments);
        EXPECT_NE(fixed.out.find(c.expected), std::string::npos) << fixed.out;
        EXPECT_EQ(fixed.exitCode, 0);
        EXPECT_EQ(descriptor.exitCode, fixed.exitCode);
        EXPECT_EQ(WithoutTiming(descriptor.out), WithoutTiming(fixed.out));
    }
}

}  // namespace
