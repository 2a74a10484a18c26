#include "platform/Files.h"
#include "platform/HostPath.h"
#include "platform/Kernel.h"

#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

// The search state of an exact name: nothing is left to find after the first.
class FindObject final : public harrow::platform::KernelObject {};

// 100-nanosecond steps since 1601, the Win32 file time.
FILETIME FileTime(const timespec& time)
{
    constexpr unsigned long long kSecondsFrom1601To1970 = 11644473600ULL;
    const unsigned long long ticks = (static_cast<unsigned long long>(time.tv_sec) + kSecondsFrom1601To1970) * 10000000ULL +
                                     static_cast<unsigned long long>(time.tv_nsec) / 100;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

HANDLE FindFirstFileA(LPCSTR fileName, WIN32_FIND_DATAA* data)
{
    if (fileName == nullptr || data == nullptr || std::strpbrk(fileName, "*?") != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = harrow::platform::HostPath(fileName);
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (name.empty() || name.size() >= sizeof data->cFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    *data = WIN32_FIND_DATAA{};
    data->dwFileAttributes = S_ISDIR(status.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = FileTime(status.st_ctim);
    data->ftLastAccessTime = FileTime(status.st_atim);
    data->ftLastWriteTime = FileTime(status.st_mtim);
    const auto size = static_cast<unsigned long long>(status.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);
    std::memcpy(data->cFileName, name.c_str(), name.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return harrow::platform::MakeHandle(new FindObject);
}

BOOL FindClose(HANDLE find)
{
    auto* object = harrow::platform::ReferenceHandleAs<FindObject>(find);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->Release();
    return CloseHandle(find);
}
