// Runs as root in folders and with devices an attacker or an unlucky operator
// prepared: planted links and device nodes, a read-only registry, a drive that
// sends escape sequences.
#include "CliRunner.h"
#include "support/FileText.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

using test_support::ReadText;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::size_t Count(const std::string& text, const std::string& word)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + word.size())) {
        ++count;
    }
    return count;
}

// A file outside the run's folder that a planted link points at.
class Victim {
public:
    Victim()
    {
        std::string pattern = (fs::temp_directory_path() / "harrow-victim-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        m_path = pattern;
        if (fd >= 0) {
            ::write(fd, kText, sizeof kText - 1);
            ::close(fd);
        }
    }
    ~Victim() { fs::remove(m_path); }
    const fs::path& Path() const { return m_path; }
    bool Untouched() const { return ReadText(m_path) == kText; }

private:
    static constexpr char kText[] = "root:x:0:0:root:/root:/bin/bash\n";
    fs::path m_path;
};

const std::string kLogRefused = "harrow: cannot write the log file HarrowCLI.log: ";

TEST(HostileWorld, ALogLinkedOutsideTheFolderIsRefusedAndTheRunGoesOn)
{
    CliRunner cli(MachinePath("lab.json"));
    const Victim victim;
    fs::create_symlink(victim.Path(), cli.LogFile());
    const auto run = cli.Run({"-l"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("KX18LVD"), std::string::npos) << run.out;
    EXPECT_TRUE(victim.Untouched()) << ReadText(victim.Path());
    EXPECT_EQ(Count(run.err, kLogRefused + "it is a symbolic link, which is not followed\n"), 1u) << run.err;
    EXPECT_TRUE(fs::is_symlink(cli.LogFile()));
}

TEST(HostileWorld, ADanglingLogLinkCreatesNothingWhereItPoints)
{
    CliRunner cli(MachinePath("lab.json"));
    const fs::path target = cli.WorkDir().parent_path() / "created-through-link";
    fs::create_symlink(target, cli.LogFile());
    const auto run = cli.Run({"-l"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_NE(run.err.find(kLogRefused + "it is a symbolic link, which is not followed\n"), std::string::npos)
        << run.err;
}

TEST(HostileWorld, ALogThatIsAFifoOrADeviceNodeIsNeverOpened)
{
    CliRunner fifo(MachinePath("lab.json"));
    ASSERT_EQ(::mkfifo(fifo.LogFile().c_str(), 0644), 0);
    // Nobody reads the FIFO: a program that wrote to it would block once its buffer filled.
    const auto fromFifo = fifo.Start({"-l"}).WaitAtMost(60s);
    EXPECT_EQ(fromFifo.exitCode, 0);
    EXPECT_EQ(Count(fromFifo.err, kLogRefused + "it is not a regular file\n"), 1u) << fromFifo.err;

    // The null device stands in for a disk: what reaches it is lost unseen.
    CliRunner device(MachinePath("lab.json"));
    ASSERT_EQ(::mknod(device.LogFile().c_str(), S_IFCHR | 0644, makedev(1, 3)), 0) << "the tests run as root";
    const auto fromDevice = device.Run({"-l"});
    EXPECT_EQ(fromDevice.exitCode, 0);
    EXPECT_NE(fromDevice.out.find("KX18LVD"), std::string::npos);
    EXPECT_EQ(Count(fromDevice.err, kLogRefused + "it is not a regular file\n"), 1u) << fromDevice.err;
}

TEST(HostileWorld, ALogWithASecondNameIsRefused)
{
    CliRunner cli(MachinePath("lab.json"));
    const Victim victim;
    fs::create_hard_link(victim.Path(), cli.LogFile());
    const auto run = cli.Run({"-l"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(victim.Untouched());
    EXPECT_NE(run.err.find(kLogRefused + "it has other names (hard links)\n"), std::string::npos) << run.err;
}

TEST(HostileWorld, AnRmaFormLinkedOutsideTheFolderIsRefused)
{
    CliRunner cli(MachinePath("lab.json"));
    const Victim victim;
    fs::create_symlink(victim.Path(), cli.WorkDir() / "rmalog.txt");
    const auto run = cli.Run({"-r"}, "Jane\n555-0100\njane@example.com\n");
    EXPECT_EQ(AfterInit(run), "\nError opening RMA file rmalog.txt\n\n");
    EXPECT_NE(run.err.find("harrow: rmalog.txt: it is a symbolic link, which is not followed\n"), std::string::npos)
        << run.err;
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(victim.Untouched());
}

TEST(HostileWorld, AReadOnlyRegistryIsNeverRewrittenAndSaysSoOnce)
{
    CliRunner cli(MachinePath("lab.json"));
    // The file holds no product configuration yet: the run needs the defaults it would write.
    const std::string before = ReadText(cli.RegistryFile());
    fs::permissions(cli.RegistryFile(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    struct stat was {};
    ASSERT_EQ(::stat(cli.RegistryFile().c_str(), &was), 0);
    for (int round = 0; round < 2; ++round) {
        const auto run = cli.Run({"-l"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_NE(run.out.find("KX18LVD"), std::string::npos) << run.out;
        EXPECT_EQ(Count(run.err, "harrow: the registry file " + cli.RegistryFile().string() +
                                     " is read-only: settings will not be saved\n"),
                  1u)
            << run.err;
    }
    struct stat now {};
    ASSERT_EQ(::stat(cli.RegistryFile().c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, was.st_ino);
    EXPECT_EQ(now.st_mode & 07777, 0444u);
    EXPECT_EQ(ReadText(cli.RegistryFile()), before);
}

// Printable ASCII, line ends and tabs only.
bool Printable(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte == '\n' || byte == '\t' || (byte >= 0x20 && byte <= 0x7E);
    });
}

TEST(HostileWorld, EscapeSequencesOfADriveNeverReachTheTerminalOrTheLog)
{
    CliRunner cli(MachinePath("hostile.json"));
    const auto run = cli.Run({"-i", "0:0:0"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(Printable(run.out)) << run.out;
    EXPECT_TRUE(Printable(ReadText(cli.LogFile())));
    // Each control byte is a blank; the text ends at the page's first zero byte.
    const std::string firmware = " \tSCSI Firmware =  [2J [31\n"
                                 " \tServo RAM Release =  ]0;pwn \n"
                                 " \tServo ROM Release =  1;1H  \n"
                                 " \tServo RAM Date =     \n"
                                 " \tServo ROM Date = 20 2\n\n";
    EXPECT_NE(run.out.find(firmware), std::string::npos) << run.out;
}

}  // namespace

namespace {

// count disks on full ports of 8 buses, 15 targets (7 is the initiator) and 8 LUNs.
std::string ManyDisks(const std::string& name, int count)
{
    std::string ports;
    for (int port = 0; count > 0; ++port) {
        std::string units;
        for (int bus = 0; bus < 8; ++bus) {
            for (int target = 0; target < 16; ++target) {
                for (int lun = 0; target != 7 && lun < 8 && count > 0; ++lun, --count) {
                    units += std::string(units.empty() ? "" : ",") + "{\"bus\":" + std::to_string(bus) +
                             ",\"target\":" + std::to_string(target) + ",\"lun\":" + std::to_string(lun) +
                             ",\"type\":\"disk\",\"vendor\":\"MERIDIAN\",\"blocks\":64}";
                }
            }
        }
        ports += std::string(ports.empty() ? "" : ",") + "{\"port\":" + std::to_string(port) +
                 ",\"driver\":\"aic78xx\",\"buses\":8,\"units\":[" + units + "]}";
    }
    return "{\"name\":\"" + name + "\",\"ports\":[" + ports + "]}";
}

// Starts a run under an open-file limit ("soft:hard", "soft:" keeps the hard
// one), as a login shell gives one; this process keeps its own.
CliRunner::Background StartLimited(const CliRunner& cli, const std::string& limit)
{
    return cli.StartProgram("/usr/bin/prlimit", {"--nofile=" + limit, HARROW_CLI_PATH, "-l"});
}

TEST(HostileWorld, TenThousandDisksStartAndList)
{
    CliRunner cli("many.json");
    cli.WriteWorkFile("many.json", ManyDisks("many", 10000));
    const auto run = StartLimited(cli, "1024:").WaitAtMost(300s);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(Count(run.out, " Disc     MERIDIAN "), 10000u);
    EXPECT_NE(run.out.find("\n   10:52:7 Disc "), std::string::npos);  // the last: port 10, bus 3, target 4
}

TEST(HostileWorld, AStartRefusedForWantOfFilesLeavesNoStateFolders)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' runtime opens files of its own (its type checks read the
    // process's maps) and misreads a thrown exception once none are left.
    GTEST_SKIP() << "the sanitizer runtime needs files beyond the limit this test sets";
#endif
    CliRunner cli("refused.json");
    cli.WriteWorkFile("refused.json", ManyDisks("refused", 1000));
    const auto run = StartLimited(cli, "256:256").WaitAtMost(120s);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_NE(run.err.find("Too many open files"), std::string::npos) << run.err;
    const fs::path state = cli.WorkDir().parent_path() / "state";
    EXPECT_FALSE(fs::exists(state / "refused")) << "left behind in " << state;
}

}  // namespace

namespace {

TEST(HostileWorld, ACapacityAnsweredGoodWithoutItsEightBytesIsAFailedRead)
{
    CliRunner cli(MachinePath("hostile.json"));
    const auto run = cli.Run({"-i", "0:1:0"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find("Blocksize = 0"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" \t-Cannot read capacity  (Sense data = 00/00/00)\n"), std::string::npos) << run.out;
}

}  // namespace
