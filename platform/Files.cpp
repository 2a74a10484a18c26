#include "platform/Files.h"

#include "platform/DeviceNamespace.h"
#include "platform/HostPath.h"
#include "platform/Kernel.h"
#include "platform/StaticVxd.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace {

using harrow::platform::Device;
using harrow::platform::KernelObject;

constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;

class FileObject final : public KernelObject {
public:
    explicit FileObject(int fd) : m_fd(fd) {}
    ~FileObject() override { ::close(m_fd); }
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

class DeviceObject final : public KernelObject {
public:
    explicit DeviceObject(std::unique_ptr<Device> device) : m_device(std::move(device)) {}
    Device& Target() const { return *m_device; }

private:
    std::unique_ptr<Device> m_device;
};

// The object behind a handle, held for the length of one call. Both kinds
// are final, so their type is told by typeid: a dynamic_cast on every
// DeviceIoControl cost more than the rest of the call.
class Referenced {
public:
    explicit Referenced(HANDLE handle) : m_object(harrow::platform::ReferenceHandle(handle))
    {
        if (m_object != nullptr) {
            const std::type_info& type = typeid(*m_object);
            m_file = type == typeid(FileObject) ? static_cast<FileObject*>(m_object) : nullptr;
            m_device = type == typeid(DeviceObject) ? static_cast<DeviceObject*>(m_object) : nullptr;
        }
        if (m_object != nullptr && m_file == nullptr && m_device == nullptr) {
            m_object->Release();
            m_object = nullptr;
        }
        if (m_object == nullptr) {
            SetLastError(ERROR_INVALID_HANDLE);
        }
    }
    ~Referenced()
    {
        if (m_object != nullptr) {
            m_object->Release();
        }
    }
    Referenced(const Referenced&) = delete;
    Referenced& operator=(const Referenced&) = delete;

