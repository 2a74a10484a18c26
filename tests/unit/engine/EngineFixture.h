// Each test gets its own home and a simulated machine of disks on port 0,
// every unit behind a recorder of the commands it is sent, and a computer
// system scanned from it through the NT port, Nox or ASPI transport.
#pragma once

#include "core/devices/CDisk.h"
#include "core/tests/CTestBase.h"
#include "core/types/CEventBase.h"
#include "core/types/CDevAddress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine_test {

struct SeenCommand {
    std::vector<std::uint8_t> cdb;
    std::vector<std::uint8_t> dataOut;  // the first bytes sent, if any

    std::uint8_t Opcode() const { return cdb.empty() ? 0 : cdb[0]; }
    std::uint32_t Lba() const;
    std::uint32_t Blocks() const;
    // The same fields of a 16-byte CDB (SBC-3).
    std::uint64_t Lba16() const;
    std::uint32_t Blocks16() const;
};

// What one unit was sent, in order.
class Recorder {
public:
    void Add(SeenCommand command);
    void Clear();
    std::vector<SeenCommand> All();
    // All but the commands of this opcode, such as the INQUIRY for the drive's
    // Block Limits page that a test sends before its transfers.
    std::vector<SeenCommand> Without(std::uint8_t opcode);
    // (LBA, blocks) of the commands with this opcode.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> Transfers(std::uint8_t opcode);
    // (LBA, blocks) of the 16-byte commands with this opcode.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> Transfers16(std::uint8_t opcode);
    std::size_t Count(std::uint8_t opcode);

private:
    std::mutex m_Lock;
    std::vector<SeenCommand> m_Seen;
};

// What a client of a test sees when it runs the test to its end.
struct Outcome {
    Error_t result = ERR_NONE;
    std::vector<std::string> texts;
    std::vector<Error_t> codes;
};

inline const std::vector<std::string> kNoEvents;

constexpr std::uint8_t kInquiry = 0x12;
constexpr std::uint8_t kRead10 = 0x28;
constexpr std::uint8_t kWrite10 = 0x2A;
constexpr std::uint8_t kSeek10 = 0x2B;
constexpr std::uint8_t kWriteBuffer = 0x3B;
constexpr std::uint8_t kFormatUnit = 0x04;

class EngineFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // units: the JSON array of port 0's units; port: more fields of the port.
    void StartMachine(const std::string& units, const std::string& port = "");
    CDisk* Disk(int target);
    std::list<CDevAddress> Addresses(const std::vector<int>& targets);
    Recorder& Seen(int target) { return *m_Recorders[target]; }
    void ClearSeen();
    // How often each block was sent in commands of this opcode; fails at a
    // command longer than most.
    std::map<std::uint32_t, int> Coverage(int target, std::uint8_t opcode,
                                          std::uint32_t most = UINT32_MAX)
    {
        std::map<std::uint32_t, int> times;
        for (const auto& [lba, blocks] : Seen(target).Transfers(opcode)) {
            EXPECT_LE(blocks, most) << "command at " << lba;
            for (std::uint32_t block = lba; block < lba + blocks; ++block) {
                ++times[block];
            }
        }
        return times;
    }
    // Every block of [first, end) once, and no other.
    static std::map<std::uint32_t, int> Once(std::uint32_t first, std::uint32_t end)
    {
        std::map<std::uint32_t, int> times;
        for (std::uint32_t block = first; block < end; ++block) {
            times[block] = 1;
        }
        return times;
    }

    // Runs the test on a thread of its own and takes its events as a client
    // does; a test that does not end within the limit fails and is cancelled.
    Outcome RunToEnd(CTestBase& test, std::chrono::seconds limit = std::chrono::seconds(30));
    // Runs the test, cancelling it once stop() says so.
    template <class Stop>
    Outcome RunUntil(CTestBase& test, Stop stop);

    std::filesystem::path m_Dir;
    std::map<int, std::shared_ptr<Recorder>> m_Recorders;
    // The transport every adapter of the machine is reached through.
    Driver_t m_Transport = DRV_NTPORT;
};

template <class Stop>
inline Outcome EngineFixture::RunUntil(CTestBase& test, Stop stop)
{
    Outcome outcome;
    std::atomic<bool> done{false};
    std::thread runner([&] {
        outcome.result = test.RunTest();
        done = true;
    });
    auto take = [&] {
        while (CEventBase* event = test.GetError()) {
            outcome.texts.push_back(event->toString());
            outcome.codes.push_back(event->GetErrorCode());
            delete event;
        }
    };
    bool cancelled = false;
    const auto hardStop = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done) {
        take();
        if (!cancelled && stop()) {
            test.CancelTest();
            cancelled = true;
        }
        if (std::chrono::steady_clock::now() > hardStop) {
            std::fprintf(stderr, "a test engine run hangs after its cancellation\n");
            std::abort();  // fail now rather than at ctest's time-out
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    runner.join();
    take();
    return outcome;
}

}  // namespace engine_test
