#include "platform/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harrow::platform {
namespace {

// Why a name that is there is no file to write into; empty when it is one.
std::string Unsuitable(const struct stat& info)
{
    if (S_ISLNK(info.st_mode)) {
        return "it is a symbolic link, which is not followed";
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    if (info.st_nlink > 1) {
        return "it has other names (hard links)";
    }
    return "";
}

}  // namespace

OutputFile OpenOutputFile(const std::string& path, OutputMode mode, std::string* reason)
{
    // Looked at first, so that a device is never opened: opening a tape rewinds it.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (*reason = Unsuitable(info); !reason->empty()) {
            return nullptr;
        }
    }
    // O_NOFOLLOW and O_NONBLOCK keep a name swapped in meanwhile from
    // leading elsewhere or blocking; fstat then checks what was opened.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (mode == OutputMode::Append ? O_APPEND : 0);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
        *reason = errno == ELOOP ? "it is a symbolic link, which is not followed" : std::strerror(errno);
        return nullptr;
    }
    if (::fstat(fd, &info) != 0) {
        *reason = std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    *reason = Unsuitable(info);
    if (reason->empty() && mode == OutputMode::Replace && ::ftruncate(fd, 0) != 0) {
        *reason = std::strerror(errno);
    }
    if (!reason->empty()) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    OutputFile file(::fdopen(fd, mode == OutputMode::Append ? "a" : "w"));
    if (!file) {
        *reason = std::strerror(errno);
        ::close(fd);
    }
    return file;
}

}  // namespace harrow::platform
