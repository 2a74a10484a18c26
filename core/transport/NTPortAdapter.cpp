#include "core/transport/NTPortAdapter.h"

#include <algorithm>
#include <cctype>
#include <string_view>

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

bool StartsWithNoCase(const std::string& text, std::string_view prefix)
{
    if (text.size() < prefix.size()) {
        return false;
    }
    return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    });
}

}  // namespace

void SetReportedGeometry(NTPortAdapter_s& adapter, int buses, int initiatorOfBus0)
{
    adapter.Buses = buses;
    adapter.InitiatorId = initiatorOfBus0;
    adapter.TargetsPerBus = initiatorOfBus0 < kNarrowTargets ? kNarrowTargets : kWideTargets;
    adapter.BasePath = 0;
}

void ApplyDriverNameCorrections(NTPortAdapter_s& adapter)
{
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

std::optional<NTPortPath_s> MapTarget(const NTPortAdapter_s& adapter, int target)
{
    if (target < 0 || adapter.TargetsPerBus <= 0) {
        return std::nullopt;
    }
    const int path = target / adapter.TargetsPerBus + adapter.BasePath;
    if (path > kMaxPathId) {
        return std::nullopt;
    }
    return NTPortPath_s{static_cast<unsigned char>(path), static_cast<unsigned char>(target % adapter.TargetsPerBus)};
}
