// Speed and memory of the simulated drives on the built-in machine, reached
// the way the programs reach it (CreateFileA, pass-through DeviceIoControl):
// a 64 KiB READ(10) against memcpy, the cost of TEST UNIT READY, and the peak
// memory of the process holding the machine. The state goes to a temporary
// folder, so the bench leaves no drive behind.
#include "platform/DeviceNamespace.h"
#include "platform/Files.h"
#include "platform/ntddscsi.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

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
    auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        Send(drive, {0x28, 0, 0, 0, 0, 0, 0, 0, 128, 0}, block, SCSI_IOCTL_DATA_IN);
    }
    const double readRate = kRounds * 64.0 / 1024 / Seconds(start);
    std::vector<std::uint8_t> copy(block.size());
    start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        block[i % block.size()] = static_cast<std::uint8_t>(i);
        std::memcpy(copy.data(), block.data(), block.size());
    }
    const double copyRate = kRounds * 64.0 / 1024 / Seconds(start);
    volatile std::uint8_t keep = copy[kRounds % copy.size()];  // the copies must happen
    (void)keep;

    constexpr int kUnitReady = 200000;
    std::vector<std::uint8_t> none;
    start = Clock::now();
    for (int i = 0; i < kUnitReady; ++i) {
        Send(drive, {0x00, 0, 0, 0, 0, 0}, none, SCSI_IOCTL_DATA_UNSPECIFIED);
    }
    const double unitReady = Seconds(start) / kUnitReady * 1e6;

    std::printf("READ(10) 64 KiB from a written region: %.0f MiB/s\n", readRate);
    std::printf("memcpy 64 KiB:                         %.0f MiB/s\n", copyRate);
    std::printf("ratio READ/memcpy:                     %.2f (target >= 0.50)\n", readRate / copyRate);
    std::printf("TEST UNIT READY:                       %.2f us/command (target < 2)\n", unitReady);
    std::printf("peak memory (VmHWM), built-in machine: %.1f MiB (target < 32)\n", PeakKiB() / 1024.0);
    CloseHandle(drive);
    harrow::platform::SetActiveMachine(nullptr);
    std::filesystem::remove_all(state);
    return 0;
}
