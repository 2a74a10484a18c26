// The generic long test over a tgtd LUN against a bare libiscsi loop of the
// same VERIFY(10) commands (4,095 blocks, one in flight) on the same LUN, in
// the same run; rounds alternate so both see the same load. Target: the long
// test spends at most 1.15 times the loop's processor time (median of the
// rounds); tgtd's time counts for neither. Passes alternate within a round.
// Needs root and Debian's tgt. Usage: iscsi_long_bench [rounds, default 5]
#include "bench/BenchHome.h"
#include "bench/BenchVerdict.h"
#include "core/system/CComputerSystem.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceRecord.h"
#include "frontend/HostTests.h"
#include "frontend/InitSystem.h"
#include "tests/support/TgtTarget.h"

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using harrow::bench::ProcessCpuSeconds;

constexpr std::uint64_t kLunBytes = 1ull << 30;
constexpr std::uint32_t kBlockBytes = 512;
constexpr std::uint32_t kChunk = 4095;
constexpr int kLun = 1;
constexpr double kTarget = 1.15;
constexpr int kPasses = 30;  // of each a round: one pass takes only milliseconds

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Processor seconds of one pass of VERIFY(10) over the LUN, libiscsi's synchronous calls only.
double BareLoop(iscsi_context* iscsi)
{
    constexpr std::uint64_t blocks = kLunBytes / kBlockBytes;
    const double start = ProcessCpuSeconds();
    for (std::uint64_t lba = 0; lba < blocks; lba += kChunk) {
        const auto count = static_cast<std::uint16_t>(std::min<std::uint64_t>(kChunk, blocks - lba));
        std::array<unsigned char, 10> cdb{0x2F, 0, static_cast<unsigned char>(lba >> 24),
                                          static_cast<unsigned char>(lba >> 16), static_cast<unsigned char>(lba >> 8),
                                          static_cast<unsigned char>(lba), 0, static_cast<unsigned char>(count >> 8),
                                          static_cast<unsigned char>(count), 0};
        scsi_task* task = scsi_create_task(static_cast<int>(cdb.size()), cdb.data(), SCSI_XFER_NONE, 0);
        scsi_task* done = task != nullptr ? iscsi_scsi_command_sync(iscsi, kLun, task, nullptr) : nullptr;
        const bool good = done != nullptr && done->status == SCSI_STATUS_GOOD;
        if (task != nullptr) {
            scsi_free_scsi_task(task);
        }
        if (!good) {
            std::fprintf(stderr, "bare VERIFY at LBA %llu failed: %s\n", static_cast<unsigned long long>(lba),
                         iscsi_get_error(iscsi));
            std::exit(1);
        }
    }
    return ProcessCpuSeconds() - start;
}

// Processor seconds of GenericLongTest over the same LUN through the front end.
double LongTest()
{
    DeviceRecord record;
    record.hostAdapter = 0;
    record.target = 0;
    record.lun = kLun;
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::close(null);
    const double start = ProcessCpuSeconds();
    const int result = GenericLongTest(record);
    const double seconds = ProcessCpuSeconds() - start;
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    if (result != HOST_TEST_PASSED) {
        std::fprintf(stderr, "the generic long test failed: %s\n", record.statusText.c_str());
        std::exit(1);
    }
    return seconds;
}

fs::path MakeHome(const std::string& url)
{
    const fs::path home = harrow::bench::MakeBenchHome("harrow-bench");
    setenv("HARROW_MACHINE", url.c_str(), 1);
    setenv("HARROW_STATE", (home / "state").c_str(), 1);
    setenv("HARROW_REGISTRY", (home / "registry.reg").c_str(), 1);
    setenv("HARROW_WINDIR", (home / "windows").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / "xdg").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "xdg").c_str(), 1);
    setenv("XDG_STATE_HOME", (home / "xdg").c_str(), 1);
    return home;
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string why;
    auto target = harrow::testing::TgtTarget::Start({kLunBytes}, &why);
    if (!target) {
        std::fprintf(stderr, "tgtd cannot be started: %s\n", why.c_str());
        return 1;
    }
    const fs::path home = MakeHome(target->Url());
    iscsi_context* iscsi = iscsi_create_context("iqn.2026-12.org.harrow:bench");
    if (iscsi == nullptr) {
        std::fprintf(stderr, "no libiscsi context\n");
        return 1;
    }
    iscsi_set_targetname(iscsi, harrow::testing::TgtTarget::kIqn);
    iscsi_set_session_type(iscsi, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(iscsi, ISCSI_HEADER_DIGEST_NONE);
    const std::string portal = "127.0.0.1:" + std::to_string(target->Port());
    if (iscsi_full_connect_sync(iscsi, portal.c_str(), kLun) != 0) {
        std::fprintf(stderr, "bare login failed: %s\n", iscsi_get_error(iscsi));
        return 1;
    }
    if (!InitSystem("Harrow Viraradiza")) {
        std::fprintf(stderr, "the computer system could not be initialised\n");
        return 1;
    }
    SharedBuffer();

    std::vector<double> bare;
    std::vector<double> ours;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        double bareSeconds = 0;
        double ourSeconds = 0;
        for (int pass = 0; pass < kPasses; ++pass) {
            bareSeconds += BareLoop(iscsi);
            ourSeconds += LongTest();
        }
        bare.push_back(bareSeconds);
        ours.push_back(ourSeconds);
        ratios.push_back(ours.back() / bare.back());
        std::printf("round %d: CPU of libiscsi loop %.3f s   long test %.3f s   ratio %.2f\n", round + 1, bare.back(),
                    ours.back(), ratios.back());
    }
    CComputerSystem::Destroy();
    iscsi_logout_sync(iscsi);
    iscsi_destroy_context(iscsi);
    target.reset();
    fs::remove_all(home);

    const double ratio = Median(ratios);
    std::printf("VERIFY(10) of %u blocks over a %llu MiB tgtd LUN; medians of %d rounds of %d passes\n", kChunk,
                static_cast<unsigned long long>(kLunBytes >> 20), rounds, kPasses);
    std::printf("CPU: libiscsi loop %.3f s, long test %.3f s\n", Median(bare), Median(ours));
    harrow::bench::Verdicts verdicts;
    verdicts.Check("generic long test / libiscsi VERIFY loop, CPU", ratio, harrow::bench::Bound::AtMost, kTarget);
    return verdicts.ExitStatus();
}
