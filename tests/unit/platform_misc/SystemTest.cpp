#include "platform/Kernel.h"
#include "platform/Library.h"
#include "platform/System.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

OSVERSIONINFOA Version()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExA(&info));
    return info;
}

TEST(System, WindowsVersionFollowsHarrowWinver)
{
    struct Case {
        const char* value;
        DWORD major, minor, platform, buildLow;
    };
    for (const Case& c : {Case{"95", 4, 0, VER_PLATFORM_WIN32_WINDOWS, 950}, Case{"98", 4, 10, VER_PLATFORM_WIN32_WINDOWS, 1998},
                          Case{"ME", 4, 90, VER_PLATFORM_WIN32_WINDOWS, 3000}, Case{"nt4", 4, 0, VER_PLATFORM_WIN32_NT, 1381},
                          Case{"2000", 5, 0, VER_PLATFORM_WIN32_NT, 2195}, Case{"xp", 5, 1, VER_PLATFORM_WIN32_NT, 2600},
                          Case{"", 5, 0, VER_PLATFORM_WIN32_NT, 2195}}) {
        ::setenv("HARROW_WINVER", c.value, 1);
        OSVERSIONINFOA info = Version();
        EXPECT_EQ(info.dwMajorVersion, c.major) << c.value;
        EXPECT_EQ(info.dwMinorVersion, c.minor) << c.value;
        EXPECT_EQ(info.dwPlatformId, c.platform) << c.value;
        EXPECT_EQ(info.dwBuildNumber & 0xFFFF, c.buildLow) << c.value;
    }

    ::setenv("HARROW_WINVER", "vista", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Version().dwMajorVersion, 5u);
    EXPECT_EQ(Version().dwMinorVersion, 0u);
    std::string told = testing::internal::GetCapturedStderr();
    EXPECT_NE(told.find("HARROW_WINVER=vista"), std::string::npos) << told;
    EXPECT_EQ(told.find("harrow:"), told.rfind("harrow:")) << "said once: " << told;
    ::unsetenv("HARROW_WINVER");

    OSVERSIONINFOA wrong{};
    wrong.dwOSVersionInfoSize = 20;
    EXPECT_FALSE(GetVersionExA(&wrong));
    EXPECT_EQ(sizeof(OSVERSIONINFOA), 148u);
}

TEST(System, WindowsAndSystemFoldersAreMadeUnderHarrowWindir)
{
    const std::string home = test_support::MakeTestHome("windir").string();
    const std::string windows = home + "/windows";

    char folder[512];
    UINT length = GetSystemDirectoryA(folder, sizeof folder);
    EXPECT_EQ(std::string(folder), windows + "/system");
    EXPECT_EQ(length, windows.size() + 7);
    EXPECT_TRUE(std::filesystem::is_directory(windows + "/system"));
    char small[4];
    EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), windows.size() + 1) << "the size needed, with terminator";

    ::unsetenv("HARROW_WINDIR");
    EXPECT_GT(GetWindowsDirectoryA(folder, sizeof folder), 0u);
    EXPECT_EQ(std::string(folder), home + "/data/harrow/windows");
    std::filesystem::remove_all(home);
}

TEST(System, OurBinariesCarryTheProjectVersion)
{
    char exe[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    DWORD handle = 1;
    DWORD size = GetFileVersionInfoSizeA(exe, &handle);
    ASSERT_GT(size, 0u);
    EXPECT_EQ(handle, 0u);
    std::string block(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoA(exe, 0, size, block.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", &value, &length));
    ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
    auto* fixed = static_cast<VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(HARROW_VERSION_MAJOR << 16 | HARROW_VERSION_MINOR));
    EXPECT_EQ(fixed->dwFileVersionLS >> 16, static_cast<DWORD>(HARROW_VERSION_PATCH));
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904b0\\FileVersion", &value, &length));
    EXPECT_STREQ(static_cast<char*>(value), HARROW_VERSION);
    EXPECT_FALSE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904B0\\Nothing", &value, &length));

    std::string text = std::string(exe) + ".not-a-binary.txt";
    std::ofstream(text) << "plain text";
    EXPECT_EQ(GetFileVersionInfoSizeA(text.c_str(), &handle), 0u);
    std::filesystem::remove(text);
    EXPECT_EQ(GetFileVersionInfoSizeA("/no/such/file", &handle), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

int g_handled = 0;
int Handler(const char* text, const char* caption, UINT type)
{
    ++g_handled;
    return std::strcmp(text, "Go?") == 0 && std::strcmp(caption, "Q") == 0 && type == MB_YESNO ? IDNO : IDCANCEL;
}
int Pump(int maxMessages) { return maxMessages / 2; }

TEST(System, MessageBoxesGoToStderrUnlessAHandlerIsSet)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Drive not ready", "HarrowCLI", MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Format now?", "HarrowCLI", MB_YESNO | MB_ICONQUESTION), IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "HarrowCLI: Drive not ready\nHarrowCLI: Format now?\n");

    harrow::platform::SetMessageBoxHandler(Handler);
    EXPECT_EQ(MessageBoxA(nullptr, "Go?", "Q", MB_YESNO), IDNO);
    EXPECT_EQ(g_handled, 1);
    harrow::platform::SetMessageBoxHandler(nullptr);

    EXPECT_EQ(harrow::platform::PumpMessages(10), 0) << "no pump in a console program";
    harrow::platform::SetMessagePump(Pump);
    EXPECT_EQ(harrow::platform::PumpMessages(10), 5);
    harrow::platform::SetMessagePump(nullptr);
}

}  // namespace
