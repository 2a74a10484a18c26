#pragma once

#include "platform/WinTypes.h"

#include <array>
#include <cstddef>
#include <vector>

// One logical unit a port lists in its inquiry data.
struct NTPortUnit_s {
    static constexpr std::size_t kInquiryBytes = 36;

    UCHAR PathId = 0;
    UCHAR TargetId = 0;
    UCHAR Lun = 0;
    bool Claimed = false;
    // Zero-filled past what the port returned.
    std::array<UCHAR, kInquiryBytes> Inquiry{};
};

struct NTPortBus_s {
    UCHAR LogicalUnits = 0;
    UCHAR InitiatorBusId = 0;
};

// A port's answer to the inquiry-data request, read without trusting it:
// buses and chain entries that do not lie wholly inside the returned bytes
// are cut, and a chain that loops ends where it would revisit an entry.
struct NTPortBusList_s {
    std::vector<NTPortBus_s> Buses;
    std::vector<NTPortUnit_s> Units;
};

NTPortBusList_s ParseBusList(const BYTE* data, std::size_t size);
