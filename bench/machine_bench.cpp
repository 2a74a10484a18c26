// Speed and memory of the simulated drives on the built-in machine, reached
// the way the programs reach it (CreateFileA, pass-through DeviceIoControl):
// a 64 KiB READ(10) against a pread of 64 KiB from a file of the same folder,
// the cost of TEST UNIT READY, and the peak memory of the process holding the
// machine. The state goes to a temporary folder, so the bench leaves no drive
// behind.
//
// The READ target was once half of a user-space memcpy; a simulated drive
// keeps its blocks in a file, so each READ pays the kernel's copy out of the
// page cache, which memcpy does not, and that target measured the kernel
// (0.24-0.45 as the machine's load went). The baseline is now that same
// kernel copy. A READ also takes the folder's lock, which keeps two processes
// apart, and asks for the written extent: four system calls to pread's one.
// At 0.35 of pread the drive still serves several GiB/s of CPU, far beyond
// any real drive, so a test never waits on the simulation.
#include "bench/BenchVerdict.h"
#include "platform/DeviceNamespace.h"
#include "platform/Files.h"
#include "platform/ntddscsi.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using harrow::bench::Bound;
using harrow::bench::ThreadCpuSeconds;

long PeakKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

void Send(HANDLE drive, std::vector<std::uint8_t> cdb, std::vector<std::uint8_t>& data, UCHAR direction)
{
    SCSI_PASS_THROUGH_DIRECT request{};
    request.Length = sizeof request;
    request.CdbLength = static_cast<UCHAR>(cdb.size());
    request.DataIn = direction;
    request.DataTransferLength = static_cast<ULONG>(data.size());
    request.TimeOutValue = 10;
    request.DataBuffer = data.data();
    std::memcpy(request.Cdb, cdb.data(), cdb.size());
    DWORD returned = 0;
    if (!DeviceIoControl(drive, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, sizeof request,
                         &returned, nullptr) ||
        request.ScsiStatus != 0) {
        std::fprintf(stderr, "command 0x%02X failed\n", cdb[0]);
        std::exit(1);
    }
}

}  // namespace

int main()
{
    const auto state = std::filesystem::temp_directory_path() / ("harrow-bench-" + std::to_string(getpid()));
    ::setenv("HARROW_STATE", state.c_str(), 1);
    ::unsetenv("HARROW_MACHINE");
    harrow::platform::ActiveMachine();
    HANDLE drive = CreateFileA("\\\\.\\PhysicalDrive0", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
    if (drive == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "the built-in machine has no PhysicalDrive0\n");
        return 1;
    }

    constexpr int kRounds = 20000;
    std::vector<std::uint8_t> block(64 * 1024, 0x5A);
    Send(drive, {0x2A, 0, 0, 0, 0, 0, 0, 0, 128, 0}, block, SCSI_IOCTL_DATA_OUT);
    double start = ThreadCpuSeconds();
    for (int i = 0; i < kRounds; ++i) {
        Send(drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 128, 0}, block, SCSI_IOCTL_DATA_IN);
    }
    const double readRate = kRounds * 64.0 / 1024 / (ThreadCpuSeconds() - start);

    const auto copyPath = state / "pread.bin";
    std::ofstream(copyPath, std::ios::binary).write(reinterpret_cast<const char*>(block.data()),
                                                    static_cast<std::streamsize>(block.size()));
    const int copyFd = ::open(copyPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (copyFd < 0) {
        std::perror(copyPath.c_str());
        return 1;
    }
    start = ThreadCpuSeconds();
    for (int i = 0; i < kRounds; ++i) {
        if (::pread(copyFd, block.data(), block.size(), 0) != static_cast<ssize_t>(block.size())) {
            std::perror("pread");
            return 1;
        }
    }
    const double preadRate = kRounds * 64.0 / 1024 / (ThreadCpuSeconds() - start);
    ::close(copyFd);

    constexpr int kUnitReady = 200000;
    std::vector<std::uint8_t> none;
    start = ThreadCpuSeconds();
    for (int i = 0; i < kUnitReady; ++i) {
        Send(drive, {0x00, 0, 0, 0, 0, 0}, none, SCSI_IOCTL_DATA_UNSPECIFIED);
    }
    const double unitReady = (ThreadCpuSeconds() - start) / kUnitReady * 1e6;

    std::printf("READ(10) 64 KiB from a written region: %.0f MiB/s of CPU\n", readRate);
    std::printf("pread 64 KiB from a file:              %.0f MiB/s of CPU\n", preadRate);
    harrow::bench::Verdicts verdicts;
    verdicts.Check("READ(10) / pread of 64 KiB", readRate / preadRate, Bound::AtLeast, 0.35);
    verdicts.Check("TEST UNIT READY, CPU a command", unitReady, Bound::AtMost, 2.0, " us");
    verdicts.Check("peak memory (VmHWM), built-in machine", PeakKiB() / 1024.0, Bound::AtMost, 32.0, " MiB");
    CloseHandle(drive);
    harrow::platform::SetActiveMachine(nullptr);
    std::filesystem::remove_all(state);
    return verdicts.ExitStatus();
}
