// HarrowCLI as scripts use it: exit codes they can trust, --json documents
// valid against the published schema, --help and --version, the command pause.
#include "CliRunner.h"

#include "support/TgtTarget.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

const std::string kBuiltin = "builtin";

// Validates with the schema and parses; the validator's complaint on failure.
json ValidDocument(const CliRunner& cli, const CliRunner::Result& run)
{
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one document on one line:\n" << run.out;
    const fs::path file = cli.WorkDir() / "document.json";
    std::ofstream(file) << run.out;
    const fs::path complaint = cli.WorkDir() / "validator.txt";
    const std::string command = std::string(HARROW_JSON_VALIDATOR) + " -i '" + file.string() + "' '" +
                                HARROW_JSON_SCHEMA + "' >'" + complaint.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << cli.ReadWorkFile("validator.txt") << "\n" << run.out;
    return json::parse(run.out, nullptr, false);
}

// The same run with --json: same exit code, a valid document, the text on stderr.
json JsonRun(const CliRunner& cli, std::vector<std::string> arguments, int exitCode)
{
    arguments.push_back("--json");
    const auto run = cli.Run(arguments);
    EXPECT_EQ(run.exitCode, exitCode) << arguments[0] << "\n" << run.err;
    const json document = ValidDocument(cli, run);
    EXPECT_EQ(document.value("exitCode", -1), exitCode);
    return document;
}

// ---- conventions ----

TEST(Conventions, HelpAndVersionAnswerWithoutInitialising)
{
    // A machine file that does not exist would fail initialisation.
    CliRunner cli("/nonexistent/machine.json");
    const auto help = cli.Run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.starts_with("Usage: Harrow Viraradiza [-option][variable][device]\n")) << help.out;
    EXPECT_EQ(help.out.find("Initializing"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const auto version = cli.Run({"-l", "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Harrow Viraradiza Version " HARROW_VERSION "\n");
    EXPECT_FALSE(fs::exists(cli.LogFile())) << "nothing was logged, so nothing ran";
}

#ifdef HARROW_GUI_PATH
TEST(Conventions, TheWindowedProgramWithoutADisplaySaysSo)
{
    CliRunner cli(kBuiltin);
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        unsetenv(name);
    }
    const auto run = cli.RunProgram(HARROW_GUI_PATH, {});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.err, "cannot connect to a display: set DISPLAY or run it under xvfb-run\n");
}
#endif

// ---- exit codes ----

TEST(ExitCodes, AMissingOrUnusableAddressIsRefusedWithFour)
{
    CliRunner cli(kBuiltin);
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } cases[] = {
        {{"-i"}, "-i needs a device: HA:TAR:LUN as -l lists it, or a /dev name on HARROW_MACHINE=linux"},
        {{"-i", "sda"}, "-i needs a device: HA:TAR:LUN as -l lists it, or a /dev name on HARROW_MACHINE=linux"},
        {{"-i", "/dev/sda"}, "/dev/sda: /dev names reach devices only on HARROW_MACHINE=linux; give HA:TAR:LUN as -l "
                             "lists it"},
        {{"-g", "1:x:0"}, "1:x:0 is not a device address: HA:TAR:LUN, HA:CH:TAR:LUN or HA:RT:CH:TAR:LUN"},
        {{"-t", "9:9:9"}, "no device answers at 9:9:9 (-l lists the devices)"},
        {{"-s", "9:9:9"}, "no device answers at 9:9:9 (-l lists the devices)"},
        {{"-gl", "0:0:0:0"}, "no device answers at 0:0:0:0 (-l lists the devices)"},
    };
    for (const auto& c : cases) {
        const auto run = cli.Run(c.arguments);
        EXPECT_EQ(run.exitCode, 4) << c.arguments.back();
        EXPECT_EQ(run.err, "HarrowCLI: " + c.error + "\n");
        EXPECT_EQ(run.out.find("Log Sense Failed"), std::string::npos) << run.out;
        const json document = JsonRun(cli, c.arguments, 4);
        EXPECT_EQ(document.value("error", ""), c.error);
    }
}

