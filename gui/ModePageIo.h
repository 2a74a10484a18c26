#pragma once

#include "frontend/DeviceRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Page controls of MODE SENSE besides kPageCurrent and kPageDefault.
constexpr int kPageChangeable = 1;

// A mode page as the preference pages hold it: the last four block-descriptor
// bytes, then the page itself, so page byte n sits at PageByte(n).
class WorkingPage {
public:
    static constexpr std::size_t kPageStart = 4;
    static constexpr std::size_t kCapacity = 255 - 8;

    std::uint8_t& PageByte(std::size_t n) { return m_bytes.at(kPageStart + n); }
    std::uint8_t PageByte(std::size_t n) const { return m_bytes.at(kPageStart + n); }
    std::uint8_t* Data() { return m_bytes.data(); }
    // The page's own length byte plus the header and the page's first two bytes.
    std::size_t SelectLength() const { return PageByte(1) + kPageStart + 2; }

private:
    std::array<std::uint8_t, kCapacity> m_bytes{};
};

// MODE SENSE(6) of one page with a 2-second time-out; keeps `count` bytes
// from byte 8 of the reply. False on failure, with the sense bytes in the record.
bool ReadPreferencePage(DeviceRecord& record, int pageCode, int pageControl, WorkingPage& page, std::size_t count);

// MODE SELECT(6), page format and save pages, of the first `length` working
// bytes; bytes 0 to 3 become a header without block descriptor. The outcome
// (0 = good); on failure the sense bytes go to the record.
int ModeSelectPage(DeviceRecord& record, WorkingPage& page, std::size_t length);

// "KK / AA / QQ", then " FRU Code FF" when the FRU code is not zero, from the record's sense.
std::string SenseValues(const DeviceRecord& record);
