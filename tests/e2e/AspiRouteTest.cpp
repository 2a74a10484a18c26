// On Windows 98 every command goes through our ASPI layer; a run must give
// what the NT port route gives on the same machine.
#include "CliRunner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

// Progress lines depend on how polls fall, and adapter lines name the
// route's own manager; the rest of a run must not differ.
std::string DeviceResults(const std::string& text)
{
    std::istringstream lines(text);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("% complete") == std::string::npos && !line.starts_with(" SCSI Port ")) {
            kept += line + "\n";
        }
    }
    return kept;
}

// What OrbInst and a restart leave on a Windows 9x machine: the layer in the
// system folder.
void InstallAspiLayer(const CliRunner& runner)
{
    std::filesystem::create_directories(runner.SystemDir());
    std::filesystem::copy_file(std::filesystem::path(HARROW_CLI_PATH).parent_path() / "libwnaspi32.so",
                               runner.SystemDir() / "WNASPI32.DLL");
}

TEST(AspiRoute, Windows98RunsEveryCommandAsNtDoes)
{
    const std::vector<std::vector<std::string>> commands = {
        {"-l"}, {"-i", "0:0:0"}, {"-t", "0:0:0"}, {"-g", "1%", "0:2:0"}, {"-gl", "0:2:0"},
    };
    // Each route has its own drives, so a self test run by one is not seen by the other.
    CliRunner nt(MachinePath("lab.json"));
    CliRunner win98(MachinePath("lab.json"));
    win98.SetWindowsVersion("98");
    InstallAspiLayer(win98);
    for (const auto& command : commands) {
        const CliRunner::Result expected = nt.Run(command);
        const CliRunner::Result actual = win98.Run(command);
        SCOPED_TRACE(command[0]);
        EXPECT_EQ(actual.exitCode, expected.exitCode);
        EXPECT_EQ(DeviceResults(actual.out), DeviceResults(expected.out));
        EXPECT_EQ(actual.err, expected.err);
    }
    const std::string listing = win98.Run({"-l"}).out;
    EXPECT_NE(listing.find(" SCSI Port 0 SCSI ID: 7 ASPI for WIN32 aic78xx\n   0:0:0 Disc     KESTREL"),
              std::string::npos)
        << listing;
}

TEST(AspiRoute, WithoutTheAspiLayerInitialisationFails)
{
    // The layer beside the programs does not count on Windows 9x: only an installed one does.
    CliRunner win98(MachinePath("lab.json"));
    win98.SetWindowsVersion("98");
    const CliRunner::Result run = win98.Run({"-l"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("Initialization Failed"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Disc "), std::string::npos);
}

// The product configuration sends the port's driver to ASPI.
std::string AspiFor(const std::string& driver, int bufferManager)
{
    return "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb\\Harrow Viraradiza\\DriverExceptions\\Win2000]\n"
           "\"defaultdriver\"=dword:00000004\n\"" +
           driver + "\"=dword:00000003\n\"buffermgr\"=dword:0000000" + std::to_string(bufferManager) + "\n";
}

TEST(AspiRoute, NtPortConfiguredForAspiIsReachedThroughIt)
{
    CliRunner nt(MachinePath("lab.json"));
    CliRunner aspi(MachinePath("lab.json"));
    aspi.AppendRegistry(AspiFor("AIC78XX", 0));
    for (const std::vector<std::string>& command : {std::vector<std::string>{"-i", "0:0:0"}, {"-gl", "0:2:0"}}) {
        const CliRunner::Result expected = nt.Run(command);
        const CliRunner::Result actual = aspi.Run(command);
        EXPECT_EQ(actual.exitCode, expected.exitCode) << actual.out << actual.err;
        EXPECT_EQ(DeviceResults(actual.out), DeviceResults(expected.out));
    }

    CliRunner missing(MachinePath("lab.json"));
    missing.AppendRegistry(AspiFor("aic78xx", 2));
    const CliRunner::Result run = missing.RunWithoutLibrary("libwnaspi32.so", {"-l"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.out.find("Initialization Failed"), std::string::npos) << run.out;
}

}  // namespace
