// How a pass-through reaches the kernel: SG_IO on an open /dev/sg node. Kept
// behind an interface so the machine can be driven without real hardware.
#pragma once

#include <scsi/sg.h>

#include <string>

namespace harrow::machine {

class SgIo {
public:
    virtual ~SgIo() = default;

    // An open descriptor of the node, or the negated errno.
    virtual int Open(const std::string& node) = 0;
    // 0 when the ioctl ran (the header then tells how the command went),
    // else its errno.
    virtual int Send(int descriptor, sg_io_hdr& header) = 0;
    virtual void Close(int descriptor) = 0;
};

class KernelSgIo final : public SgIo {
public:
    int Open(const std::string& node) override;
    int Send(int descriptor, sg_io_hdr& header) override;
    void Close(int descriptor) override;
};

}  // namespace harrow::machine
