#pragma once

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Header-only, with internal linkage: the machines check their files against
// this numbering too, and no library exports a copy of it.

// What the NT port driver knows of one SCSI port: its geometry after the
// driver-name corrections, and the names the device map gives it.
struct NTPortAdapter_s {
    static constexpr int NO_INITIATOR = 255;
    static constexpr std::size_t MAX_NAME = 16;

    int Buses = 0;
    int TargetsPerBus = 16;
    int InitiatorId = NO_INITIATOR;
    int BasePath = 0;
    std::string DriverName;
    std::string DeviceName;
    int LogicalUnits = 0;
    // The port's IOCTL_SCSI_GET_CAPABILITIES MaximumTransferLength; 0: it did not say.
    unsigned long MaxTransferBytes = 0;
};

// Where a target number of the device model sits on the port.
struct NTPortPath_s {
    unsigned char PathId;
    unsigned char TargetId;
};

namespace ntport_detail {
namespace {

struct Correction {
    std::string_view prefix;
    bool dropsInitiator;  // initiator "none" and one bus fewer than reported
    int buses;            // fixed bus count when the initiator is kept
    int targetsPerBus;
    int basePath;
};

constexpr Correction kCorrections[] = {
    {"lp6n", true, 0, 31, 1},     {"lp3n", true, 0, 31, 1},    {"lp7n", true, 0, 31, 1},
    {"elxs", true, 0, 31, 1},     {"OrbLPx", true, 0, 31, 1},  {"adpu160m", false, 1, 16, 0},
    {"ql12160", false, 1, 16, 0}, {"sparrow", false, 1, 8, 0}, {"lpxnds", true, 0, 128, 1},
};

constexpr int kNarrowTargets = 16;
constexpr int kWideTargets = 32;
constexpr int kMaxPathId = 255;

inline bool StartsWithNoCase(const std::string& text, std::string_view prefix)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace
}  // namespace ntport_detail

// Geometry from the port's own answer: buses as reported, initiator of bus 0,
// 16 targets per bus for a narrow initiator ID, else 32.
static inline void SetReportedGeometry(NTPortAdapter_s& adapter, int buses, int initiatorOfBus0)
{
    using namespace ntport_detail;
    adapter.Buses = buses;
    adapter.InitiatorId = initiatorOfBus0;
    adapter.TargetsPerBus = initiatorOfBus0 < kNarrowTargets ? kNarrowTargets : kWideTargets;
    adapter.BasePath = 0;
}

// Some miniports report their buses in a way the target numbering must not
// follow; their driver names select the geometry to use instead.
static inline void ApplyDriverNameCorrections(NTPortAdapter_s& adapter)
{
    using namespace ntport_detail;
    for (const Correction& correction : kCorrections) {
        if (!StartsWithNoCase(adapter.DriverName, correction.prefix)) {
            continue;
        }
        if (correction.dropsInitiator) {
            adapter.InitiatorId = NTPortAdapter_s::NO_INITIATOR;
            adapter.Buses = std::max(adapter.Buses - 1, 0);
        } else {
            adapter.Buses = correction.buses;
        }
        adapter.TargetsPerBus = correction.targetsPerBus;
        adapter.BasePath = correction.basePath;
        return;
    }
}

// Null when the target (or the path it lands on) does not fit the request.
static inline std::optional<NTPortPath_s> MapTarget(const NTPortAdapter_s& adapter, int target)
{
    using namespace ntport_detail;
    if (target < 0 || adapter.TargetsPerBus <= 0) {
        return std::nullopt;
    }
    const int path = target / adapter.TargetsPerBus + adapter.BasePath;
    if (path > kMaxPathId) {
        return std::nullopt;
    }
    return NTPortPath_s{static_cast<unsigned char>(path), static_cast<unsigned char>(target % adapter.TargetsPerBus)};
}
