#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Text a device sent (INQUIRY, VPD, log and mode page fields) as it may be
// shown, logged or written to a report: it ends at the first zero byte, and
// every byte outside printable ASCII becomes a blank, so that a drive's escape
// sequences never reach a terminal, a log or a file name.
std::string DeviceText(const std::uint8_t* bytes, std::size_t count);
