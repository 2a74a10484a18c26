#include "machine/linux/LinuxPortDevice.h"

#include "machine/linux/HostListing.h"
#include "machine/linux/SgPassThrough.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace harrow::machine {
namespace {

constexpr std::uint32_t kPageSize = 4096;

// Asks the kernel to scan every channel, target and LUN of the host.
int WriteScanRequest(const std::filesystem::path& scanFile)
{
    constexpr std::string_view kAll = "- - -";
    const int fd = ::open(scanFile.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const bool written = ::write(fd, kAll.data(), kAll.size()) == static_cast<ssize_t>(kAll.size());
    const int result = written ? 0 : errno;
    return ::close(fd) != 0 && result == 0 ? errno : result;
}

}  // namespace

LinuxPortDevice::LinuxPortDevice(std::shared_ptr<const LinuxHostAccess> access, std::uint8_t host)
    : m_access(std::move(access)), m_host(host)
{
}

BOOL LinuxPortDevice::IoControl(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                                DWORD* bytesReturned, DWORD* error)
{
    *bytesReturned = 0;
    switch (code) {
    case IOCTL_SCSI_GET_INQUIRY_DATA: return InquiryData(out, outSize, bytesReturned, error);
    case IOCTL_SCSI_GET_CAPABILITIES: return Capabilities(out, outSize, bytesReturned, error);
    case IOCTL_SCSI_RESCAN_BUS: return RescanBus(bytesReturned, error);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT: return PassThrough(in, inSize, out, outSize, bytesReturned, error);
    default: *error = ERROR_INVALID_FUNCTION; return FALSE;
    }
}

BOOL LinuxPortDevice::InquiryData(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const
{
    const SysfsTopology topology = SysfsTopology::Read(m_access->sysRoot);
    const SysfsHost* host = topology.FindHost(m_host);
    if (host == nullptr) {
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return FALSE;
    }
    const std::vector<BYTE> info = BuildBusInfo(ListHost(*host));
    if (out == nullptr || outSize < info.size()) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    std::memcpy(out, info.data(), info.size());
    *bytesReturned = static_cast<DWORD>(info.size());
    return TRUE;
}

BOOL LinuxPortDevice::Capabilities(void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error) const
{
    const SysfsTopology topology = SysfsTopology::Read(m_access->sysRoot);
    const SysfsHost* host = topology.FindHost(m_host);
    if (host == nullptr) {
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return FALSE;
    }
    IO_SCSI_CAPABILITIES capabilities{};
    if (out == nullptr || outSize < sizeof capabilities) {
        *error = ERROR_INSUFFICIENT_BUFFER;
        return FALSE;
    }
    capabilities.Length = sizeof capabilities;
    capabilities.MaximumPhysicalPages = host->sgTableSize;
    capabilities.MaximumTransferLength = static_cast<ULONG>(std::min<std::uint64_t>(host->MaxTransferBytes(kPageSize),
                                                                                    0xFFFFFFFFu));
    std::memcpy(out, &capabilities, sizeof capabilities);
    *bytesReturned = sizeof capabilities;
    return TRUE;
}

BOOL LinuxPortDevice::RescanBus(DWORD* bytesReturned, DWORD* error) const
{
    const auto scanFile = m_access->sysRoot / "class" / "scsi_host" / ("host" + std::to_string(m_host)) / "scan";
    if (const int failure = WriteScanRequest(scanFile); failure != 0) {
        *error = Win32ErrorOf(failure);
        return FALSE;
    }
    *bytesReturned = 0;
    return TRUE;
}

BOOL LinuxPortDevice::PassThrough(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesReturned,
                                  DWORD* error) const
{
    PassThroughCall call;
    if (const DWORD invalid = CheckPassThrough(in, inSize, out, outSize, kAnyLength, &call); invalid != 0) {
        *error = invalid;
        return FALSE;
    }
    const UnitAddress address{m_host, call.request.PathId, call.request.TargetId, call.request.Lun};
    return m_access->PassThrough(address, call, bytesReturned, error);
}

}  // namespace harrow::machine
