// Where the machine reads this computer's SCSI tree and how its commands
// reach the kernel; shared by the machine and every device it opens.
#pragma once

#include "machine/PassThrough.h"
#include "machine/linux/HostTable.h"
#include "machine/linux/SgNodeTable.h"

#include <filesystem>
#include <memory>

namespace harrow::machine {

// The kernel refuses transfers beyond a queue's limit itself (EINVAL).
constexpr ULONG kAnyLength = 0xFFFFFFFF;

struct LinuxHostAccess {
    std::filesystem::path sysRoot;
    std::shared_ptr<SgNodeTable> nodes;
    std::shared_ptr<HostTable> hosts;

    // Sends a checked pass-through call to the unit at the kernel's address;
    // the answer carries the unit's port path and LUN. A unit removed since
    // the handle was opened fails cleanly with ERROR_DEVICE_NOT_CONNECTED.
    BOOL PassThrough(const UnitAddress& address, const PortPath& path, const PassThroughCall& call,
                     DWORD* bytesReturned, DWORD* error) const;
};

}  // namespace harrow::machine
