#include "platform/DeviceNamespace.h"
#include "platform/Files.h"
#include "platform/Kernel.h"
#include "support/FileText.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using harrow::platform::Device;
using harrow::platform::Machine;
using harrow::platform::RegistryKey;

std::atomic<int> g_devicesAlive{0};

// Answers every control code with its input reversed.
class EchoDevice final : public Device {
public:
    EchoDevice() { ++g_devicesAlive; }
    ~EchoDevice() override { --g_devicesAlive; }
    BOOL IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override
    {
        if (code != 0x1234 || outSize < inSize) {
            *error = ERROR_INVALID_PARAMETER;
            return FALSE;
        }
        const auto* from = static_cast<const BYTE*>(in);
        auto* to = static_cast<BYTE*>(out);
        for (DWORD i = 0; i < inSize; ++i) {
            to[i] = from[inSize - 1 - i];
        }
        *bytesReturned = inSize;
        return TRUE;
    }
};

class OnePortMachine final : public Machine {
public:
    explicit OnePortMachine(std::string* lastName) : m_lastName(lastName) {}
    std::unique_ptr<Device> Open(const std::string& name, DWORD, DWORD* error) override
    {
        *m_lastName = name;
        if (name == "SCSI0:" || name == "scsi0:") {
            return std::make_unique<EchoDevice>();
        }
        *error = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    std::vector<RegistryKey> DeviceMap() const override { return {}; }

private:
    std::string* m_lastName;
};

class Files : public ::testing::Test {
protected:
    void SetUp() override { m_folder = test_support::MakeTestHome("files").string(); }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    std::string m_folder;
};

TEST_F(Files, DispositionsFollowWin32)
{
    std::string name = Path("log.txt");
    EXPECT_EQ(CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    std::string deeper = Path("missing/log.txt");
    EXPECT_EQ(CreateFileA(deeper.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);

    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "first", 5, &written, nullptr));
    EXPECT_EQ(written, 5u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);

    file = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), 5u);
    EXPECT_TRUE(WriteFile(file, "+more", 5, &written, nullptr));
    EXPECT_TRUE(FlushFileBuffers(file));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(test_support::ReadText(name), "first+more");

    file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(file, &high), 0u) << "CREATE_ALWAYS empties the file";
    EXPECT_EQ(high, 0u);
    CloseHandle(file);
    EXPECT_EQ(CreateFileA(name.c_str(), GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(CreateFileA(m_folder.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Files, ReadingSeekingAndSizes)
{
    std::string name = Path("data.bin");
    std::ofstream(name, std::ios::binary) << "0123456789";
    std::string windowsName = m_folder + "\\data.bin";
    HANDLE file = CreateFileA(windowsName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << "backslashes separate folders";

    char buffer[16] = {};
    DWORD read = 0;
    EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 2u);
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 8u) << "a read stops at the end of the file";
    EXPECT_STREQ(buffer, "23456789");
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(SetFilePointer(file, -11, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), 131u);  // ERROR_NEGATIVE_SEEK
    LONG high = -1;
    EXPECT_EQ(SetFilePointer(file, -2, &high, FILE_END), 8u) << "high and low make one signed 64-bit distance";
    EXPECT_EQ(high, 0);
    EXPECT_FALSE(WriteFile(file, "x", 1, &read, nullptr)) << "opened for reading only";
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    DWORD returned = 5;
    EXPECT_FALSE(DeviceIoControl(file, 0x1234, buffer, 1, buffer, 1, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(GetFileSize(file, nullptr), 10u);
    CloseHandle(file);
    EXPECT_FALSE(ReadFile(file, buffer, 1, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 1, &read, nullptr));
}

TEST_F(Files, FolderOperations)
{
    std::string folder = Path("sub");
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    EXPECT_FALSE(CreateDirectoryA(Path("a/b").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(folder.c_str()), FILE_ATTRIBUTE_DIRECTORY);

    std::string source = Path("source.txt");
    std::string copy = folder + "\\copy.txt";
    std::ofstream(source) << "payload";
    EXPECT_EQ(GetFileAttributesA(source.c_str()), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(CopyFileA(source.c_str(), copy.c_str(), TRUE));
    EXPECT_EQ(test_support::ReadText(folder + "/copy.txt"), "payload");
    EXPECT_FALSE(CopyFileA(source.c_str(), copy.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    std::ofstream(source) << "newer";
    EXPECT_TRUE(CopyFileA(source.c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(test_support::ReadText(folder + "/copy.txt"), "newer");
    EXPECT_FALSE(CopyFileA(Path("none").c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_TRUE(DeleteFileA(copy.c_str()));
    EXPECT_FALSE(DeleteFileA(copy.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(DeleteFileA(folder.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(Files, DeviceNamesReachTheActiveMachine)
{
    std::string lastName;
    harrow::platform::SetActiveMachine(std::make_unique<OnePortMachine>(&lastName));

    HANDLE port = CreateFileA("\\\\.\\scsi0:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(lastName, "scsi0:") << "the name goes to the machine as written";
    EXPECT_EQ(g_devicesAlive.load(), 1);

    const BYTE in[3] = {1, 2, 3};
    BYTE out[3] = {};
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(port, 0x1234, const_cast<BYTE*>(in), 3, out, 3, &returned, nullptr));
    EXPECT_EQ(returned, 3u);
    EXPECT_EQ(out[0], 3);
    EXPECT_FALSE(DeviceIoControl(port, 0x9999, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DWORD done = 9;
    EXPECT_FALSE(ReadFile(port, out, 3, &done, nullptr)) << "a port does not stream";
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(port, in, 3, &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);

    HANDLE second = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), port, GetCurrentProcess(), &second, 0, FALSE, 0));
    EXPECT_TRUE(CloseHandle(port));
    EXPECT_EQ(g_devicesAlive.load(), 1) << "the device lives while a handle is open";
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_EQ(g_devicesAlive.load(), 0);

    EXPECT_EQ(CreateFileA("\\\\.\\SCSI7:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    harrow::platform::SetActiveMachine(nullptr);
}

}  // namespace
