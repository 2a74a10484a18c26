// Where a kernel target sits on a Windows port. The NT port transport counts a
// port's targets across its buses (target = PathId x targets per bus +
// TargetId); with one port per kernel channel and buses of 32 targets, the
// target Harrow shows is the kernel's own.
#pragma once

#include "platform/WinTypes.h"

#include <compare>
#include <cstdint>
#include <optional>

namespace harrow::machine {

// sysfs does not tell a host's own ID on its bus, and a guessed 7 would keep
// the transport from probing a unit at target 7: the ports report none.
constexpr UCHAR kNoInitiator = 255;

struct PortPath {
    UCHAR pathId = 0;
    UCHAR targetId = 0;

    auto operator<=>(const PortPath&) const = default;
};

PortPath PathOfTarget(std::uint8_t target);

// Nullopt for a TargetId beyond a bus or a bus beyond target 255.
std::optional<std::uint8_t> TargetOfPath(const PortPath& path);

}  // namespace harrow::machine
