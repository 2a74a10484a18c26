// OrbInst on simulated Windows folders: the installation waits for the
// restart, the restart puts the ASPI layer in place, and only Windows 9x
// is touched.
#include "CliRunner.h"
#include "support/FileText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

using test_support::ReadText;

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Every file under the folder with its contents.
std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        files[fs::relative(entry.path(), folder).string()] = entry.is_regular_file() ? ReadText(entry.path()) : "<dir>";
    }
    return files;
}

bool IsElf(const fs::path& path) { return ReadText(path).starts_with("\x7F" "ELF"); }

class OrbInst : public ::testing::Test {
protected:
    OrbInst() : m_runner(MachinePath("lab.json")) { m_runner.SetWindowsVersion("98"); }

    CliRunner::Result Install() const { return m_runner.RunProgram(HARROW_ORBINST_PATH, {"--yes"}); }
    CliRunner::Result Restart() const { return m_runner.RunProgram(HARROW_WINRESTART_PATH, {}); }
    std::string System() const { return m_runner.SystemDir().string(); }

    CliRunner m_runner;
};

TEST_F(OrbInst, InstallsForTheNextStartOfWindows98)
{
    const fs::path system = m_runner.SystemDir();
    WriteFile(system / "WNASPI32.DLL", "the old layer");
    WriteFile(system / "IOSUBSYS" / "APIX.VXD", "the old port driver");
    m_runner.AppendRegistry(
        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\SessionManager\\WarnVerDLLs]\n");

    const CliRunner::Result before = m_runner.Run({"-l"});
    EXPECT_EQ(before.exitCode, 1);
    EXPECT_NE(before.out.find("Initialization Failed"), std::string::npos) << before.out;

    const CliRunner::Result first = Install();
    EXPECT_EQ(first.exitCode, 1) << first.err;
    EXPECT_NE(first.out.find("Current Version - None     New Version - 1.0.0.0"), std::string::npos) << first.out;
    EXPECT_NE(first.out.find("Updating ASPI layer..."), std::string::npos);
    EXPECT_NE(first.out.find("Your system will need to be rebooted for the changed to take affect"), std::string::npos);

    // Nothing is replaced before the restart.
    EXPECT_EQ(ReadText(system / "WNASPI32.DLL"), "the old layer");
    EXPECT_EQ(ReadText(system / "WNASPI32.PreORB"), "the old layer");
    EXPECT_EQ(ReadText(system / "IOSUBSYS" / "APIX.PreORB"), "the old port driver");
    EXPECT_TRUE(IsElf(system / "WNASPI32.ORB"));
    EXPECT_TRUE(IsElf(system / "orbstb32.vxd"));
    const std::string s = System();
    EXPECT_EQ(ReadText(m_runner.WindowsDir() / "wininit.ini"),
              "[Rename]\r\n"
              "NUL=" + s + "\\WNASPI32.DLL\r\n" +
              s + "\\IOSUBSYS\\APIX.VXD=" + s + "\\IOSUBSYS\\APIX.ORB\r\n" +
              s + "\\ASPIENUM.VXD=" + s + "\\ASPIENUM.ORB\r\n" +
              s + "\\WINASPI.DLL=" + s + "\\WINASPI.ORB\r\n" +
              s + "\\WNASPI32.DLL=" + s + "\\WNASPI32.ORB\r\n");
    const std::string registry = ReadText(m_runner.RegistryFile());
    for (const char* text : {"[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\ORBSTB32]\n"
                             "\"AllocAtBoot\"=hex:00\n\"ISA\"=hex:01\n\"MaxPages\"=dword:00000080\n"
                             "\"Start\"=hex:00\n\"StaticVxD\"=\"ORBSTB32.VXD\"\n",
                             "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\ASPIENUM]\n"
                             "\"Start\"=hex:00\n\"StaticVxD\"=\"ASPIENUM.VXD\"\n",
                             "\"WINASPI.DLL\"=hex:80,00,00,00,"}) {
        EXPECT_NE(registry.find(text), std::string::npos) << text << "\nnot in\n" << registry;
    }
    EXPECT_EQ(m_runner.Run({"-l"}).exitCode, 1);

    const CliRunner::Result restart = Restart();
    EXPECT_EQ(restart.exitCode, 0) << restart.err;
    EXPECT_FALSE(fs::exists(m_runner.WindowsDir() / "wininit.ini"));
    EXPECT_TRUE(fs::exists(m_runner.WindowsDir() / "wininit.bak"));
    EXPECT_TRUE(IsElf(system / "WNASPI32.DLL"));
    EXPECT_FALSE(fs::exists(system / "WNASPI32.ORB"));
    const CliRunner::Result after = m_runner.Run({"-l"});
    EXPECT_EQ(after.exitCode, 0) << after.out << after.err;
    EXPECT_NE(after.out.find(" SCSI Port 0 SCSI ID: 7 ASPI for WIN32 aic78xx\n   0:0:0 Disc     KESTREL"),
              std::string::npos)
        << after.out;

    // A second run offers the same version again and keeps the first backups.
    const CliRunner::Result second = Install();
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.out.find("Current Version - 1.0.0.0     New Version - 1.0.0.0"), std::string::npos) << second.out;
    EXPECT_EQ(ReadText(system / "WNASPI32.PreORB"), "the old layer");
    EXPECT_EQ(ReadText(system / "IOSUBSYS" / "APIX.PreORB"), "the old port driver");
    EXPECT_TRUE(fs::exists(m_runner.WindowsDir() / "wininit.ini"));
}

