// 64 KiB READ(10) through the Nox control block against the NT port
// transport on the same unit, by the processor time of the whole process (the
// Nox library completes requests on threads of its own); and four Nox blocks
// in flight against one on a unit that takes 1 ms a command, by the clock,
// since what is measured there is how far the drive's waits overlap.
#include "bench/BenchVerdict.h"
#include "core/buffers/AlignedBuffer.h"
#include "core/transport/SCSI_NOXIoCtl.h"
#include "core/transport/SCSI_NTPortIoCtl.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

namespace {

constexpr int kReads = 3000;
constexpr int kServedReads = 400;
constexpr int kRounds = 7;
constexpr int kServedRounds = 3;
constexpr int kInFlight = 4;
constexpr unsigned long kReadBytes = 65536;
constexpr unsigned long kReadBlocks = kReadBytes / 512;

// One port the Nox driver serves; the NT port transport reaches it as well.
const char* kMachine = R"({"name": "nox-bench", "ports": [{"driver": "ql12160", "nox": true,
  "units": [{"target": 0, "blocks": 1048576},
             {"target": 1, "blocks": 1048576, "durations": {"command": 0.001}}]}]})";

const CDevAddress kUnit(0, 0, 0, -1, -1, -1);
const CDevAddress kServedUnit(0, 1, 0, -1, -1, -1);

using Clock = double (*)();

double WallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Build(CScsiIoCtl& block, int i, void* data)
{
    const unsigned long lba = (static_cast<unsigned long>(i) % 1024) * kReadBlocks;
    const std::array<BYTE, 10> cdb{0x28, 0, 0, static_cast<BYTE>(lba >> 16), static_cast<BYTE>(lba >> 8),
                                   static_cast<BYTE>(lba), 0, 0, static_cast<BYTE>(kReadBlocks), 0};
    std::memcpy(block.GetCdb(true), cdb.data(), cdb.size());
    block.SetBuffer(data, static_cast<long>(kReadBytes));
    block.CompleteCmd(10, kReadBytes, CScsiIoCtl::kFlagDataIn, 30, lba, kReadBlocks, 0);
}

void Check(Error_t status, int i)
{
    if (status != ERR_CMD_COMPLETE) {
        std::fprintf(stderr, "read %d failed (status %08X)\n", i, static_cast<unsigned>(status));
        std::exit(2);
    }
}

void Start(CScsiIoCtl& block, int i)
{
    if (const Error_t refused = block.DoIO(); refused != ERR_NONE) {
        std::fprintf(stderr, "read %d not started (status %08X)\n", i, static_cast<unsigned>(refused));
        std::exit(2);
    }
}

// Every block keeps one read going; the seconds of one round by the clock given.
double Round(std::vector<std::unique_ptr<CScsiIoCtl>>& blocks, int reads, Clock now)
{
    std::vector<std::vector<BYTE>> data(blocks.size(), std::vector<BYTE>(kReadBytes));
    const double start = now();
    {
        std::vector<bool> busy(blocks.size(), false);
        int started = 0;
        for (int done = 0; done < reads;) {
            for (std::size_t b = 0; b < blocks.size(); ++b) {
                if (busy[b]) {
                    const Error_t status = blocks[b]->IsCommandComplete();
                    if (status == ERR_CMD_PENDING) {
                        continue;
                    }
                    Check(status, done++);
                    busy[b] = false;
                }
                if (started < reads) {
                    Build(*blocks[b], started, data[b].data());
                    Start(*blocks[b], started++);
                    busy[b] = true;
                }
            }
        }
    }
    return now() - start;
}

// The best rounds of each, taken alternately so both see the same machine load; in MiB/s.
std::pair<double, double> Rates(std::vector<std::unique_ptr<CScsiIoCtl>>& a,
                                std::vector<std::unique_ptr<CScsiIoCtl>>& b, int reads, int rounds, Clock now)
{
    double bestA = 1e9;
    double bestB = 1e9;
    for (int round = 0; round < rounds; ++round) {
        bestA = std::min(bestA, Round(a, reads, now));
        bestB = std::min(bestB, Round(b, reads, now));
    }
    const double mib = static_cast<double>(reads) * kReadBytes / (1024.0 * 1024.0);
    return {mib / bestA, mib / bestB};
}

}  // namespace

int main()
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "harrow-nox-bench";
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
        std::vector<std::unique_ptr<CScsiIoCtl>> port;
        port.push_back(std::make_unique<SCSI_NTPortIoCtl>(kUnit, 0));
        std::vector<std::unique_ptr<CScsiIoCtl>> nox;
        nox.push_back(std::make_unique<SCSI_NOXIoCtl>(kUnit, 0));
        std::vector<std::unique_ptr<CScsiIoCtl>> oneTagged;
        oneTagged.push_back(std::make_unique<SCSI_NOXIoCtl>(kServedUnit, 1));
        std::vector<std::unique_ptr<CScsiIoCtl>> tagged;
        for (unsigned char index = 1; index <= kInFlight; ++index) {
            tagged.push_back(std::make_unique<SCSI_NOXIoCtl>(kServedUnit, index));
        }
        if (port[0]->GetStatus() != ERR_NONE || nox[0]->GetStatus() != ERR_NONE ||
            tagged[0]->GetStatus() != ERR_NONE) {
            std::fprintf(stderr, "units 0:0:0 and 0:1:0 not reached by both transports\n");
            return 2;
        }
        const auto [portRate, noxRate] = Rates(port, nox, kReads, kRounds, harrow::bench::ProcessCpuSeconds);
        std::printf("READ(10) 64 KiB: NT port %.1f MiB/s of CPU, Nox %.1f MiB/s of CPU\n", portRate, noxRate);
        verdicts.Check("READ(10) 64 KiB, Nox / NT port, CPU", noxRate / portRate, harrow::bench::Bound::AtLeast, 0.9);
        const auto [one, four] = Rates(oneTagged, tagged, kServedReads, kServedRounds, WallSeconds);
        std::printf("READ(10) 64 KiB at 1 ms a command, Nox blocks in flight: 1 %.1f MiB/s, %d %.1f MiB/s\n", one,
                    kInFlight, four);
        verdicts.Check("READ(10) at 1 ms a command, 4 Nox blocks in flight / 1", four / one,
                       harrow::bench::Bound::AtLeast, 3.0);
    }
    AlignedBuffer::UnregisterBufferMgr();
    std::filesystem::remove_all(dir);
    return verdicts.ExitStatus();
}
