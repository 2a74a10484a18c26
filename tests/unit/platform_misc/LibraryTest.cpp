#include "platform/Kernel.h"
#include "platform/Library.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using harrow::platform::SharedObjectName;

TEST(Library, DllNamesBecomeLowerCaseSharedObjects)
{
    EXPECT_EQ(SharedObjectName("RESDLL.DLL"), "libresdll.so");
    EXPECT_EQ(SharedObjectName("OEMTest.DLL"), "liboemtest.so");
    EXPECT_EQ(SharedObjectName("WnAspi32.dll"), "libwnaspi32.so");
    EXPECT_EQ(SharedObjectName("ORBAMIRAID"), "liborbamiraid.so") << "Windows adds .DLL itself";
    EXPECT_EQ(SharedObjectName("C:\\Windows\\System\\NOXCOMM.DLL"), "libnoxcomm.so");
}

TEST(Library, LoadsFromTheExecutablesFolderAndFindsExports)
{
    HMODULE module = LoadLibraryA("TESTRES.DLL");
    ASSERT_NE(module, nullptr);
    using Answer = int (*)();
    auto answer = reinterpret_cast<Answer>(GetProcAddress(module, "TestresAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    char path[4096];
    DWORD length = GetModuleFileNameA(module, path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_TRUE(std::string(path).ends_with("/libtestres.so")) << path;
    char exe[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    EXPECT_EQ(std::string(path).substr(0, std::string(path).rfind('/')),
              std::string(exe).substr(0, std::string(exe).rfind('/')));

    char small[5];
    EXPECT_EQ(GetModuleFileNameA(module, small, sizeof small), sizeof small) << "a cut name returns the size";
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(std::strlen(small), 4u);

    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryA("NOSUCHLIBRARY.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(Library, LoadStringCopiesCutsAndReportsMissingStrings)
{
    HMODULE module = LoadLibraryA("testres.dll");
    ASSERT_NE(module, nullptr);
    char text[64];
    EXPECT_EQ(LoadStringA(module, 4014, text, sizeof text), 19);
    EXPECT_STREQ(text, "Harrow Test Product");
    EXPECT_EQ(LoadStringA(module, 4014, text, 7), 6);
    EXPECT_STREQ(text, "Harrow");
    EXPECT_EQ(LoadStringA(module, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(LoadStringA(module, 9999, text, sizeof text), 0);
    EXPECT_EQ(GetLastError(), ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(LoadStringA(module, 4014, text, 0), 0);
    EXPECT_TRUE(FreeLibrary(module));
}

}  // namespace
