#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

enum TestState : std::int32_t {
    TEST_NONE = 0,
    TEST_RUNNING = 1,
    TEST_PASSED = 2,
    TEST_ABORTED = 3,
    TEST_FAILED = 4,
};

// Address forms of a device record.
enum DeviceKind : std::int32_t {
    KIND_PLAIN = 0,
    KIND_RAID = 1,
    KIND_CHANNEL_ALT = 2,
    KIND_CHANNEL = 3,
};

constexpr std::int32_t kNoNumber = 255;
constexpr std::size_t kRecordSenseBytes = 128;

// What a front end knows of one device it works on.
struct DeviceRecord {
    std::int32_t kind = KIND_PLAIN;
    std::int32_t hostAdapter = kNoNumber;
    std::int32_t raidTarget = kNoNumber;
    std::int32_t channel = kNoNumber;
    std::int32_t target = kNoNumber;
    std::int32_t lun = kNoNumber;
    std::uint32_t isKestrel = 0;
    std::uint32_t selected = 0;
    std::int32_t lastResult = 0;
    float percent = 0.0F;
    TestState state = TEST_NONE;
    std::uint8_t hostTestStarted = 0;
    std::uint8_t testRunning = 0;
    std::uint8_t abortRequest = 0;
    std::uint8_t changed = 0;
    std::uint8_t stopRequest = 0;
    std::string logName;
    std::string statusText;
    std::uint8_t srbStatus = 0;
    std::uint8_t hostStatus = 0;
    std::uint8_t targetStatus = 0;
    std::array<std::uint8_t, kRecordSenseBytes> sense{};
    // Set by a front end that shows the status from another thread; held while
    // state, statusText and changed move together.
    std::mutex* statusLock = nullptr;
};

// Sets the state and the status text and marks them changed, as one step for
// a reader holding statusLock.
inline void PublishStatus(DeviceRecord& record, TestState state, std::string text)
{
    std::unique_lock<std::mutex> lock;
    if (record.statusLock != nullptr) {
        lock = std::unique_lock<std::mutex>(*record.statusLock);
    }
    record.state = state;
    record.statusText = std::move(text);
    record.changed = 1;
}
