#include "RegistryTestSupport.h"

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace registry_test {
namespace {

using harrow::platform::RegistryBatch;
using harrow::platform::ReloadRegistry;

// The child's exit status, or -1 when it has not ended within the limit
// (it is then killed, so a hang fails the test instead of stalling it).
int ExitWithin(pid_t child, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        ::usleep(1000);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, SpecialFilesAreRefusedAtOnceAndNeverReplaced)
{
    std::filesystem::create_directories(std::filesystem::path(m_path).parent_path());

    // A device node (a copy of /dev/null) stays a device node.
    ASSERT_EQ(::mknod(m_path.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ReloadRegistry();
    testing::internal::CaptureStderr();
    EXPECT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "x"), ERROR_BADDB);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("is unreadable (it is not a regular file)"),
              std::string::npos);
    struct stat info {};
    ASSERT_EQ(::lstat(m_path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISCHR(info.st_mode));

    // A FIFO without a writer would block a plain open for ever.
    std::filesystem::remove(m_path);
    ASSERT_EQ(::mkfifo(m_path.c_str(), 0644), 0);
    ReloadRegistry();
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(GetString(HKEY_CURRENT_USER, "Options", "Mode") == "<no key>" ? 0 : 1);
    }
    EXPECT_EQ(ExitWithin(child, std::chrono::seconds(10)), 0);

    // A link to a regular file is written through; the link stays a link.
    std::filesystem::remove(m_path);
    const std::filesystem::path real = m_folder / "real.reg";
    std::ofstream(real) << "REGEDIT4\n";
    std::filesystem::create_symlink(real, m_path);
    ReloadRegistry();
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "linked"), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_symlink(m_path));
    EXPECT_NE(test_support::ReadText(real).find("\"Mode\"=\"linked\""), std::string::npos);
}

TEST_F(RegistryTest, DeepKeysAreRefusedAndLongContinuationsRead)
{
    std::string deep = "REGEDIT4\n[HKEY_CURRENT_USER";
    for (int i = 0; i < 10000; ++i) {
        deep += "\\k";
    }
    WriteFile(deep + "]\n");
    ReloadRegistry();
    testing::internal::CaptureStderr();
    EXPECT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "x"), ERROR_BADDB);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("malformed at line 2 (the key is more than 512 levels deep)"),
              std::string::npos);

    std::string path = "k";
    for (int i = 1; i < 512; ++i) {
        path += "\\k";
    }
    WriteFile("REGEDIT4\n");
    ReloadRegistry();
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\k").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_INVALID_PARAMETER);

    std::string data = "REGEDIT4\n[HKEY_CURRENT_USER\\Blob]\n\"Data\"=hex:00";
    for (int i = 0; i < 100000; ++i) {
        data += ",\\\n  ff";
    }
    WriteFile(data + "\n");
    ReloadRegistry();
    DWORD size = 0;
    HKEY blob = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Blob", 0, KEY_READ, &blob), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(blob, "Data", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 100001u);
    RegCloseKey(blob);
}

TEST_F(RegistryTest, CommentsSurviveARewriteAndNeverJoinTheNextLine)
{
    WriteFile("REGEDIT4\n"
              "; set by the lab,\\\n"
              "[HKEY_CURRENT_USER\\Options]\n"
              "; slower for the old drives\n"
              "\"Mode\"=\"slow\"\n"
              "; trailing note\n");
    ReloadRegistry();
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "slow");
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "fast"), ERROR_SUCCESS);
    EXPECT_EQ(FileText(), "REGEDIT4\n\n"
                          "; set by the lab,\\\n"
                          "[HKEY_CURRENT_USER\\Options]\n"
                          "; slower for the old drives\n"
                          "\"Mode\"=\"fast\"\n\n"
                          "; trailing note\n");
}

TEST_F(RegistryTest, ABatchReachesTheFileWholeOrNotAtAll)
{
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "old"), ERROR_SUCCESS);
    const std::string before = FileText();
    {
        RegistryBatch batch;
        ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "new"), ERROR_SUCCESS);
        ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options\\Inner", "Other", "x"), ERROR_SUCCESS);
        EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "new");
        EXPECT_EQ(FileText(), before);
    }
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "old");
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options\\Inner", "Other"), "<no key>");

    // A process killed inside a batch leaves the file as it was and its lock free.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    if (child == 0) {
        RegistryBatch batch;
        SetString(HKEY_CURRENT_USER, "Options", "Mode", "half");
        char done = 1;
        [[maybe_unused]] auto written = ::write(ready[1], &done, 1);
        ::pause();
        ::_exit(0);
    }
    char done = 0;
    ASSERT_EQ(::read(ready[0], &done, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_EQ(FileText(), before);

    RegistryBatch batch;
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "whole"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options\\Inner", "Other", "y"), ERROR_SUCCESS);
    ASSERT_EQ(batch.Save(), ERROR_SUCCESS);
    ReloadRegistry();
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "whole");
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options\\Inner", "Other"), "y");

    // A batch over a malformed file saves nothing, so the file stays for mending.
    WriteFile("REGEDIT4\n[HKEY_CURRENT_USER\\Options]\n\"Mode\"=broken\n");
    testing::internal::CaptureStderr();
    RegistryBatch broken;
    SetString(HKEY_CURRENT_USER, "Options", "Mode", "mended?");
    EXPECT_EQ(broken.Save(), ERROR_BADDB);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(FileText(), "REGEDIT4\n[HKEY_CURRENT_USER\\Options]\n\"Mode\"=broken\n");
}

}  // namespace
}  // namespace registry_test
