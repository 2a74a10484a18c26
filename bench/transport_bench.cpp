// What the NT port transport adds to a command: TEST UNIT READY and 64 KiB
// READ(10) through SCSI_NTPortIoCtl against the same unit's pass-through
// called directly, on a simulated machine in a temporary folder.
#include "bench/BenchVerdict.h"
#include "core/buffers/AlignedBuffer.h"
#include "core/transport/SCSI_NTPortIoCtl.h"
#include "platform/DeviceNamespace.h"
#include "platform/Files.h"
#include "platform/Registry.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <vector>

namespace {

constexpr int kTurCommands = 20000;
constexpr int kReadCommands = 4000;
constexpr unsigned long kReadBytes = 65536;
constexpr unsigned long kReadBlocks = kReadBytes / 512;
constexpr int kRounds = 5;

const char* kMachine = R"({"name": "bench", "ports": [{"driver": "aic78xx", "units": [{"target": 0, "blocks": 1048576}]}]})";

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
void Compare(int count, const std::function<bool(int)>& server, const std::function<bool(int)>& transport,
             double* serverSeconds, double* transportSeconds)
{
    *serverSeconds = 1e9;
    *transportSeconds = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        *serverSeconds = std::min(*serverSeconds, SecondsFor(count, server));
        *transportSeconds = std::min(*transportSeconds, SecondsFor(count, transport));
    }
}

class DirectUnit {
public:
    DirectUnit()
    {
        DWORD error = 0;
        m_Device = harrow::platform::ActiveMachine().Open("SCSI0:", GENERIC_READ | GENERIC_WRITE, &error);
        if (!m_Device) {
            std::fprintf(stderr, "cannot open SCSI0: (error %u)\n", error);
            std::exit(2);
        }
    }

    bool Send(std::span<const BYTE> cdb, void* data, ULONG length)
    {
        NTPortRequest_s request{};
        request.Spt.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        request.Spt.CdbLength = static_cast<UCHAR>(cdb.size());
        request.Spt.SenseInfoLength = 128;
        request.Spt.DataIn = length != 0 ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_UNSPECIFIED;
        request.Spt.DataTransferLength = length;
        request.Spt.TimeOutValue = 30;
        request.Spt.DataBuffer = data;
        request.Spt.SenseInfoOffset = offsetof(NTPortRequest_s, Sense);
        std::memcpy(request.Spt.Cdb, cdb.data(), cdb.size());
        DWORD returned = 0;
        DWORD error = 0;
        return m_Device->IoControl(IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request, sizeof request,
                                   &returned, &error) &&
               request.Spt.ScsiStatus == 0;
    }

private:
    std::unique_ptr<harrow::platform::Device> m_Device;
};

bool Issue(SCSI_NTPortIoCtl& block, std::span<const BYTE> cdb, void* data, unsigned long length,
           unsigned long lba, unsigned long blocks)
{
    std::memcpy(block.GetCdb(true), cdb.data(), cdb.size());
    block.SetBuffer(data, static_cast<long>(length));
    block.CompleteCmd(static_cast<unsigned char>(cdb.size()), length, length != 0 ? CScsiIoCtl::kFlagDataIn : 0,
                      CScsiIoCtl::GetTimeout(), lba, blocks, 0);
    block.DoIO();
    return block.IsCommandComplete() == ERR_CMD_COMPLETE;
}

BYTE LbaByte(int i, int shift)
{
    return static_cast<BYTE>(((static_cast<unsigned>(i) % 1024) * kReadBlocks) >> shift);
}

}  // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "harrow-transport-bench";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "machine.json") << kMachine;
    setenv("HARROW_MACHINE", (dir / "machine.json").c_str(), 1);
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
        SCSI_NTPortIoCtl block(CDevAddress(0, 0, 0, -1, -1, -1), 0);
        if (block.GetStatus() != ERR_NONE) {
            std::fprintf(stderr, "unit 0:0:0 not reached (status %08X)\n", static_cast<unsigned>(block.GetStatus()));
            return 2;
        }
        DirectUnit unit;
        std::vector<BYTE> data(kReadBytes);

        double server = 0;
        double transport = 0;
        const std::array<BYTE, 6> tur{};
        Compare(
            kTurCommands, [&](int) { return unit.Send(tur, nullptr, 0); },
            [&](int) { return Issue(block, tur, nullptr, 0, 0, 0); }, &server, &transport);
        const double turServerUs = server / kTurCommands * 1e6;
        const double turTransportUs = transport / kTurCommands * 1e6;
        const double turRatio = turTransportUs / turServerUs;
        std::printf("TEST UNIT READY: server %.2f us, transport %.2f us per command\n", turServerUs, turTransportUs);
        verdicts.Check("TEST UNIT READY, transport / server", turRatio, harrow::bench::Bound::AtMost, 2.0);

        auto read = [&](int i) {
            return std::array<BYTE, 10>{0x28, 0, 0, LbaByte(i, 16), LbaByte(i, 8), LbaByte(i, 0),
                                        0,    0, static_cast<BYTE>(kReadBlocks), 0};
        };
        Compare(
            kReadCommands, [&](int i) { return unit.Send(read(i), data.data(), kReadBytes); },
            [&](int i) { return Issue(block, read(i), data.data(), kReadBytes, 0, kReadBlocks); }, &server,
            &transport);
        const double mib = static_cast<double>(kReadCommands) * kReadBytes / (1024.0 * 1024.0);
        const double readServer = mib / server;
        const double readTransport = mib / transport;
        const double readRatio = readTransport / readServer;
        std::printf("READ(10) 64 KiB: server %.1f MiB/s, transport %.1f MiB/s\n", readServer, readTransport);
        verdicts.Check("READ(10) 64 KiB, transport / server", readRatio, harrow::bench::Bound::AtLeast, 0.9);
    }
    AlignedBuffer::UnregisterBufferMgr();
    std::filesystem::remove_all(dir);
    return verdicts.ExitStatus();
}