TEST_F(OrbInst, LeavesTheNtFamilyUntouched)
{
    WriteFile(m_runner.SystemDir() / "WNASPI32.DLL", "the old layer");
    WriteFile(m_runner.RegistryFile(), "REGEDIT4\n");
    for (const char* version : {"nt4", "2000", "xp"}) {
        m_runner.SetWindowsVersion(version);
        const auto windows = Snapshot(m_runner.WindowsDir());
        const CliRunner::Result run = Install();
        EXPECT_EQ(run.exitCode, 1) << version;
        EXPECT_EQ(run.out, "") << version;
        EXPECT_EQ(Snapshot(m_runner.WindowsDir()), windows) << version;
        EXPECT_EQ(ReadText(m_runner.RegistryFile()), "REGEDIT4\n") << version;
    }
}

TEST_F(OrbInst, OneInstanceAtATime)
{
    // The first one waits at its question, off screen, for a person who never comes.
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    CliRunner::Background first = m_runner.StartProgram(HARROW_ORBINST_PATH, {});
    ASSERT_TRUE(first.WaitForText(m_runner.SystemDir() / "orbstb32.vxd", "ELF", std::chrono::seconds(20)))
        << "the first OrbInst did not get to its question";
    const CliRunner::Result second = Install();
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.out, "");
    EXPECT_FALSE(fs::exists(m_runner.SystemDir() / "WNASPI32.ORB"));
    first.Kill();
    EXPECT_EQ(Install().exitCode, 1);  // the name went with the first one
}

// A copy of the installer in a folder of its own, with only some of its package.
fs::path InstallerWithout(const fs::path& root, const std::string& missing)
{
    const fs::path original(HARROW_ORBINST_PATH);
    const fs::path bin = root / ("orbinst-without-" + missing);
    fs::create_directories(bin);
    for (const auto& entry : fs::directory_iterator(original.parent_path())) {
        const std::string name = entry.path().filename().string();
        const bool packaged = name == "APIX.VXD" || name == "ASPIENUM.VXD" || name == "WINASPI.DLL" ||
                              name == "WNASPI32.DLL" || name == "orbstb32.vxd";
        if ((name.ends_with(".so") || packaged) && name != missing) {
            fs::create_symlink(entry.path(), bin / name);
        }
    }
    fs::copy_file(original, bin / original.filename());
    return bin;
}

TEST_F(OrbInst, StopsAtTheFirstFailedCopy)
{
    const std::string s = System();
    const fs::path withoutDriver = InstallerWithout(m_runner.WorkDir(), "orbstb32.vxd");
    const CliRunner::Result noDriver = m_runner.RunProgram((withoutDriver / "OrbInst").string(), {"--yes"});
    EXPECT_EQ(noDriver.exitCode, 0);
    EXPECT_NE(noDriver.err.find("Failed to copy \n" + (withoutDriver / "orbstb32.vxd").string() + "\nTo\n" +
                                m_runner.WindowsDir().string() + "\\system\\orbstb32.vxd"),
              std::string::npos)
        << noDriver.err;
    EXPECT_EQ(noDriver.out, "");

    const fs::path withoutWinAspi = InstallerWithout(m_runner.WorkDir(), "WINASPI.DLL");
    const CliRunner::Result noLibrary = m_runner.RunProgram((withoutWinAspi / "OrbInst").string(), {"--yes"});
    EXPECT_EQ(noLibrary.exitCode, 1);
    EXPECT_NE(noLibrary.err.find("Failed to copy \n" + (withoutWinAspi / "WINASPI.DLL").string() + "\nTo\n" + s +
                                 "\\WINASPI.ORB"),
              std::string::npos)
        << noLibrary.err;
    EXPECT_EQ(noLibrary.out.find("ASPI has been installed on your system"), std::string::npos) << noLibrary.out;
    const std::string wininit = ReadText(m_runner.WindowsDir() / "wininit.ini");
    EXPECT_NE(wininit.find("ASPIENUM.VXD="), std::string::npos) << wininit;
    EXPECT_EQ(wininit.find("WINASPI.DLL="), std::string::npos) << wininit;
    EXPECT_FALSE(fs::exists(m_runner.SystemDir() / "WNASPI32.ORB"));
}

}  // namespace
