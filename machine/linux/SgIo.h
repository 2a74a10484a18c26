// How a pass-through reaches the kernel: one SG_IO on a /dev/sg node. Kept
// behind a function so the machine can be driven without real hardware.
#pragma once

#include <scsi/sg.h>

#include <functional>
#include <string>

namespace harrow::machine {

// Returns 0 when the ioctl ran (the header then tells how the command went),
// else the errno of the open or the ioctl.
using SgIoCall = std::function<int(const std::string& node, sg_io_hdr& header)>;

int RealSgIo(const std::string& node, sg_io_hdr& header);

}  // namespace harrow::machine