    explicit operator bool() const { return m_object != nullptr; }
    FileObject* File() const { return m_file; }
    DeviceObject* Device() const { return m_device; }

private:
    KernelObject* m_object;
    FileObject* m_file = nullptr;
    DeviceObject* m_device = nullptr;
};

bool ParentExists(const std::string& path)
{
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code error;
    return parent.empty() || std::filesystem::is_directory(parent, error);
}

DWORD Win32Error(int error, const std::string& path = {})
{
    switch (error) {
    case ENOENT:
        return path.empty() || ParentExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBADF:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_IO_DEVICE;
    }
}

template <class T>
T Fail(DWORD error, T result)
{
    SetLastError(error);
    return result;
}

bool IsDeviceName(const char* name) { return std::string_view(name).starts_with("\\\\.\\"); }

HANDLE OpenDevice(const std::string& name, DWORD access)
{
    DWORD error = ERROR_FILE_NOT_FOUND;
    std::unique_ptr<Device> device = harrow::platform::OpenStaticVxd(name);
    if (device) {
        return harrow::platform::MakeHandle(new DeviceObject(std::move(device)));
    }
    try {
        device = harrow::platform::ActiveMachine().Open(name, access, &error);
    } catch (const std::exception& failure) {
        static std::mutex lock;
        static std::string told;
        std::lock_guard guard(lock);
        if (told != failure.what()) {
            std::fprintf(stderr, "harrow: no devices: %s\n", failure.what());
            told = failure.what();
        }
        return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    if (!device) {
        return Fail(error != ERROR_SUCCESS ? error : ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    return harrow::platform::MakeHandle(new DeviceObject(std::move(device)));
}

int OpenFlags(DWORD access)
{
    bool reads = (access & GENERIC_READ) != 0;
    bool writes = (access & GENERIC_WRITE) != 0;
    return (writes ? (reads ? O_RDWR : O_WRONLY) : O_RDONLY) | O_CLOEXEC;
}

// Opens with the Win32 disposition; *existed tells the ALWAYS kinds apart.
int OpenWithDisposition(const std::string& path, int flags, DWORD disposition, bool* existed)
{
    *existed = false;
    switch (disposition) {
    case CREATE_NEW:
        return ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
    case OPEN_EXISTING:
        return ::open(path.c_str(), flags);
    case TRUNCATE_EXISTING:
        return ::open(path.c_str(), flags | O_TRUNC);
    case CREATE_ALWAYS:
    case OPEN_ALWAYS: {
        int extra = disposition == CREATE_ALWAYS ? O_TRUNC : 0;
        while (true) {
            int fd = ::open(path.c_str(), flags | extra);
            if (fd >= 0 || errno != ENOENT) {
                *existed = fd >= 0;
                return fd;
            }
            fd = ::open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0 || errno != EEXIST) {
                return fd;
            }
        }
    }
    default:
        errno = EINVAL;
        return -1;
    }
}

HANDLE OpenFile(const std::string& path, DWORD access, DWORD disposition)
{
    if (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0) {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    bool existed = false;
    int fd = OpenWithDisposition(path, OpenFlags(access), disposition, &existed);
    if (fd < 0) {
        return Fail(Win32Error(errno, path), INVALID_HANDLE_VALUE);
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(fd);
        return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return harrow::platform::MakeHandle(new FileObject(fd));
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition, DWORD,
                   HANDLE)
{
    if (name == nullptr || *name == '\0') {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
    }
    if (IsDeviceName(name)) {
        return OpenDevice(name + 4, access);
    }
    return OpenFile(harrow::platform::HostPath(name), access, creationDisposition);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, DWORD* bytesRead, LPOVERLAPPED)
{
    DWORD done = 0;
    if (bytesRead != nullptr) {
        *bytesRead = 0;
    }
    Referenced object(file);
    if (!object) {
        return FALSE;
    }
    if (buffer == nullptr && bytesToRead > 0) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (DeviceObject* device = object.Device()) {
        DWORD error = ERROR_SUCCESS;
        BOOL ok = device->Target().Read(buffer, bytesToRead, &done, &error);
        if (bytesRead != nullptr) {
            *bytesRead = done;
        }
        return ok ? TRUE : Fail(error, FALSE);
    }
    auto* bytes = static_cast<char*>(buffer);
    while (done < bytesToRead) {
        ssize_t got = ::read(object.File()->Fd(), bytes + done, bytesToRead - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Fail(Win32Error(errno), FALSE);
        }
        if (got == 0) {
            break;
        }
        done += static_cast<DWORD>(got);
        if (bytesRead != nullptr) {
            *bytesRead = done;
        }
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, DWORD* bytesWritten, LPOVERLAPPED)
{
    DWORD done = 0;
    if (bytesWritten != nullptr) {
        *bytesWritten = 0;
    }
    Referenced object(file);
    if (!object) {
        return FALSE;
    }
    if (buffer == nullptr && bytesToWrite > 0) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    if (DeviceObject* device = object.Device()) {
        DWORD error = ERROR_SUCCESS;
        BOOL ok = device->Target().Write(buffer, bytesToWrite, &done, &error);
        if (bytesWritten != nullptr) {
            *bytesWritten = done;
        }
        return ok ? TRUE : Fail(error, FALSE);
    }
    const auto* bytes = static_cast<const char*>(buffer);
    while (done < bytesToWrite) {
        ssize_t put = ::write(object.File()->Fd(), bytes + done, bytesToWrite - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return Fail(Win32Error(errno), FALSE);
        }
        done += static_cast<DWORD>(put);
        if (bytesWritten != nullptr) {
            *bytesWritten = done;
        }
    }
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE file)
{
    Referenced object(file);
    if (!object) {
        return FALSE;
    }
    if (object.Device() != nullptr) {
        return TRUE;  // devices hold no buffered data of ours
    }
    return ::fsync(object.File()->Fd()) == 0 ? TRUE : Fail(Win32Error(errno), FALSE);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod)
{
    Referenced object(file);
    if (!object) {
        return INVALID_SET_FILE_POINTER;
    }
    if (object.Device() != nullptr) {
        return Fail(ERROR_INVALID_FUNCTION, INVALID_SET_FILE_POINTER);
    }
    int fd = object.File()->Fd();
    // Without a high part the distance is a signed 32-bit number.
    std::int64_t move = distanceHigh != nullptr
                            ? static_cast<std::int64_t>(static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32 |
                                                        static_cast<std::uint32_t>(distance))
                            : distance;
    std::int64_t base = 0;
    if (moveMethod == FILE_CURRENT) {
        base = ::lseek(fd, 0, SEEK_CUR);
    } else if (moveMethod == FILE_END) {
        struct stat status {};
        base = ::fstat(fd, &status) == 0 ? status.st_size : -1;
    } else if (moveMethod != FILE_BEGIN) {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    }
    if (base < 0) {
        return Fail(Win32Error(errno), INVALID_SET_FILE_POINTER);
    }
    std::int64_t target = base + move;
    if (target < 0) {
        return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
    }
    if (distanceHigh == nullptr && target >= static_cast<std::int64_t>(INVALID_SET_FILE_POINTER)) {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
    }
    if (::lseek(fd, target, SEEK_SET) < 0) {
        return Fail(Win32Error(errno), INVALID_SET_FILE_POINTER);
    }
    if (distanceHigh != nullptr) {
        *distanceHigh = static_cast<LONG>(target >> 32);
    }
    auto low = static_cast<DWORD>(target & 0xFFFFFFFF);
    if (low == INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_SUCCESS);  // tells this position from a failure
    }
    return low;
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh)
{
    Referenced object(file);
    if (!object) {
        return INVALID_FILE_SIZE;
    }
    if (object.Device() != nullptr) {
        return Fail(ERROR_INVALID_FUNCTION, INVALID_FILE_SIZE);
    }
    struct stat status {};
    if (::fstat(object.File()->Fd(), &status) != 0) {
        return Fail(Win32Error(errno), INVALID_FILE_SIZE);
    }
    auto size = static_cast<std::uint64_t>(status.st_size);
    if (sizeHigh != nullptr) {
        *sizeHigh = static_cast<DWORD>(size >> 32);
    }
    auto low = static_cast<DWORD>(size & 0xFFFFFFFF);
    if (low == INVALID_FILE_SIZE) {
        SetLastError(ERROR_SUCCESS);
    }
    return low;
}

BOOL DeleteFileA(LPCSTR name)
{
    if (name == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::string path = harrow::platform::HostPath(name);
    return ::unlink(path.c_str()) == 0 ? TRUE : Fail(Win32Error(errno, path), FALSE);
}

BOOL CopyFileA(LPCSTR existing, LPCSTR target, BOOL failIfExists)
{
    if (existing == nullptr || target == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    namespace fs = std::filesystem;
    std::string from = harrow::platform::HostPath(existing);
    std::string to = harrow::platform::HostPath(target);
    std::error_code error;
    if (!fs::exists(from, error)) {
        return Fail(Win32Error(ENOENT, from), FALSE);
    }
    if (!fs::is_regular_file(from, error)) {
        return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    fs::copy_file(from, to, failIfExists ? fs::copy_options::none : fs::copy_options::overwrite_existing, error);
    return error ? Fail(Win32Error(error.value(), to), FALSE) : TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES)
{
    if (path == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    }
    std::string folder = harrow::platform::HostPath(path);
    if (::mkdir(folder.c_str(), 0777) == 0) {
        return TRUE;
    }
    if (errno == EEXIST) {
        return Fail(ERROR_ALREADY_EXISTS, FALSE);
    }
    return Fail(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32Error(errno, folder), FALSE);
}

DWORD GetFileAttributesA(LPCSTR name)
{
    if (name == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER, INVALID_FILE_ATTRIBUTES);
    }
    std::string path = harrow::platform::HostPath(name);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return Fail(Win32Error(errno, path), INVALID_FILE_ATTRIBUTES);
    }
    if (S_ISDIR(status.st_mode)) {
        return FILE_ATTRIBUTE_DIRECTORY;
    }
    return (status.st_mode & S_IWUSR) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer,
                     DWORD outBufferSize, DWORD* bytesReturned, LPOVERLAPPED)
{
    DWORD returned = 0;
    DWORD* answer = bytesReturned != nullptr ? bytesReturned : &returned;
    *answer = 0;
    Referenced object(device);
    if (!object) {
        return FALSE;
    }
    DeviceObject* target = object.Device();
    if (target == nullptr) {
        return Fail(ERROR_INVALID_FUNCTION, FALSE);
    }
    DWORD error = ERROR_SUCCESS;
    if (target->Target().IoControl(ioControlCode, inBuffer, inBufferSize, outBuffer, outBufferSize, answer, &error)) {
        return TRUE;
    }
    return Fail(error != ERROR_SUCCESS ? error : ERROR_IO_DEVICE, FALSE);
}
