#include "platform/DeviceNamespace.h"
#include "platform/Files.h"
#include "platform/Kernel.h"
#include "platform/ntddscsi.h"
#include "support/TestHome.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

using harrow::platform::ActiveMachine;
using harrow::platform::SetActiveMachine;

namespace {

class ActiveMachineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test_support::MakeTestHome("active-machine");
        SetActiveMachine(nullptr);
    }

    void TearDown() override
    {
        test_support::LeaveTestHome(dir);
    }

    std::string ErrorFor(const std::string& choice)
    {
        setenv("HARROW_MACHINE", choice.c_str(), 1);
        SetActiveMachine(nullptr);
        try {
            ActiveMachine();
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(made)";
    }

    std::filesystem::path dir;
};

}  // namespace

TEST_F(ActiveMachineTest, BuiltinMachineAnswersThroughTheFileCalls)
{
    unsetenv("HARROW_MACHINE");
    HANDLE port = CreateFileA("\\\\.\\scsi0:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    std::vector<BYTE> list(20480);
    DWORD returned = 0;
    ASSERT_TRUE(DeviceIoControl(port, IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0, list.data(),
                                static_cast<DWORD>(list.size()), &returned, nullptr));
    EXPECT_EQ(list[0], 1);                    // one bus
    EXPECT_EQ(list[4], 4);                    // two Kestrel disks, a tape and a changer
    EXPECT_EQ(returned, 12u + 4 * 48);
    EXPECT_EQ(std::string(list.begin() + 12 + 12 + 8, list.begin() + 12 + 12 + 15), "KESTREL");
    CloseHandle(port);

    HANDLE cdrom = CreateFileA("\\\\.\\CDROM0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(cdrom, INVALID_HANDLE_VALUE);
    SCSI_ADDRESS address{};
    ASSERT_TRUE(DeviceIoControl(cdrom, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address, sizeof address, &returned,
                                nullptr));
    EXPECT_EQ(address.PortNumber, 1);
    EXPECT_EQ(address.PathId, 1);
    CloseHandle(cdrom);

    EXPECT_EQ(CreateFileA("\\\\.\\ORBSTB32.VXD", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "state" / "builtin"));
}

TEST_F(ActiveMachineTest, ChoiceErrorsAreClear)
{
    const auto missing = (dir / "absent.json").string();
    EXPECT_EQ(ErrorFor(missing), missing + ": cannot be opened: No such file or directory");
    const auto bad = (dir / "bad.json").string();
    std::ofstream(bad) << R"({"ports": [{"driver": "x", "units": [{"target": 1, "blocks": -5}]}]})";
    const std::string error = ErrorFor(bad);
    EXPECT_EQ(error.rfind(bad + ": ports[0].units[0].blocks", 0), 0u) << error;
}

TEST_F(ActiveMachineTest, SpecialFilesAreRefusedAtOnceAndABadFileIsReadOnce)
{
    EXPECT_EQ(ErrorFor("/dev/zero"), "/dev/zero: is not a regular file");
    const auto fifo = (dir / "fifo.json").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    // In a child, so that a blocking open fails the test instead of hanging it.
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(ErrorFor(fifo) == fifo + ": is not a regular file" ? 0 : 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            FAIL() << "opening a FIFO as the machine file blocked";
        }
        ::usleep(1000);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // Mending the file changes nothing until the machine is chosen again.
    const auto bad = (dir / "lab.json").string();
    std::ofstream(bad) << R"({"ports": 1})";
    const std::string error = ErrorFor(bad);
    EXPECT_EQ(error, bad + ": ports: must be an array");
    std::ofstream(bad, std::ios::trunc) << R"({"ports": []})";
    DWORD code = 0;
    EXPECT_THROW(ActiveMachine().Open("SCSI0:", 0, &code), std::runtime_error);
    SetActiveMachine(nullptr);
    EXPECT_NO_THROW(ActiveMachine());
}

TEST_F(ActiveMachineTest, MachineFileNamesItsStateFolder)
{
    const auto file = (dir / "bench.json").string();
    std::ofstream(file) << R"({"ports": [{"driver": "symmpi", "units": [{"target": 2, "type": "disk"}]}]})";
    setenv("HARROW_MACHINE", file.c_str(), 1);
    DWORD error = 0;
    EXPECT_TRUE(ActiveMachine().Open("PhysicalDrive0", 0, &error));
    EXPECT_FALSE(ActiveMachine().Open("PhysicalDrive1", 0, &error));
    EXPECT_TRUE(std::filesystem::exists(dir / "state" / "bench" / "p0b0t2l0"));
}
