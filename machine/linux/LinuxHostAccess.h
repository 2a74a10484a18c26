// Where the machine reads this computer's SCSI tree and how its commands
// reach the kernel; shared by the machine and every device it opens.
#pragma once

#include "machine/PassThrough.h"
#include "machine/linux/SgIo.h"
#include "machine/linux/SysfsTopology.h"

#include <filesystem>

namespace harrow::machine {

// The kernel refuses transfers beyond a queue's limit itself (EINVAL).
constexpr ULONG kAnyLength = 0xFFFFFFFF;

struct LinuxHostAccess {
    std::filesystem::path sysRoot;
    std::filesystem::path devRoot;
    SgIoCall sgIo;

    // Sends a checked pass-through call to the unit at address, which the
    // answer carries in its PathId, TargetId and Lun. The unit's sg node is
    // looked up now, so a unit removed since the handle was opened fails
    // cleanly with ERROR_DEVICE_NOT_CONNECTED.
    BOOL PassThrough(const UnitAddress& address, const PassThroughCall& call, DWORD* bytesReturned,
                     DWORD* error) const;
};

}  // namespace harrow::machine
