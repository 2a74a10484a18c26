#include "frontend/HostTests.h"

#include "frontend/BlockCdb.h"
#include "frontend/CommandRoutine.h"
#include "frontend/DeviceQueries.h"
#include "frontend/LineLog.h"
#include "frontend/TextFormat.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr LogFlags kNote{true, true, true};
constexpr LogFlags kWithAddress{true, false, true};

constexpr long kMediumTimeout = 2;
constexpr long kVerifyTimeout = 10;
constexpr double kPhaseSeconds = 30.0;
constexpr std::uint32_t kVerifyChunk = 4095;
// VERIFY(16) counts blocks with 32 bits: a drive past 2 TiB is verified in
// 16 times fewer commands, 32 MiB of 512-byte blocks each.
constexpr std::uint32_t kVerifyChunk16 = 65535;
constexpr int kProgressStep = 10;
// Request statuses after which the same command is simply sent again.
constexpr std::uint8_t kStatusRetryA = 0x57;
constexpr std::uint8_t kStatusRetryB = 0x5D;
constexpr DWORD kRetryPauseMs = 5;
constexpr int kRandLimit = 32767;
constexpr int kDrawsBeforeSingles = 25;
// SBC-2 made SEEK obsolete: drives that dropped it answer ILLEGAL REQUEST
// (of any additional sense code), and are no worse for it. RAID logical
// drives behind megaraid_sas answer HARDWARE ERROR, INTERNAL TARGET FAILURE
// (SPC-4 table 62: 44/00) to SEEK alone; their reads still pass.
constexpr int kAscInternalTargetFailure = 0x44;
constexpr int kSeekNotSupported = -1;
constexpr const char* kSeekSkipped = "Random Seek Commands skipped: the drive does not support SEEK";

// Whole seconds of test time: HARROW_TIME_SCALE shortens them as it does every wait.
long long TestSeconds()
{
    const std::chrono::duration<double> since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<long long>(std::floor(since.count() / harrow::platform::TimeScale()));
}

// The C library's generator, one per thread, never seeded.
int NextRandom()
{
    thread_local std::uint32_t state = 1;
    state = state * 214013U + 2531011U;
    return static_cast<int>((state >> 16) & 0x7FFF);
}

// One host test on one drive: its capacity, data buffer and the failing command.
class HostTest {
public:
    explicit HostTest(DeviceRecord& record) : m_record(record) {}

    int Percent() const
    {
        const int percent = static_cast<int>(m_record.percent);
        return percent == 0 ? 100 : percent;
    }

    bool ReadCapacityOrFail()
    {
        if (::ReadCapacity(m_record, m_lastLba, m_blockLength, &m_failed) != 0) {
            return false;
        }
        m_wide = NeedsCdb16(m_lastLba);
        // A block that does not fit the transfer buffer cannot be read safely.
        if (m_blockLength == 0 || m_blockLength > kSharedBufferBytes) {
            std::memset(&m_failed, 0, sizeof m_failed);
            return false;
        }
        m_buffer.resize(m_blockLength);
        return true;
    }

    std::uint64_t LastLba() const { return m_lastLba; }
    bool Wide() const { return m_wide; }

    // A pseudo-random LBA of the whole drive.
    std::uint64_t RandomBlock() const
    {
        return m_wide ? RandomLba64(0, m_lastLba) : RandomLba(0, static_cast<std::uint32_t>(m_lastLba));
    }

    int Read(std::uint64_t lba)
    {
        return Send(ReadBlocks(lba, 1, m_wide), m_buffer.data(), m_blockLength, kMediumTimeout)
                   ? 0
                   : HOST_TEST_READ_FAILED;
    }

    int Seek(std::uint64_t lba)
    {
        // SEEK(10) cannot address a block past 32 bits and SEEK(16) does not
        // exist: a VERIFY(16) of that one block moves the heads there instead.
        if (lba > kLastLbaCdb10) {
            return Send(cdb::Verify16(lba, 1), nullptr, 0, kMediumTimeout) ? 0 : HOST_TEST_SEEK_FAILED;
        }
        if (Send(cdb::Seek10(static_cast<std::uint32_t>(lba)), nullptr, 0, kMediumTimeout)) {
            return 0;
        }
        return SeekRefused(lba) ? kSeekNotSupported : HOST_TEST_SEEK_FAILED;
    }

    int Verify(std::uint64_t lba, std::uint32_t count)
    {
        return Send(VerifyBlocks(lba, count, m_wide), nullptr, 0, kVerifyTimeout) ? 0 : HOST_TEST_READ_FAILED;
    }

