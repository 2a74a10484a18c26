#include "RegistryTestSupport.h"

#include "platform/RegistryFile.h"

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace registry_test {
namespace {

using harrow::platform::RegistryKey;
using harrow::platform::RegistryValue;
using harrow::platform::ReloadRegistry;
using harrow::platform::SetActiveMachine;

// Runs body in a child process; the child's exit status is body's result.
pid_t Spawn(const std::function<int()>& body)
{
    pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    return child;
}

int ExitStatus(pid_t child)
{
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(RegistryTest, WritersInTwoProcessesKeepEachOthersValues)
{
    constexpr int kEach = 20;
    auto writer = [](const char* prefix) {
        return [prefix] {
            for (int i = 0; i < kEach; ++i) {
                std::string name = prefix + std::to_string(i);
                if (SetString(HKEY_CURRENT_USER, "Shared", name.c_str(), name) != ERROR_SUCCESS) {
                    return 1;
                }
            }
            return 0;
        };
    };
    pid_t first = Spawn(writer("first"));
    pid_t second = Spawn(writer("second"));
    ASSERT_EQ(ExitStatus(first), 0);
    ASSERT_EQ(ExitStatus(second), 0);

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Shared", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2u * kEach);
    RegCloseKey(key);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Shared", "second19"), "second19");
}

TEST_F(RegistryTest, ReadsFromARootKeySeeAnotherProcessesWrites)
{
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Options", "Mode", "old"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "old");
    pid_t child = Spawn([] { return SetString(HKEY_CURRENT_USER, "Options", "Mode", "new") == ERROR_SUCCESS ? 0 : 1; });
    ASSERT_EQ(ExitStatus(child), 0);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "new");
}

// Sets the file's modification time, as a copy that keeps times would.
void SetModified(const std::string& path, std::time_t seconds)
{
    struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Bytes this thread has taken in with read() and its kin so far.
long long BytesReadByThisThread()
{
    std::ifstream io("/proc/thread-self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    ADD_FAILURE() << "no rchar in /proc/thread-self/io";
    return 0;
}

// A file of about 60 KiB, so that each read of it shows in the count.
std::string LargeRegistryText(const std::string& mode)
{
    std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Options]\n\"Mode\"=\"" + mode + "\"\n";
    for (int i = 0; i < 2000; ++i) {
        text += "\"Filler" + std::to_string(10000 + i) + "\"=\"twenty-bytes-of-text\"\n";
    }
    return text;
}

TEST_F(RegistryTest, AnUnchangedFileIsNotReadAgainButEveryChangeIsSeen)
{
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    WriteFile(LargeRegistryText("old1"));
    SetModified(m_path, hourAgo);
    const auto size = static_cast<long long>(std::filesystem::file_size(m_path));
    ReloadRegistry();
    ASSERT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "old1");

    long long before = BytesReadByThisThread();
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "old1");
    }
    EXPECT_LT(BytesReadByThisThread() - before, size) << "20 opens from a root key read the file again";

    // Another process replaces the file with text of the same size, which
    // then gets the old time back, as a copy that keeps times would.
    pid_t child = Spawn([&] {
        harrow::platform::RegistryFile file(m_path);
        std::string error;
        return file.Lock(&error) && file.Replace(LargeRegistryText("new1"), &error) ? 0 : 1;
    });
    ASSERT_EQ(ExitStatus(child), 0);
    SetModified(m_path, hourAgo);
    ASSERT_EQ(static_cast<long long>(std::filesystem::file_size(m_path)), size);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "new1");

    // An edit in place of the same size and time: only the change time tells.
    std::ofstream(m_path, std::ios::binary | std::ios::trunc) << LargeRegistryText("new2");
    SetModified(m_path, hourAgo);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "new2");

    // Removed, then back.
    std::filesystem::remove(m_path);
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "<no key>");
    WriteFile(LargeRegistryText("new3"));
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "new3");
}

