#include "machine/linux/VirtualBuses.h"

#include "core/transport/NTPortAdapter.h"

namespace harrow::machine {
namespace {

constexpr int kMaxTarget = 255;

// The rule the transport applies to a bus list without an initiator.
int TargetsPerBus()
{
    NTPortAdapter_s adapter;
    SetReportedGeometry(adapter, 1, kNoInitiator);
    return adapter.TargetsPerBus;
}

const int kTargetsPerBus = TargetsPerBus();

}  // namespace

PortPath PathOfTarget(std::uint8_t target)
{
    return PortPath{static_cast<UCHAR>(target / kTargetsPerBus), static_cast<UCHAR>(target % kTargetsPerBus)};
}

std::optional<std::uint8_t> TargetOfPath(const PortPath& path)
{
    const int target = path.pathId * kTargetsPerBus + path.targetId;
    if (path.targetId >= kTargetsPerBus || target > kMaxTarget) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(target);
}

}  // namespace harrow::machine