    // Status text, state and log line at the end of the test; returns the error.
    int End(int error, bool longTest)
    {
        if (error == HOST_TEST_PASSED) {
            PublishStatus(m_record, TEST_PASSED, PassedText(longTest));
        } else if (error != HOST_TEST_ABORTED) {
            KeepFailure();
            PublishStatus(m_record, TEST_FAILED, FailedText(longTest));
        } else {
            PublishStatus(m_record, m_record.state, m_record.statusText);
        }
        LogLine(m_record.statusText, &m_record, kWithAddress);
        m_record.lastResult = error;
        m_record.testRunning = 0;
        return error;
    }

private:
    // Good, or the failure kept for the end of the test.
    bool Send(const Cdb& cdb, std::uint8_t* data, std::uint32_t length, long timeout)
    {
        for (;;) {
            CdbAnswer answer = SendCdb(m_record, cdb, data, length, timeout);
            if (answer.Good()) {
                return true;
            }
            const std::uint8_t status = answer.block.SRB_Status;
            // An abort request must still end a drive that keeps asking for retries.
            if ((status != kStatusRetryA && status != kStatusRetryB) || m_record.abortRequest != 0) {
                m_failed = answer.block;
                return false;
            }
            Sleep(kRetryPauseMs);
        }
    }

    // A drive without a working SEEK: refused as illegal, or failed as a
    // hardware error while a read of the same block passes.
    bool SeekRefused(std::uint64_t lba)
    {
        const SenseView sense = m_failed.SenseArea.View();
        if (sense.Key() == kSenseKeyIllegalRequest) {
            return true;
        }
        if (sense.Key() != kSenseKeyHardwareError || sense.Asc() != kAscInternalTargetFailure ||
            sense.Ascq() != 0) {
            return false;
        }
        const RequestBlock seekFailure = m_failed;
        if (Read(lba) == 0) {
            return true;
        }
        m_failed = seekFailure;
        return false;
    }

    void KeepFailure()
    {
        m_record.srbStatus = m_failed.SRB_Status;
        m_record.hostStatus = m_failed.SRB_HaStat;
        m_record.targetStatus = m_failed.SRB_TargStat;
        std::memcpy(m_record.sense.data(), &m_failed.SenseArea, m_record.sense.size());
    }

    const char* Name() const { return m_record.isKestrel != 0 ? "Legacy" : "Generic"; }

    std::string PassedText(bool longTest) const
    {
        return longTest ? Format(" %s Long Test Passed", Name()) : Format("%s Short Test Passed", Name());
    }

    std::string FailedText(bool longTest) const
    {
        const std::string what = Format(longTest ? "%s Long Test Failed" : " %s Short Test Failed", Name());
        const SenseView sense(m_record.sense);
        if (!sense.Current()) {
            return what + " No Sense Data Available";
        }
        if (sense.Fru() != 0) {
            return what + Format(" %2.2X / %2.2X / %2.2X FRU Code %2.2X", sense.KeyByte(), sense.Asc(), sense.Ascq(),
                                 sense.Fru());
        }
        return what + Format(" %2.2X / %2.2X / %2.2X", sense.KeyByte(), sense.Asc(), sense.Ascq());
    }

    DeviceRecord& m_record;
    std::uint64_t m_lastLba = 0;
    bool m_wide = false;
    std::uint32_t m_blockLength = 0;
    std::vector<std::uint8_t> m_buffer;
    RequestBlock m_failed{};
};

// The timed phases of the short test; a stop request passes the test at once.
class ShortPhases {
public:
    ShortPhases(DeviceRecord& record, HostTest& test, long long seconds)
        : m_record(record), m_test(test), m_seconds(seconds)
    {
    }

    int Run()
    {
        std::uint64_t count = 0;
        Begin("Performing Sequential Read (start of disk)");
        const long long t0 = TestSeconds();
        // The sequential phase also ends at the end of a small drive.
        int error = Repeat(t0, [&] { return m_test.Read(count++); }, [&] { return count > m_test.LastLba(); });
        if (error != 0 || m_done) {
            return error;
        }
        Begin("Performing Sequential Read (end of disk)");
        const std::uint64_t last = m_test.LastLba();
        for (std::uint64_t lba = last >= count ? last - count : 0;; ++lba) {
            if ((error = Step([&] { return m_test.Read(lba); })) != 0 || m_done || lba == last) {
                return error;
            }
        }
    }

    int RunRandom()
    {
        Begin("Performing Random Read Commands");
        int error = Repeat(TestSeconds(), [&] { return m_test.Read(m_test.RandomBlock()); });
        if (error != 0 || m_done) {
            return error;
        }
        Begin("Performing Random Seek Commands");
        error = Repeat(TestSeconds(), [&] { return m_test.Seek(m_test.RandomBlock()); });
        if (error == kSeekNotSupported) {
            LogLine(kSeekSkipped, &m_record, kNote);
            return 0;
        }
        return error;
    }

    bool Stopped() const { return m_done; }

private:
    void Begin(const char* text)
    {
        PublishStatus(m_record, TEST_RUNNING, text);
        LogLine(text, &m_record, kNote);
    }