TEST_F(RegistryTest, AFreshlyWrittenFileIsReadOnEveryCall)
{
    // File times move in steps: a second write in the step of the first
    // could keep the stamp, so a fresh stamp is never trusted. A time in the
    // future stands for "just now" without waiting.
    WriteFile(LargeRegistryText("fresh"));
    SetModified(m_path, std::time(nullptr) + 3600);
    const auto size = static_cast<long long>(std::filesystem::file_size(m_path));
    ReloadRegistry();
    ASSERT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "fresh");

    long long before = BytesReadByThisThread();
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(GetString(HKEY_CURRENT_USER, "Options", "Mode"), "fresh");
    }
    EXPECT_GE(BytesReadByThisThread() - before, 3 * size);
}

TEST_F(RegistryTest, AKilledWriterOrALeftoverTemporaryFileNeverDamagesTheStore)
{
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Crash", "before", "kept"), ERROR_SUCCESS);
    std::string leftover = m_path + ".tmp.ABCDEF";
    std::ofstream(leftover) << "REGEDIT4\n[HKEY_CURRENT_USER\\Crash]\n\"half";
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Crash", "before"), "kept");

    int acks[2];
    ASSERT_EQ(::pipe(acks), 0);
    pid_t writer = Spawn([&] {
        ::close(acks[0]);
        for (int i = 0;; ++i) {
            std::string name = "v" + std::to_string(i);
            if (SetString(HKEY_CURRENT_USER, "Crash", name.c_str(), std::string(i % 50, 'x')) != ERROR_SUCCESS) {
                return 1;
            }
            if (::write(acks[1], &i, sizeof i) != sizeof i) {
                return 1;
            }
        }
    });
    ::close(acks[1]);
    int acknowledged = -1;
    while (acknowledged < 15 && ::read(acks[0], &acknowledged, sizeof acknowledged) == sizeof acknowledged) {
    }
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    ::close(acks[0]);
    ASSERT_GE(acknowledged, 15);

    ReloadRegistry();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Crash", 0, KEY_READ, &key), ERROR_SUCCESS);
    for (int i = 0; i <= acknowledged; ++i) {
        std::string name = "v" + std::to_string(i);
        EXPECT_EQ(RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS) << name;
    }
    RegCloseKey(key);

    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "Crash", "after", "ok"), ERROR_SUCCESS);
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(m_path).parent_path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos)
            << "left behind: " << entry.path();
    }
}

TEST_F(RegistryTest, TheDeviceMapComesFromTheMachineAndIsNeverSaved)
{
    std::vector<BYTE> driver = Bytes("aic78xx");
    std::vector<BYTE> device = Bytes("\\Device\\ScsiPort0");
    SetActiveMachine(std::make_unique<FakeMachine>(std::vector<RegistryKey>{
        {"Scsi Port 0", {{"Driver", REG_SZ, driver}, {"DeviceName", REG_SZ, device}}},
        {"Scsi Port 0\\Scsi Bus 0\\Target Id 0", {}},
    }));
    WriteFile("REGEDIT4\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 9]\n\"Driver\"=\"stale\"\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb]\n");
    ReloadRegistry();

    HKEY scsi = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi", 0, KEY_READ, &scsi), ERROR_SUCCESS);
    char name[32];
    EXPECT_EQ(RegEnumKeyA(scsi, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Scsi Port 0");
    EXPECT_EQ(RegEnumKeyA(scsi, 1, name, sizeof name), ERROR_NO_MORE_ITEMS) << "the file's port is not read";
    RegCloseKey(scsi);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0", "Driver"), "aic78xx");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0\\Scsi Bus 0\\Target Id 0",
                        "Missing"),
              "<no value>");

    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0", "Extra", "memory only"),
              ERROR_SUCCESS);
    HKEY volatileKey = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Session", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                              &volatileKey, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(volatileKey);
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, "SOFTWARE\\Orb", "Saved", "yes"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port 0", "Extra"), "memory only")
        << "volatile keys outlive a re-read of the file";
    EXPECT_EQ(FileText(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orb]\n"
                          "\"Saved\"=\"yes\"\n");
}

}  // namespace
}  // namespace registry_test
