#include "machine/linux/LinuxPortDevice.h"

#include "machine/linux/HostListing.h"
#include "machine/linux/SgPassThrough.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace harrow::machine {
namespace {

constexpr std::uint32_t kPageSize = 4096;

// Asks the kernel to scan every target and LUN of one channel of the host.
int WriteScanRequest(const std::filesystem::path& scanFile, std::uint8_t channel)
{
    const std::string request = std::to_string(channel) + " - -";
    const int fd = ::open(scanFile.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno;
    }
    const bool written = ::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size());
    const int result = written ? 0 : errno;
    return ::close(fd) != 0 && result == 0 ? errno : result;
}

}  // namespace

LinuxPortDevice::LinuxPortDevice(std::shared_ptr<const LinuxHostAccess> access, unsigned port, const PortSite& site)
    : m_access(std::move(access)), m_port(port), m_site(site)
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
    const auto topology = m_access->hosts->Topology();
    const SysfsHost* host = topology->FindHost(m_site.host);
    if (host == nullptr) {
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return FALSE;
    }
    const std::vector<BYTE> info = BuildBusInfo(ListChannel(*host, m_site.channel, m_port));
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
    const auto topology = m_access->hosts->Topology();
    const SysfsHost* host = topology->FindHost(m_site.host);
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
    capabilities.MaximumTransferLength = std::min<std::uint64_t>(std::uint64_t{host->sgTableSize} * kPageSize,
                                                                 0xFFFFFFFFu);
    std::memcpy(out, &capabilities, sizeof capabilities);
    *bytesReturned = sizeof capabilities;
    return TRUE;
}

BOOL LinuxPortDevice::RescanBus(DWORD* bytesReturned, DWORD* error) const
{
    // SAS, Fibre Channel, iSCSI, USB, SATA, virtio and RAID drivers tell the
    // kernel of every device that comes or goes; scanning them again only
    // probes each absent target (seconds on some controllers, at every start).
    int failure = 0;
    const auto topology = m_access->hosts->Topology();
    const SysfsHost* host = topology->FindHost(m_site.host);
    if (host == nullptr || host->parallelScsi) {
        failure = WriteScanRequest(
            m_access->sysRoot / "class" / "scsi_host" / ("host" + std::to_string(m_site.host)) / "scan",
            m_site.channel);
    }
    // Read either way: a host that went away is then seen gone.
    m_access->hosts->RereadHost(m_site.host);
    if (failure != 0) {
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
    const PortPath path{call.request.PathId, call.request.TargetId};
    const auto target = TargetOfPath(path);
    if (!target) {
        *error = ERROR_DEVICE_NOT_CONNECTED;
        return FALSE;
    }
    const UnitAddress address{static_cast<std::uint8_t>(m_site.host), m_site.channel, *target, call.request.Lun};
    return m_access->PassThrough(address, path, call, bytesReturned, error);
}

}  // namespace harrow::machine
