#include "platform/StaticVxd.h"

#include "platform/Registry.h"
#include "platform/System.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <strings.h>

namespace harrow::platform {
namespace {

constexpr const char* kName = "ORBSTB32.VXD";
constexpr const char* kKey = "System\\CurrentControlSet\\Services\\VxD\\ORBSTB32";
constexpr DWORD kGetBlock = 0x9C402404;
constexpr DWORD kPageSize = 4096;
constexpr DWORD kDefaultPages = 128;
// What the driver can lock; a larger "MaxPages" is cut to this.
constexpr DWORD kMostPages = 4096;

// The answer to the block request: the address, then the size after it.
struct BlockAnswer {
    void* address;
    std::uint32_t size;
};

// The one locked block, made when the driver is first opened and kept for
// the life of the process, as the driver keeps it for the life of Windows.
struct LockedBlock {
    void* address = nullptr;
    DWORD size = 0;
};

LockedBlock& Block(DWORD pages)
{
    static LockedBlock block;
    static std::once_flag made;
    std::call_once(made, [pages] {
        block.size = pages * kPageSize;
        block.address = std::aligned_alloc(kPageSize, block.size);
        if (block.address == nullptr) {
            block.size = 0;
        }
    });
    return block;
}

class TransferBufferDriver final : public Device {
public:
    explicit TransferBufferDriver(const LockedBlock& block) : m_block(block) {}

    BOOL IoControl(DWORD code, const void*, DWORD, void* out, DWORD outSize, DWORD* bytesReturned,
                   DWORD* error) override
    {
        if (code != kGetBlock || out == nullptr || outSize < sizeof(BlockAnswer)) {
            *error = code != kGetBlock ? ERROR_INVALID_FUNCTION : ERROR_INSUFFICIENT_BUFFER;
            return FALSE;
        }
        std::memset(out, 0, outSize);
        const BlockAnswer answer{m_block.address, m_block.size};
        std::memcpy(out, &answer, sizeof answer);
        *bytesReturned = outSize;
        return TRUE;
    }

private:
    const LockedBlock& m_block;
};

bool IsWindows9x()
{
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    return GetVersionExA(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
}

// The pages the key asks for, 0 when the VxD is not installed.
DWORD InstalledPages()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return 0;
    }
    char file[64] = {};
    DWORD size = sizeof file - 1;
    DWORD type = 0;
    const bool named = RegQueryValueExA(key, "StaticVxD", nullptr, &type, reinterpret_cast<BYTE*>(file), &size) ==
                           ERROR_SUCCESS &&
                       type == REG_SZ;
    DWORD pages = kDefaultPages;
    size = sizeof pages;
    if (RegQueryValueExA(key, "MaxPages", nullptr, &type, reinterpret_cast<BYTE*>(&pages), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || pages == 0) {
        pages = kDefaultPages;
    }
    RegCloseKey(key);
    char system[4096];
    const UINT length = GetSystemDirectoryA(system, sizeof system);
    if (!named || length == 0 || length >= sizeof system) {
        return 0;
    }
    // Windows finds the file in any letter case.
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(system, error)) {
        if (::strcasecmp(entry.path().filename().c_str(), file) == 0) {
            return std::min(pages, kMostPages);
        }
    }
    return 0;
}

}  // namespace

std::unique_ptr<Device> OpenStaticVxd(const std::string& name)
{
    if (::strcasecmp(name.c_str(), kName) != 0 || !IsWindows9x()) {
        return nullptr;
    }
    const DWORD pages = InstalledPages();
    if (pages == 0) {
        return nullptr;
    }
    return std::make_unique<TransferBufferDriver>(Block(pages));
}

}  // namespace harrow::platform
