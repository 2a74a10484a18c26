// How a kernel host's channels and targets become a Windows port's buses.
// The NT port transport numbers a port's targets across its buses (target =
// PathId x targets per bus + TargetId, 16 or 32 a bus by the initiator ID).
// Each kernel channel gets the buses of 256 targets, so Harrow's target is the
// kernel's target on channel 0 and channel x 256 + target beyond it.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>
#include <optional>

namespace harrow::machine {

// The initiator ID of a host that has none on its bus (this_id -1).
constexpr UCHAR kNoInitiator = 255;

struct PortPath {
    UCHAR pathId = 0;
    UCHAR targetId = 0;

    auto operator<=>(const PortPath&) const = default;
};

struct KernelPath {
    std::uint8_t channel = 0;
    std::uint8_t target = 0;
};

class VirtualBuses {
public:
    explicit VirtualBuses(UCHAR initiatorId);

    UCHAR InitiatorId() const { return m_initiatorId; }
    int TargetsPerBus() const { return m_targetsPerBus; }

    // Nullopt when the bus number would not fit a PathId.
    std::optional<PortPath> ToPort(const KernelPath& kernel) const;
    std::optional<KernelPath> ToKernel(const PortPath& port) const;

private:
    int BusesPerChannel() const;

    UCHAR m_initiatorId;
    int m_targetsPerBus;
};

}  // namespace harrow::machine
