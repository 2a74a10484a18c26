#include "machine/linux/SgIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace harrow::machine {

int RealSgIo(const std::string& node, sg_io_hdr& header)
{
    // O_NONBLOCK: an sg node held exclusively elsewhere fails at once instead
    // of hanging the caller.
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const int result = ::ioctl(fd, SG_IO, &header) < 0 ? errno : 0;
    ::close(fd);
    return result;
}

}  // namespace harrow::machine