    // One command between the stop and abort checks.
    template <typename Command>
    int Step(Command command)
    {
        if (m_record.stopRequest == 1) {
            m_done = true;
            return 0;
        }
        if (const int error = command(); error != 0) {
            return error;
        }
        return m_record.abortRequest != 0 ? HOST_TEST_ABORTED : 0;
    }

    template <typename Command, typename Finished = bool (*)()>
    int Repeat(long long since, Command command, Finished finished = [] { return false; })
    {
        for (;;) {
            if (const int error = Step(command); error != 0 || m_done) {
                return error;
            }
            if (TestSeconds() - since > m_seconds || finished()) {
                return 0;
            }
        }
    }

    DeviceRecord& m_record;
    HostTest& m_test;
    long long m_seconds;
    bool m_done = false;
};

void PrintProgress(std::uint64_t done, std::uint64_t total, int& threshold)
{
    const auto percent = static_cast<int>(done * 100 / total);
    if (percent < 100 && percent >= threshold) {
        PrintPaged(Format("\tVerify is %d%% complete . . .\n", percent));
        threshold = (percent / kProgressStep + 1) * kProgressStep;
    }
}

}  // namespace

std::uint64_t RandomLba64(std::uint64_t low, std::uint64_t high)
{
    if (low >= high) {
        return low;
    }
    // Three 15-bit draws side by side reach 2^45 blocks, 16 PiB of 512-byte blocks.
    const auto draw = static_cast<std::uint64_t>(NextRandom());
    const std::uint64_t value = (draw << 30) | (static_cast<std::uint64_t>(NextRandom()) << 15) |
                                static_cast<std::uint64_t>(NextRandom());
    return low + value % (high - low + 1);
}

std::uint32_t RandomLba(std::uint32_t low, std::uint32_t high)
{
    // Products of two draws reach at most this far.
    constexpr std::uint64_t kLargest = static_cast<std::uint64_t>(kRandLimit) * kRandLimit;
    if (low > high || low > kLargest) {
        return low;
    }
    const auto inRange = [&](std::uint64_t value) { return value >= low && value <= high; };
    for (int draws = 1;; ++draws) {
        const int d = NextRandom();
        const int e = NextRandom();
        const std::uint64_t c = static_cast<std::uint64_t>(d) * static_cast<std::uint64_t>(e);
        if (inRange(c)) {
            return static_cast<std::uint32_t>(c);
        }
        if (draws > kDrawsBeforeSingles) {
            if (inRange(static_cast<std::uint64_t>(d))) {
                return static_cast<std::uint32_t>(d);
            }
            if (inRange(static_cast<std::uint64_t>(e))) {
                return static_cast<std::uint32_t>(e);
            }
        }
    }
}

int GenericShortTest(DeviceRecord& record)
{
    HostTest test(record);
    record.testRunning = 1;
    const int percent = test.Percent();
    const auto seconds = static_cast<long long>(percent * 0.01 * kPhaseSeconds);
    LogLine(Format("Start %d%% Generic Short Test (^C to abort)", percent), &record, kNote);
    if (!test.ReadCapacityOrFail()) {
        return test.End(HOST_TEST_NO_CAPACITY, false);
    }
    ShortPhases phases(record, test, seconds);
    int error = phases.Run();
    if (error == 0 && !phases.Stopped()) {
        error = phases.RunRandom();
    }
    return test.End(error, false);
}

int GenericLongTest(DeviceRecord& record)
{
    HostTest test(record);
    record.testRunning = 1;
    const int percent = test.Percent();
    if (!test.ReadCapacityOrFail()) {
        return test.End(HOST_TEST_NO_CAPACITY, true);
    }
    const std::uint64_t last = test.LastLba();
    // The verify stops at the share of the drive asked for, never past its end.
    const double share = std::clamp(percent * 0.01, 0.0, 1.0);
    const auto end = static_cast<std::uint64_t>(std::floor(share * static_cast<double>(last)));
    LogLine(Format("Starting %d%% Generic Long Test (^C to abort)", percent), &record, kNote);
    int threshold = kProgressStep;
    // Nothing else sets the status until the loop ends, so it is published once.
    PublishStatus(record, TEST_RUNNING, "Performing Sequential Verify Commands");
    const std::uint32_t chunk = test.Wide() ? kVerifyChunk16 : kVerifyChunk;
    for (std::uint64_t start = 0;; start += chunk) {
        record.percent = last != 0 ? static_cast<float>(start) / static_cast<float>(last) * 100.0F : 0.0F;
        const bool final = end < start + chunk;
        const auto count = static_cast<std::uint32_t>(final ? end - start + 1 : chunk);
        if (const int error = test.Verify(start, count); error != 0) {
            return test.End(error, true);
        }
        if (final) {
            return test.End(HOST_TEST_PASSED, true);
        }
        PrintProgress(start + count, end + 1, threshold);
        if (record.abortRequest != 0) {
            return test.End(HOST_TEST_ABORTED, true);
        }
    }
}
