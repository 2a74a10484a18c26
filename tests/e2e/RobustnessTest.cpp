#include "CliRunner.h"
#include "support/FileText.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include <fstream>
#include <thread>

using test_support::ReadText;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path RegistryOf(const CliRunner& cli) { return cli.WorkDir().parent_path() / "registry.reg"; }

ino_t Inode(const fs::path& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

bool HasWholeConfiguration(const std::string& registry)
{
    for (const char* os : {"Win2000]", "WinNT]", "Win98]"}) {
        const auto key = registry.find(std::string("\\DriverExceptions\\") + os);
        if (key == std::string::npos || registry.find("\"buffermgr\"=dword:", key) == std::string::npos) {
            return false;
        }
    }
    return true;
}

TEST(Robustness, FirstRunsKilledOrRacingLeaveAWholeConfigurationThatPlainRunsNeverRewrite)
{
    // Killed at staggered moments of the first run: no later run may fail.
    CliRunner killed(MachinePath("lab.json"));
    for (int round = 0; round < 6; ++round) {
        auto run = killed.Start({"-l"});
        std::this_thread::sleep_for(std::chrono::milliseconds(round * 3));
        run.Kill();
    }
    const auto after = killed.Start({"-l"}).WaitAtMost(60s);
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_TRUE(HasWholeConfiguration(ReadText(RegistryOf(killed))));

    // Four first runs at once, several times over.
    for (int round = 0; round < 3; ++round) {
        CliRunner cli(MachinePath("lab.json"));
        std::vector<CliRunner::Background> runs;
        for (int i = 0; i < 4; ++i) {
            runs.push_back(cli.Start({"-l"}));
        }
        for (auto& run : runs) {
            const auto result = run.WaitAtMost(60s);
            EXPECT_EQ(result.exitCode, 0) << result.err;
            EXPECT_EQ(result.err, "");
        }
        const fs::path registry = RegistryOf(cli);
        EXPECT_TRUE(HasWholeConfiguration(ReadText(registry)));

        const std::string before = ReadText(registry);
        const ino_t inode = Inode(registry);
        EXPECT_EQ(cli.Start({"-l"}).WaitAtMost(60s).exitCode, 0);
        EXPECT_EQ(Inode(registry), inode) << "a plain run replaced the registry file";
        EXPECT_EQ(ReadText(registry), before);
    }
}

TEST(Robustness, AnOversizedCommandPauseIsRefused)
{
    CliRunner cli(MachinePath("lab.json"));
    std::ofstream(RegistryOf(cli), std::ios::trunc)
        << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
           "\"CommandPauseMs\"=dword:ffffffff\n";
    const auto run = cli.Start({"-i", "0:0:0"}).WaitAtMost(60s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("harrow: CommandPauseMs 4294967295 is above 60000 ms and is ignored; the pause stays 0 ms"),
              std::string::npos)
        << run.err;
}

TEST(Robustness, APercentageBeyondIntIsHeldNotOverflowed)
{
    CliRunner cli(MachinePath("lab.json"));
    const auto run = cli.Start({"-t", "99999999999%", "0:0:0"}).WaitAtMost(60s);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_EQ(run.err, "HarrowCLI: -t takes 10% - 100%, not 16777216%\n");
}

TEST(Robustness, ALogThatCannotGrowIsToldNotSilent)
{
    CliRunner cli(MachinePath("lab.json"));
    cli.WriteWorkFile("HarrowCLI.log", std::string(64 * 1024, 'x') + "\n");
    // The run inherits a file-size limit below the log's size and ignores
    // SIGXFSZ, as a full file system shows itself to a program.
    rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 32 * 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    auto started = cli.Start({"-l"});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    const auto run = started.WaitAtMost(60s);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Device(s) found during bus scan:"), std::string::npos);
    EXPECT_NE(run.err.find("harrow: cannot write the log file HarrowCLI.log: File too large\n"), std::string::npos)
        << run.err;
}

TEST(Robustness, AFullPortIsListedWhole)
{
    // 8 buses of 15 targets with 8 LUNs: a bus list larger than the first
    // buffer, and more disks than the first 256 class device names.
    std::string units;
    for (int bus = 0; bus < 8; ++bus) {
        for (int target = 0; target < 16; ++target) {
            for (int lun = 0; target != 7 && lun < 8; ++lun) {
                units += std::string(units.empty() ? "" : ",") + "{\"bus\": " + std::to_string(bus) +
                         ", \"target\": " + std::to_string(target) + ", \"lun\": " + std::to_string(lun) +
                         ", \"type\": \"disk\", \"blocks\": 64}";
            }
        }
    }
    CliRunner full("full-port.json");  // found in the run's own folder
    full.WriteWorkFile("full-port.json", "{\"ports\": [{\"driver\": \"aic78xx\", \"buses\": 8, \"units\": [" + units + "]}]}");
    const auto run = full.Start({"-l"}).WaitAtMost(300s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::size_t listed = 0;
    for (std::size_t at = run.out.find("\n   0:"); at != std::string::npos; at = run.out.find("\n   0:", at + 1)) {
        ++listed;
    }
    EXPECT_EQ(listed, 960u);
    EXPECT_NE(run.out.find("\n   0:127:7 Disc "), std::string::npos);  // bus 7, target 15, LUN 7
}

}  // namespace
