#include "platform/ObjectName.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <unistd.h>

namespace harrow::platform {
namespace {

// $XDG_RUNTIME_DIR/harrow-objects, else one folder per user under /tmp.
std::string NameFolder()
{
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime == '/') {
        return std::string(runtime) + "/harrow-objects";
    }
    return "/tmp/harrow-objects-" + std::to_string(::getuid());
}

// Names may hold any character but '\\'; the file name keeps them readable.
std::string FileNameFor(const std::string& name)
{
    std::string file;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            file += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            file += escaped;
        }
    }
    return file;
}

int OpenLocked(const std::string& path, int operation)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, operation) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::unique_ptr<ObjectName> ObjectName::Claim(const std::string& name, bool* existed)
{
    const std::string folder = NameFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    const std::string path = folder + "/" + FileNameFor(name);
    // Holders keep a shared lock; whoever can lock it alone is the first.
    // The guard makes the test and the taking one step for every process.
    const int guard = OpenLocked(path + ".guard", LOCK_EX);
    if (error || guard < 0) {
        std::fprintf(stderr, "harrow: cannot keep the object name \"%s\" in %s\n", name.c_str(), folder.c_str());
        return nullptr;
    }
    int fd = OpenLocked(path, LOCK_EX | LOCK_NB);
    *existed = fd < 0;
    if (fd >= 0) {
        ::flock(fd, LOCK_SH);
    } else {
        fd = OpenLocked(path, LOCK_SH);
    }
    ::close(guard);
    if (fd < 0) {
        std::fprintf(stderr, "harrow: cannot keep the object name \"%s\" in %s\n", name.c_str(), folder.c_str());
        return nullptr;
    }
    return std::unique_ptr<ObjectName>(new ObjectName(fd));
}

ObjectName::~ObjectName() { ::close(m_fd); }

}  // namespace harrow::platform