// This computer's own hosts: a /dev name that reaches no SCSI unit is refused
// after the scan, whatever hosts the computer has.
TEST(ExitCodes, ADevNameOfNoUnitIsRefusedOnLinux)
{
    CliRunner cli("linux");
    for (const std::string name : {"/dev/disk/by-id/harrow-no-such-link", "/dev/harrow-no-such-node"}) {
        const auto run = cli.Run({"-t", name});
        EXPECT_EQ(run.exitCode, 4) << name;
        EXPECT_EQ(run.err, "HarrowCLI: " + name + " is no SCSI disk or generic node of this computer\n");
    }
    const auto run = cli.Run({"-l", "--json"});
    const json listing = ValidDocument(cli, run);
    EXPECT_EQ(listing["machine"], "linux");
    EXPECT_EQ(listing["exitCode"], run.exitCode);
}

// The ranges the usage prints; the bounds themselves run.
TEST(ExitCodes, PercentagesOutsideTheUsageRangeAreRefused)
{
    CliRunner cli(kBuiltin);
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } refused[] = {
        {{"-g", "150%", "1:2:0"}, "-g takes 1% - 100%, not 150%"},
        {{"-g", "0%", "1:2:0"}, "-g takes 1% - 100%, not 0%"},
        {{"-gl", "101%", "0:1:0"}, "-gl takes 1% - 100%, not 101%"},
        {{"-t", "5%", "0:0:0"}, "-t takes 10% - 100%, not 5%"},
        {{"-tl", "9%", "0:0:0"}, "-tl takes 10% - 100%, not 9%"},
        {{"-t", "101%", "0:0:0"}, "-t takes 10% - 100%, not 101%"},
    };
    for (const auto& c : refused) {
        const auto run = cli.Run(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.error;
        EXPECT_EQ(run.err, "HarrowCLI: " + c.error + "\n");
        EXPECT_EQ(run.out.find("Initializing"), std::string::npos);
    }
    for (const std::vector<std::string>& bound : {std::vector<std::string>{"-g", "1%", "1:2:0"},
                                                 {"-t", "10%", "0:0:0"},
                                                 {"-t", "100%", "0:0:0"}}) {
        EXPECT_EQ(cli.Run(bound).exitCode, 0) << bound[0] << " " << bound[1];
    }
}

TEST(ExitCodes, AFormWithoutItsInputIsRefused)
{
    CliRunner cli(kBuiltin);
    for (const std::string input : {"", "Jane Doe\n", "Jane Doe\n555-0100\n"}) {
        const auto run = cli.Run({"-r", "0:0:0"}, input);
        EXPECT_EQ(run.exitCode, 1) << input;
        EXPECT_EQ(run.err, "HarrowCLI: -r reads the contact name, phone number and email from standard input, "
                           "which ended before them; no form was written\n");
        EXPECT_EQ(cli.ReadWorkFile("rmalog.txt"), "") << input;
    }
    // A last line without its line end is still a line.
    EXPECT_EQ(cli.Run({"-r"}, "Jane Doe\n555-0100\njane@example.com").exitCode, 0);
    EXPECT_NE(cli.ReadWorkFile("rmalog.txt").find("Email: jane@example.com\n"), std::string::npos);
}

// ---- the command pause ----

// Without the registry value there is no pause; 250 restores it. The
// inquiry report of the Kestrel drive sends 18 good commands: at a time scale
// of 0.1 their pauses add 18 x 25 ms to the same run without them, of which
// at least 10 x 25 ms must show however busy the machine is.
TEST(CommandPause, NoneByDefaultAndTheRegistryRestores250)
{
    CliRunner cli(kBuiltin, 0.1);
    std::ofstream(cli.RegistryFile(), std::ios::trunc) << "REGEDIT4\n\n";
    auto started = Clock::now();
    EXPECT_EQ(cli.Run({"-i", "0:0:0"}).exitCode, 0);
    const auto unpaused = Clock::now() - started;

    std::ofstream(cli.RegistryFile(), std::ios::trunc)
        << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
           "\"CommandPauseMs\"=dword:000000fa\n\n";
    started = Clock::now();
    const auto run = cli.Run({"-i", "0:0:0"});
    const auto paused = Clock::now() - started;
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("\t\t-long DST time = 90 seconds"), std::string::npos) << run.out;
    EXPECT_GE(paused - unpaused, std::chrono::milliseconds(250)) << "the default paused too, or 250 did not";
}

