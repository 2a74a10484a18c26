#pragma once

#include "frontend/DeviceRecord.h"

#include <cstdint>

// Outcome of a test the host runs on a drive (also kept in the record's lastResult).
enum HostTestError : int {
    HOST_TEST_PASSED = 0,
    HOST_TEST_NO_CAPACITY = 1,
    HOST_TEST_READ_FAILED = 2,
    HOST_TEST_SEEK_FAILED = 3,
    HOST_TEST_ABORTED = 4,
};

// Timed sequential reads at both ends of the drive, random reads and random
// seeks; each phase lasts 30 s times the record's percentage (0 = 100). A
// drive refusing SEEK has its seek phase skipped. A drive past 32-bit LBAs
// is tested with the 16-byte commands.
int GenericShortTest(DeviceRecord& record);

// VERIFY of the drive from LBA 0 up to the record's percentage of it (0 = 100).
int GenericLongTest(DeviceRecord& record);

// A pseudo-random LBA in [low, high]; the same sequence in every run and thread.
std::uint32_t RandomLba(std::uint32_t low, std::uint32_t high);
// The same generator over 64-bit LBAs, for drives past 32-bit ones.
std::uint64_t RandomLba64(std::uint64_t low, std::uint64_t high);
