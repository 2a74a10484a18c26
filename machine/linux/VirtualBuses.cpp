#include "machine/linux/VirtualBuses.h"

#include "core/transport/NTPortAdapter.h"

namespace harrow::machine {
namespace {

constexpr int kTargetsPerChannel = 256;
constexpr int kMaxPathId = 255;

}  // namespace

VirtualBuses::VirtualBuses(UCHAR initiatorId) : m_initiatorId(initiatorId)
{
    // The same rule the transport applies to the bus list's initiator ID.
    NTPortAdapter_s adapter;
    SetReportedGeometry(adapter, 1, initiatorId);
    m_targetsPerBus = adapter.TargetsPerBus;
}

int VirtualBuses::BusesPerChannel() const
{
    return kTargetsPerChannel / m_targetsPerBus;
}

std::optional<PortPath> VirtualBuses::ToPort(const KernelPath& kernel) const
{
    const int path = kernel.channel * BusesPerChannel() + kernel.target / m_targetsPerBus;
    if (path > kMaxPathId) {
        return std::nullopt;
    }
    return PortPath{static_cast<UCHAR>(path), static_cast<UCHAR>(kernel.target % m_targetsPerBus)};
}

std::optional<KernelPath> VirtualBuses::ToKernel(const PortPath& port) const
{
    if (port.targetId >= m_targetsPerBus) {
        return std::nullopt;
    }
    const int channel = port.pathId / BusesPerChannel();
    const int target = port.pathId % BusesPerChannel() * m_targetsPerBus + port.targetId;
    return KernelPath{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(target)};
}

}  // namespace harrow::machine