// ---- JSON ----

TEST(Json, ListingOfTheBuiltInMachine)
{
    CliRunner cli(kBuiltin);
    const auto run = cli.Run({"-l", "--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find("Device(s) found during bus scan:\n"), std::string::npos) << "the text goes to stderr";
    EXPECT_NE(run.err.find("   0:0:0 Disc     KESTREL   KX18LVD"), std::string::npos) << run.err;
    const json document = ValidDocument(cli, run);
    EXPECT_EQ(document["command"], "list");
    const json& first = document["adapters"][0]["devices"][0];
    EXPECT_EQ(first["address"], "0:0:0");
    EXPECT_EQ(first["vendor"], "KESTREL");
    EXPECT_EQ(first["product"], "KX18LVD");
    EXPECT_EQ(first["serialNumber"], "3CK0A1B2");
    EXPECT_EQ(first["typeName"], "Disc");
    EXPECT_EQ(first["capacity"]["blocks"], 35566480);
    EXPECT_EQ(first["capacity"]["lastLba"], 35566479);
    EXPECT_EQ(first["capacity"]["bytes"], 35566480ULL * 512);
    EXPECT_EQ(first["capacity"]["megabytes"], 17366);
    EXPECT_EQ(first["devNames"], json::array());
    const json& tape = document["adapters"][0]["devices"][2];
    EXPECT_EQ(tape["typeName"], "Tape");
    EXPECT_TRUE(tape["capacity"].is_null());
}

// The report's megabytes are the windowed program's: 34732.89 rounds to 34733.
TEST(Json, InquiryReportAndItsMegabytes)
{
    CliRunner cli(kBuiltin);
    const auto text = cli.Run({"-i", "1:2:0"});
    EXPECT_NE(text.out.find("Highblock = 71132959, Capacity = 34733 MB"), std::string::npos) << text.out;
    json document = JsonRun(cli, {"-i", "1:2:0"}, 0);
    EXPECT_EQ(document["device"]["capacity"]["megabytes"], 34733);
    EXPECT_FALSE(document.contains("inquiry")) << "another maker's disk has no maker's section";

    document = JsonRun(cli, {"-i", "0:0:0"}, 0);
    const json& inquiry = document["inquiry"];
    EXPECT_EQ(inquiry["scsiFirmware"], "K100    ");
    EXPECT_EQ(inquiry["selfTest"]["longSeconds"], 90);
    EXPECT_EQ(inquiry["modePages"]["wce"]["current"], 1);
    EXPECT_EQ(inquiry["modePages"]["cacheSegments"]["default"], 16);
}

TEST(Json, TestsOnTheBuiltInMachine)
{
    CliRunner cli(kBuiltin);
    json document = JsonRun(cli, {"-t", "20%", "0:0:0"}, 0);
    EXPECT_EQ(document["test"]["kind"], "short-self-test");
    EXPECT_EQ(document["test"]["state"], "passed");
    EXPECT_EQ(document["test"]["phases"].back()["text"], "DST Short Test complete without error");

    document = JsonRun(cli, {"-tl", "10%", "0:0:0"}, 0);
    EXPECT_EQ(document["test"]["kind"], "long-self-test");

    document = JsonRun(cli, {"-s", "0:0:0"}, cli.Run({"-s", "0:0:0"}).exitCode);
    EXPECT_EQ(document["test"]["kind"], "stop-self-test");

    document = JsonRun(cli, {"-g", "1%", "1:2:0"}, 0);
    const json& test = document["test"];
    EXPECT_EQ(test["kind"], "generic-short-test");
    EXPECT_EQ(test["percent"], 1);
    EXPECT_EQ(test["result"], 0);
    EXPECT_TRUE(test["sense"].is_null());
    ASSERT_EQ(test["phases"].size(), 6U) << test.dump();
    EXPECT_EQ(test["phases"][1]["text"], "Performing Sequential Read (start of disk)");
    EXPECT_EQ(test["phases"][4]["text"], "Performing Random Seek Commands");
    EXPECT_LE(test["phases"][4]["startSeconds"].get<double>(), test["durationSeconds"].get<double>());

    document = JsonRun(cli, {"-gl", "10%", "0:1:0"}, 0);
    EXPECT_EQ(document["test"]["kind"], "generic-long-test");
    EXPECT_EQ(document["test"]["legacy"], true);
    EXPECT_EQ(document["test"]["status"], " Legacy Long Test Passed");
}

// A self test failing in its first segment: the log entry says where and why.
TEST(Json, AFailedSelfTestCarriesItsLogEntry)
{
    CliRunner cli(MachinePath("self-test.json"));
    const json document = JsonRun(cli, {"-tl", "0:8:0"}, 1);
    const json& test = document["test"];
    EXPECT_EQ(test["state"], "failed");
    EXPECT_TRUE(test["sense"].is_null());
    const json& entry = test["selfTestLog"];
    EXPECT_EQ(entry["code"], 2);
    EXPECT_EQ(entry["result"], 5);
    EXPECT_EQ(entry["segment"], 1);
    EXPECT_EQ(entry["powerOnHours"], 77);
    EXPECT_TRUE(entry["failingLba"].is_null()) << "all ones: no address";
    EXPECT_EQ(entry["sense"], (json{{"key", 4}, {"asc", 0x40}, {"ascq", 0x80}, {"fru", 0}}));

    const json passed = JsonRun(cli, {"-t", "0:0:0"}, 0);
    EXPECT_EQ(passed["test"]["selfTestLog"]["result"], 0);
    EXPECT_TRUE(passed["test"]["selfTestLog"]["failingLba"].is_null());
}

// A drive with a medium error in its last block fails in phase B: exit 2,
// sense 03/11/00, state failed; the same without --json.
TEST(Json, AFailingDriveOfAMachineFile)
{
    CliRunner cli(MachinePath("host-tests.json"));
    EXPECT_EQ(cli.Run({"-g", "1%", "0:5:0"}).exitCode, 2);
    const json document = JsonRun(cli, {"-g", "1%", "0:5:0"}, 2);
    const json& test = document["test"];
    EXPECT_EQ(test["state"], "failed");
    EXPECT_EQ(test["result"], 2);
    EXPECT_EQ(test["sense"], (json{{"key", 3}, {"asc", 0x11}, {"ascq", 0}, {"fru", 0}}));
    EXPECT_EQ(test["status"], " Generic Short Test Failed 03 / 11 / 00");

    const json listing = JsonRun(cli, {"-l"}, 0);
    EXPECT_EQ(listing["machine"], MachinePath("host-tests.json"));
}

// The same failure told in descriptor-format sense (SPC-4 4.5.2) gives the same member.
TEST(Json, DescriptorSenseGivesTheSameSense)
{
    json machine = json::parse(std::ifstream(MachinePath("host-tests.json")));
    for (json& unit : machine["ports"][0]["units"]) {
        unit["descriptorSense"] = true;
    }
    const fs::path file = fs::temp_directory_path() / ("harrow-json-dsense-" + std::to_string(::getpid()) + ".json");
    std::ofstream(file) << machine.dump();
    CliRunner cli(file.string());
    const json document = JsonRun(cli, {"-g", "1%", "0:5:0"}, 2);
    fs::remove(file);
    EXPECT_EQ(document["test"]["sense"], (json{{"key", 3}, {"asc", 0x11}, {"ascq", 0}, {"fru", 0}}));
}

TEST(Json, AnIscsiLun)
{
    std::string why;
    const auto target = harrow::testing::TgtTarget::Start({64ULL << 20}, &why);
    if (!target) {
        GTEST_SKIP() << "tgtd cannot be started here: " << why;
    }
    CliRunner cli(target->Url());
    const json listing = JsonRun(cli, {"-l"}, 0);
    const json& lun = listing["adapters"][0]["devices"][0];
    EXPECT_EQ(lun["address"], "0:0:1");
    EXPECT_EQ(lun["vendor"], "IET");
    EXPECT_EQ(lun["capacity"]["bytes"], 64ULL << 20);
    const json test = JsonRun(cli, {"-g", "1%", "0:0:1"}, 0);
    EXPECT_EQ(test["test"]["state"], "passed");
}

}  // namespace
