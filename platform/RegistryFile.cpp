#include "platform/RegistryFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace harrow::platform {
namespace {

namespace fs = std::filesystem;

std::string Reason(const std::string& what, int error) { return what + ": " + std::strerror(error); }

std::string TemporaryPrefix(const fs::path& path) { return path.filename().string() + ".tmp."; }

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

// A rename is durable only once the folder itself is synced.
void SyncFolder(const fs::path& folder)
{
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

std::int64_t Nanoseconds(const struct timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

RegistryFileStamp StampOf(const struct stat& info)
{
    return RegistryFileStamp{true,
                             static_cast<std::uint64_t>(info.st_dev),
                             static_cast<std::uint64_t>(info.st_ino),
                             static_cast<std::int64_t>(info.st_size),
                             Nanoseconds(info.st_mtim),
                             Nanoseconds(info.st_ctim)};
}

}  // namespace

bool RegistryFile::Stamp(RegistryFileStamp* stamp) const
{
    struct stat info {};
    if (::stat(m_path.c_str(), &info) == 0) {
        *stamp = StampOf(info);
        return true;
    }
    *stamp = RegistryFileStamp{};
    return errno == ENOENT || errno == ENOTDIR;
}

bool RegistryFile::Read(std::string* text, RegistryFileStamp* stamp, std::string* error) const
{
    text->clear();
    *stamp = RegistryFileStamp{};
    // Non-blocking, so that a FIFO is refused at once instead of waiting for a writer.
    int fd = ::open(m_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return true;
        }
        *error = Reason("cannot open it", errno);
        return false;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "it is not a regular file";
        ::close(fd);
        return false;
    }
    *stamp = StampOf(info);
    char buffer[16384];
    while (true) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            *error = Reason("cannot read it", errno);
            ::close(fd);
            return false;
        }
        if (got == 0) {
            break;
        }
        text->append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return true;
}

bool RegistryFile::IsReadOnly() const
{
    struct stat info {};
    return ::stat(m_path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0;
}

bool RegistryFile::Lock(std::string* error)
{
    if (m_lockFd >= 0) {
        return true;
    }
    fs::path path(m_path);
    std::error_code ignored;
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ignored);
    }
    std::string lockPath = m_path + ".lock";
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = Reason("cannot open " + lockPath, errno);
        return false;
    }
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            *error = Reason("cannot lock " + lockPath, errno);
            ::close(fd);
            return false;
        }
    }
    m_lockFd = fd;
    return true;
}

void RegistryFile::Unlock()
{
    if (m_lockFd >= 0) {
        ::close(m_lockFd);  // drops the flock
        m_lockFd = -1;
    }
}

void RegistryFile::RemoveLeftovers(const std::string& target)
{
    fs::path path(target);
    fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string prefix = TemporaryPrefix(path);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().filename().string().starts_with(prefix)) {
            fs::remove(entry.path(), error);
        }
    }
}

bool RegistryFile::Target(std::string* target, std::string* error) const
{
    struct stat info {};
    if (::lstat(m_path.c_str(), &info) != 0) {
        *target = m_path;
        return true;
    }
    if (S_ISLNK(info.st_mode)) {
        // A linked registry is written where the link points; the link stays.
        std::error_code failure;
        fs::path resolved = fs::canonical(m_path, failure);
        if (failure || ::stat(resolved.c_str(), &info) != 0) {
            *error = "it is a symbolic link to nothing";
            return false;
        }
        *target = resolved.string();
    } else {
        *target = m_path;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "it is not a regular file, so it is never replaced";
        return false;
    }
    return true;
}

bool RegistryFile::Replace(const std::string& text, std::string* error)
{
    std::string target;
    if (!Target(&target, error)) {
        return false;
    }
    RemoveLeftovers(target);
    fs::path path(target);
    std::string pattern = (path.parent_path() / TemporaryPrefix(path)).string() + "XXXXXX";
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = Reason("cannot make a temporary file beside it", errno);
        return false;
    }
    struct stat old {};
    ::fchmod(fd, ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    int writeError = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        ::unlink(pattern.c_str());
        *error = Reason("cannot write " + pattern, writeError);
        return false;
    }
    if (::rename(pattern.c_str(), target.c_str()) != 0) {
        writeError = errno;
        ::unlink(pattern.c_str());
        *error = Reason("cannot rename " + pattern + " over it", writeError);
        return false;
    }
    SyncFolder(path.has_parent_path() ? path.parent_path() : fs::path("."));
    return true;
}

}  // namespace harrow::platform
