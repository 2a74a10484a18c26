#pragma once

#include "frontend/DeviceRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The commands the report pages read a drive with.

constexpr std::size_t kLogPageBytes = 512;
using LogPageBuffer = std::array<std::uint8_t, kLogPageBytes>;

constexpr int kLogSupportedPages = 0x00;
constexpr int kLogTemperature = 0x0D;
constexpr int kLogSelfTestResults = 0x10;
constexpr int kLogPowerOnTime = 0x3E;

// LOG SENSE of the page's cumulative values. A failure marks the drive
// failed and logs "Log Sense Failed: KK / AA / QQ[ FRU Code FF]".
bool ReadLogPage(DeviceRecord& record, int pageCode, LogPageBuffer& page);

// Reads a big-endian field of `width` bytes (at most 8) at `at`.
std::uint64_t BigEndian(const std::uint8_t* bytes, std::size_t at, std::size_t width);

// The power-on time in minutes from log page 3Eh; false when it is unreadable.
bool PowerOnMinutes(DeviceRecord& record, std::uint32_t& minutes);

// INQUIRY of a vital product data page, 128 bytes, 2-second time-out.
constexpr std::size_t kVpdBytes = 128;
bool ReadVpdPage(const DeviceRecord& record, int pageCode, std::array<std::uint8_t, kVpdBytes>& page);
