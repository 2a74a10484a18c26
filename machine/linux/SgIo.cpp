#include "machine/linux/SgIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace harrow::machine {

int KernelSgIo::Open(const std::string& node)
{
    // O_NONBLOCK: an sg node held exclusively elsewhere fails at once instead
    // of hanging the caller.
    const int descriptor = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return descriptor >= 0 ? descriptor : -errno;
}

int KernelSgIo::Send(int descriptor, sg_io_hdr& header)
{
    return ::ioctl(descriptor, SG_IO, &header) < 0 ? errno : 0;
}

void KernelSgIo::Close(int descriptor)
{
    ::close(descriptor);
}

}  // namespace harrow::machine
