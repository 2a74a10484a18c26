// The name of a named kernel object, seen by every process of the user, as
// Windows shows named objects to every process of a session. The name lives
// while a handle to it is open in any process; the object behind it (a
// semaphore's count, for example) is each process's own.
#pragma once

#include <memory>
#include <string>

namespace harrow::platform {

class ObjectName {
public:
    // Takes a share of the name; *existed tells whether another handle,
    // here or in another process, already held it. Null when the name
    // cannot be kept (no folder for names), with the reason on stderr.
    static std::unique_ptr<ObjectName> Claim(const std::string& name, bool* existed);

    ~ObjectName();
    ObjectName(const ObjectName&) = delete;
    ObjectName& operator=(const ObjectName&) = delete;

private:
    explicit ObjectName(int fd) : m_fd(fd) {}
    int m_fd;
};

}  // namespace harrow::platform
