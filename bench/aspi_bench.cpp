// What the ASPI route costs against the NT port route: TEST UNIT READY and
// 64 KiB READ(10) through SCSI_ASPIIoCtl and through SCSI_NTPortIoCtl, on
// the built-in machine in a temporary folder. The adapter is idle between
// commands, so the layer runs each one on the calling thread, and that
// thread's processor time measures both sides apart from the shared
// machine's other load.
#include "bench/BenchVerdict.h"
#include "core/buffers/AlignedBuffer.h"
#include "core/transport/SCSI_ASPIIoCtl.h"
#include "core/transport/SCSI_NTPortIoCtl.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace {

constexpr int kTurCommands = 10000;
constexpr int kReadCommands = 1000;
constexpr unsigned long kReadBytes = 65536;
constexpr unsigned long kReadBlocks = kReadBytes / 512;
constexpr int kRounds = 15;

double SecondsFor(int count, const std::function<bool(int)>& command)
{
    const double start = harrow::bench::ThreadCpuSeconds();
    for (int i = 0; i < count; ++i) {
        if (!command(i)) {
            std::fprintf(stderr, "command %d failed\n", i);
            std::exit(2);
        }
    }
    return harrow::bench::ThreadCpuSeconds() - start;
}

// The best of several rounds of each, taken alternately so both see the same machine load.
void Compare(int count, const std::function<bool(int)>& port, const std::function<bool(int)>& aspi,
             double* portSeconds, double* aspiSeconds)
{
    *portSeconds = 1e9;
    *aspiSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        *portSeconds = std::min(*portSeconds, SecondsFor(count, port));
        *aspiSeconds = std::min(*aspiSeconds, SecondsFor(count, aspi));
    }
}

bool Issue(CScsiIoCtl& block, std::span<const BYTE> cdb, void* data, unsigned long length, unsigned long blocks)
{
    std::memcpy(block.GetCdb(true), cdb.data(), cdb.size());
    block.SetBuffer(data, static_cast<long>(length));
    block.CompleteCmd(static_cast<unsigned char>(cdb.size()), length, length != 0 ? CScsiIoCtl::kFlagDataIn : 0,
                      CScsiIoCtl::GetTimeout(), 0, blocks, 0);
    block.DoIO();
    return block.IsCommandComplete() == ERR_CMD_COMPLETE;
}

BYTE LbaByte(int i, int shift)
{
    return static_cast<BYTE>(((static_cast<unsigned>(i) % 256) * kReadBlocks) >> shift);
}

}  // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "harrow-aspi-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("HARROW_MACHINE", "builtin", 1);
    setenv("HARROW_STATE", (dir / "state").c_str(), 1);
    setenv("HARROW_REGISTRY", (dir / "registry.reg").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);

    if (AlignedBuffer::RegisterBufferMgr(BUFMGR_HEAP) != ERR_NONE) {
        std::fprintf(stderr, "no buffer manager\n");
        return 2;
    }
    harrow::bench::Verdicts verdicts;
    {
        const CDevAddress kestrel(0, 0, 0, -1, -1, -1);
        SCSI_NTPortIoCtl port(kestrel, 0);
        SCSI_ASPIIoCtl aspi(kestrel, 0);
        if (port.GetStatus() != ERR_NONE || aspi.GetStatus() != ERR_NONE) {
            std::fprintf(stderr, "unit 0:0:0 not reached (port %08X, ASPI %08X)\n",
                         static_cast<unsigned>(port.GetStatus()), static_cast<unsigned>(aspi.GetStatus()));
            return 2;
        }
        std::vector<BYTE> data(kReadBytes);
        double portSeconds = 0;
        double aspiSeconds = 0;
        const std::array<BYTE, 6> tur{};
        Compare(
            kTurCommands, [&](int) { return Issue(port, tur, nullptr, 0, 0); },
            [&](int) { return Issue(aspi, tur, nullptr, 0, 0); }, &portSeconds, &aspiSeconds);
        const double turPort = portSeconds / kTurCommands * 1e6;
        const double turAspi = aspiSeconds / kTurCommands * 1e6;
        const double turRatio = turAspi / turPort;
        std::printf("TEST UNIT READY: NT port %.2f us, ASPI %.2f us of CPU a command\n", turPort, turAspi);
        verdicts.Check("TEST UNIT READY, ASPI / NT port, CPU", turRatio, harrow::bench::Bound::AtMost, 2.0);

        auto read = [](int i) {
            return std::array<BYTE, 10>{0x28, 0, 0, LbaByte(i, 16), LbaByte(i, 8), LbaByte(i, 0),
                                        0,    0, static_cast<BYTE>(kReadBlocks), 0};
        };
        Compare(
            kReadCommands, [&](int i) { return Issue(port, read(i), data.data(), kReadBytes, kReadBlocks); },
            [&](int i) { return Issue(aspi, read(i), data.data(), kReadBytes, kReadBlocks); }, &portSeconds,
            &aspiSeconds);
        const double mib = static_cast<double>(kReadCommands) * kReadBytes / (1024.0 * 1024.0);
        const double readPort = mib / portSeconds;
        const double readAspi = mib / aspiSeconds;
        const double readRatio = readAspi / readPort;
        std::printf("READ(10) 64 KiB: NT port %.1f MiB/s, ASPI %.1f MiB/s of CPU\n", readPort, readAspi);
        // ASPI adds a fixed cost a command (the layer's set-timeouts request
        // before each one, about 0.2 us here, which the TEST UNIT READY line
        // bounds). Against this in-memory drive's 64 KiB copy of about 4 us
        // that is 5-8 %, and the copy's own spread moves the ratio between
        // 0.86 and 1.00 on a quiet machine; against a real drive's 64 KiB
        // (30 us or more) it is under 1 %. 0.8 still fails on what a user
        // would notice: a second copy of the data halves the ratio.
        verdicts.Check("READ(10) 64 KiB, ASPI / NT port, CPU", readRatio, harrow::bench::Bound::AtLeast, 0.8);
    }
    AlignedBuffer::UnregisterBufferMgr();
    std::filesystem::remove_all(dir);
    return verdicts.ExitStatus();
}
