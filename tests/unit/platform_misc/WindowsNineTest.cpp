// What installers rely on: profile files, the restart that carries out
// "wininit.ini", directory entries, instance names and libraries by path.
#include "platform/Files.h"
#include "platform/Kernel.h"
#include "platform/Library.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/Wininit.h"
#include "support/TestHome.h"
#include "support/FileText.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

using test_support::ReadText;

namespace fs = std::filesystem;

namespace {

class WindowsNine : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_home = test_support::MakeTestHome("win9x");
        setenv("XDG_RUNTIME_DIR", (m_home / "runtime").c_str(), 1);
    }
    void TearDown() override
    {
        unsetenv("XDG_RUNTIME_DIR");
        test_support::LeaveTestHome(m_home);
    }
    fs::path Windows() const { return m_home / "windows"; }

    fs::path m_home;
};

TEST_F(WindowsNine, LayoutAndProfileStrings)
{
    char folder[512];
    ASSERT_GT(GetSystemDirectoryA(folder, sizeof folder), 0u);
    EXPECT_TRUE(fs::is_directory(Windows() / "system" / "IOSUBSYS"));

    // Keys match in any case; a later write replaces the first line of its key.
    EXPECT_TRUE(WritePrivateProfileStringA("Rename", "NUL", "a", "wininit.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("Other", "k", "v", "wininit.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("rename", "C:\\x", "C:\\y", "wininit.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("RENAME", "nul", "b", "wininit.ini"));
    EXPECT_EQ(ReadText(Windows() / "wininit.ini"), "[Rename]\r\nnul=b\r\nC:\\x=C:\\y\r\n[Other]\r\nk=v\r\n");
    EXPECT_TRUE(WritePrivateProfileStringA("Other", nullptr, nullptr, "wininit.ini"));
    EXPECT_TRUE(WritePrivateProfileStringA("Rename", "C:\\X", nullptr, "wininit.ini"));
    EXPECT_EQ(ReadText(Windows() / "wininit.ini"), "[Rename]\r\nnul=b\r\n");

    // Entries that would read back as other entries are refused, the file kept.
    EXPECT_FALSE(WritePrivateProfileStringA("Rename", "a=b", "c", "wininit.ini"));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(WritePrivateProfileStringA("Rename", "a", "c\r\n[Other]", "wininit.ini"));
    EXPECT_FALSE(WritePrivateProfileStringA("Re]name", "a", "c", "wininit.ini"));
    EXPECT_EQ(ReadText(Windows() / "wininit.ini"), "[Rename]\r\nnul=b\r\n");
    EXPECT_FALSE(WritePrivateProfileStringA("Rename", "a", "b", (m_home / "no" / "such.ini").c_str()));
}

TEST_F(WindowsNine, RestartCarriesOutTheRenames)
{
    EXPECT_TRUE(harrow::platform::RunWininit().done.empty());  // nothing scheduled

    const fs::path system = Windows() / "system";
    fs::create_directories(system);
    std::ofstream(system / "OLD.DLL") << "old";
    std::ofstream(system / "NEW.ORB") << "new";
    std::ofstream(system / "GONE.DLL") << "gone";
    const std::string s = system.string();
    WritePrivateProfileStringA("Rename", "NUL", (s + "\\GONE.DLL").c_str(), "wininit.ini");
    WritePrivateProfileStringA("Rename", (s + "\\OLD.DLL").c_str(), (s + "\\NEW.ORB").c_str(), "wininit.ini");
    WritePrivateProfileStringA("Rename", (s + "\\X.DLL").c_str(), (s + "\\MISSING.ORB").c_str(), "wininit.ini");

    const harrow::platform::WininitResult result = harrow::platform::RunWininit();
    EXPECT_EQ(result.done.size(), 2u);
    ASSERT_EQ(result.failed.size(), 1u);
    EXPECT_NE(result.failed[0].find("MISSING.ORB"), std::string::npos) << result.failed[0];
    EXPECT_EQ(ReadText(system / "OLD.DLL"), "new");
    EXPECT_FALSE(fs::exists(system / "NEW.ORB"));
    EXPECT_FALSE(fs::exists(system / "GONE.DLL"));
    EXPECT_FALSE(fs::exists(Windows() / "wininit.ini"));
    EXPECT_TRUE(fs::exists(Windows() / "wininit.bak"));
    EXPECT_TRUE(harrow::platform::RunWininit().done.empty());  // carried out once
}

TEST_F(WindowsNine, DirectoryEntry)
{
    fs::create_directories(m_home / "d");
    std::ofstream(m_home / "d" / "WINASPI.ORB") << std::string(300, 'x');
    WIN32_FIND_DATAA entry{};
    HANDLE find = FindFirstFileA((m_home.string() + "\\d\\WINASPI.ORB").c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(entry.cFileName, "WINASPI.ORB");
    EXPECT_EQ(entry.nFileSizeLow, 300u);
    EXPECT_EQ(entry.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    EXPECT_GT(entry.ftLastWriteTime.dwHighDateTime, 0x01C00000u);  // after 1980
    EXPECT_TRUE(FindClose(find));
    EXPECT_FALSE(FindClose(find));
    EXPECT_EQ(FindFirstFileA((m_home / "d" / "*.ORB").c_str(), &entry), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(FindFirstFileA((m_home / "d" / "NONE").c_str(), &entry), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// The exit code of a child process that opens the name.
int OpenedElsewhere(const char* name)
{
    const pid_t child = fork();
    if (child == 0) {
        HANDLE handle = CreateSemaphoreA(nullptr, 0, 1, name);
        _exit(handle == nullptr ? 2 : GetLastError() == ERROR_ALREADY_EXISTS ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(WindowsNine, SemaphoreNamesAreSeenByEveryProcess)
{
    const char* name = "Orb 32-Bit Driver Installer";
    EXPECT_EQ(OpenedElsewhere(name), 0);
    HANDLE first = CreateSemaphoreA(nullptr, 0, 1, name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE second = CreateSemaphoreA(nullptr, 0, 1, name);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(OpenedElsewhere(name), 1);
    CloseHandle(first);
    EXPECT_EQ(OpenedElsewhere(name), 1);
    CloseHandle(second);
    EXPECT_EQ(OpenedElsewhere(name), 0);
    HANDLE unnamed = CreateSemaphoreA(nullptr, 0, 1, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(unnamed);
}

TEST_F(WindowsNine, LibraryByPathIsThatFileOnly)
{
    char program[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, program, sizeof program), 0u);
    const fs::path beside = fs::path(program).parent_path() / "libtestres.so";
    const fs::path copy = m_home / "TESTRES.DLL";
    fs::copy_file(beside, copy);
    HMODULE module = LoadLibraryA(copy.c_str());
    ASSERT_NE(module, nullptr);
    char path[4096];
    ASSERT_GT(GetModuleFileNameA(module, path, sizeof path), 0u);
    EXPECT_EQ(fs::path(path), copy);
    FreeLibrary(module);
    // The library beside the program does not stand in for a missing one.
    EXPECT_EQ(LoadLibraryA((m_home.string() + "\\none\\TESTRES.DLL").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

// The block size the transfer-buffer driver answers, -1 when it does not open.
long long TransferBlockSize()
{
    HANDLE driver = CreateFileA("\\\\.\\orbstb32.vxd", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (driver == INVALID_HANDLE_VALUE) {
        return -1;
    }
    struct {
        void* address;
        std::uint32_t size;
        BYTE rest[256];
    } answer{};
    DWORD returned = 0;
    const BOOL asked = DeviceIoControl(driver, 0x9C402404, nullptr, 0, &answer, sizeof answer, &returned, nullptr);
    CloseHandle(driver);
    return asked && answer.address != nullptr ? answer.size : 0;
}

TEST_F(WindowsNine, TransferBufferDriverAnswersOnceInstalled)
{
    setenv("HARROW_WINVER", "98", 1);
    EXPECT_EQ(TransferBlockSize(), -1);
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\VxD\\ORBSTB32", 0, nullptr,
                              REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char name[] = "ORBSTB32.VXD";
    RegSetValueExA(key, "StaticVxD", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
    const DWORD pages = 128;
    RegSetValueExA(key, "MaxPages", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&pages), sizeof pages);
    RegCloseKey(key);
    EXPECT_EQ(TransferBlockSize(), -1);  // the key without the file

    fs::create_directories(Windows() / "system");
    std::ofstream(Windows() / "system" / "orbstb32.vxd") << "driver";
    EXPECT_EQ(TransferBlockSize(), 128 * 4096);
    setenv("HARROW_WINVER", "2000", 1);
    EXPECT_EQ(TransferBlockSize(), -1);
    unsetenv("HARROW_WINVER");
}

}  // namespace
