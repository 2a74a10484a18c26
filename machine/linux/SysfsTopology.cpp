#include "machine/linux/SysfsTopology.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <system_error>

namespace harrow::machine {
namespace fs = std::filesystem;
namespace {

constexpr std::uint8_t kChangerType = 0x08;

std::optional<unsigned> ParseNumber(std::string_view text)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// "2:0:1:0"; units whose numbers do not fit Windows' byte-wide address
// fields are left out.
std::optional<UnitAddress> ParseUnitName(std::string_view name)
{
    std::array<unsigned, 4> parts{};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t colon = i + 1 < parts.size() ? name.find(':') : name.size();
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        const auto number = ParseNumber(name.substr(0, colon));
        if (!number || *number > 255) {
            return std::nullopt;
        }
        parts[i] = *number;
        name.remove_prefix(std::min(colon + 1, name.size()));
    }
    return UnitAddress{static_cast<std::uint8_t>(parts[0]), static_cast<std::uint8_t>(parts[1]),
                       static_cast<std::uint8_t>(parts[2]), static_cast<std::uint8_t>(parts[3])};
}

std::string ReadBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A text attribute without the newline sysfs ends it with.
std::string ReadAttribute(const fs::path& file)
{
    std::string text = ReadBytes(file);
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

void PutField(std::array<std::uint8_t, 36>& inquiry, std::size_t offset, std::size_t width,
              const std::string& text)
{
    for (std::size_t i = 0; i < width; ++i) {
        inquiry[offset + i] = static_cast<std::uint8_t>(i < text.size() ? text[i] : ' ');
    }
}

// The kernel's copy of the INQUIRY data where it keeps one; anything it
// lacks is rebuilt from the unit's type, vendor, model and rev attributes.
std::array<std::uint8_t, 36> ReadInquiry(const fs::path& unitDir, std::uint8_t type)
{
    std::array<std::uint8_t, 36> inquiry{};
    const std::string raw = ReadBytes(unitDir / "inquiry");
    if (raw.size() < inquiry.size()) {
        inquiry[0] = type & 0x1F;
        inquiry[3] = 0x02;  // response data format
        inquiry[4] = static_cast<std::uint8_t>(inquiry.size() - 5);
        PutField(inquiry, 8, 8, ReadAttribute(unitDir / "vendor"));
        PutField(inquiry, 16, 16, ReadAttribute(unitDir / "model"));
        PutField(inquiry, 32, 4, ReadAttribute(unitDir / "rev"));
    }
    std::copy_n(raw.begin(), std::min(raw.size(), inquiry.size()), inquiry.begin());
    return inquiry;
}

ClassKind KindOfDriver(const std::string& driver)
{
    if (driver == "sd") return ClassKind::Disk;
    if (driver == "st") return ClassKind::Tape;
    if (driver == "sr") return ClassKind::CdRom;
    if (driver == "ch") return ClassKind::MediaChanger;
    return ClassKind::None;
}

std::string BoundDriver(const fs::path& unitDir)
{
    std::error_code ec;
    const fs::path target = fs::read_symlink(unitDir / "driver", ec);
    return ec ? std::string() : target.filename().string();
}

std::string SgName(const fs::path& unitDir)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(unitDir / "scsi_generic", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with("sg")) {
            return name;
        }
    }
    return {};
}

// max_hw_sectors_kb of the unit's block queue, in bytes; 0 without one.
std::uint64_t QueueLimitBytes(const fs::path& unitDir)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(unitDir / "block", ec)) {
        if (const auto kib = ParseNumber(ReadAttribute(entry.path() / "queue" / "max_hw_sectors_kb")); kib && *kib > 0) {
            return std::uint64_t{*kib} * 1024;
        }
    }
    return 0;
}

// The inode of the unit's directory; 0 when it cannot be read.
std::uint64_t DeviceId(const fs::path& unitDir)
{
    struct stat info {};
    return ::stat(unitDir.c_str(), &info) == 0 ? info.st_ino : 0;
}

SysfsUnit ReadUnit(const fs::path& unitDir, const UnitAddress& address, const PortPath& path)
{
    SysfsUnit unit;
    unit.address = address;
    unit.path = path;
    unit.deviceId = DeviceId(unitDir);
    unit.maxTransferBytes = QueueLimitBytes(unitDir);
    const auto type = ParseNumber(ReadAttribute(unitDir / "type"));
    const std::uint8_t peripheralType = type ? static_cast<std::uint8_t>(*type & 0x1F) : 0x1F;
    unit.inquiry = ReadInquiry(unitDir, peripheralType);
    unit.driver = BoundDriver(unitDir);
    unit.kind = KindOfDriver(unit.driver);
    unit.claimed = unit.kind != ClassKind::None;
    // Without the ch driver a changer is still reachable by its class name.
    if (unit.kind == ClassKind::None && peripheralType == kChangerType) {
        unit.kind = ClassKind::MediaChanger;
    }
    return unit;
}

fs::path UnitDir(const fs::path& sysRoot, const UnitAddress& address)
{
    return sysRoot / "bus" / "scsi" / "devices" /
           (std::to_string(address.host) + ':' + std::to_string(address.channel) + ':' +
            std::to_string(address.target) + ':' + std::to_string(address.lun));
}

std::optional<unsigned> HostNumber(const std::string& name)
{
    const auto number = name.starts_with("host") ? ParseNumber(std::string_view(name).substr(4)) : std::nullopt;
    return number && *number <= 255 ? number : std::nullopt;
}

SysfsHost ReadHostAttributes(const fs::path& sysRoot, const fs::path& hostDir, unsigned number)
{
    SysfsHost host;
    host.number = static_cast<std::uint8_t>(number);
    host.procName = ReadAttribute(hostDir / "proc_name");
    if (const auto entries = ParseNumber(ReadAttribute(hostDir / "sg_tablesize")); entries && *entries > 0) {
        host.sgTableSize = *entries;
    }
    std::error_code ec;
    host.parallelScsi = fs::is_directory(sysRoot / "class" / "spi_host" / hostDir.filename(), ec);
    return host;
}

std::vector<SysfsHost> ReadHosts(const fs::path& sysRoot)
{
    std::vector<SysfsHost> hosts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysRoot / "class" / "scsi_host", ec)) {
        if (const auto number = HostNumber(entry.path().filename().string())) {
            hosts.push_back(ReadHostAttributes(sysRoot, entry.path(), *number));
        }
    }
    std::sort(hosts.begin(), hosts.end(),
              [](const SysfsHost& a, const SysfsHost& b) { return a.number < b.number; });
    return hosts;
}

// The earlier reading of the unit when it is still the same device with the
// same driver, with the INQUIRY data read again; nullopt otherwise.
std::optional<SysfsUnit> Renewed(const fs::path& unitDir, const UnitAddress& address, const SysfsHost* previous)
{
    if (previous == nullptr) {
        return std::nullopt;
    }
    const auto old = std::find_if(previous->units.begin(), previous->units.end(),
                                  [&](const SysfsUnit& unit) { return unit.address == address; });
    if (old == previous->units.end() || old->deviceId == 0 || old->deviceId != DeviceId(unitDir) ||
        old->driver != BoundDriver(unitDir)) {
        return std::nullopt;
    }
    SysfsUnit unit = *old;
    unit.inquiry = ReadInquiry(unitDir, unit.inquiry[0] & 0x1F);
    return unit;
}

// The units of the hosts given, each host's in H:C:T:L order.
void ReadUnits(const fs::path& sysRoot, std::vector<SysfsHost>& hosts, const SysfsHost* previous = nullptr)
{
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysRoot / "bus" / "scsi" / "devices", ec)) {
        const auto address = ParseUnitName(entry.path().filename().string());
        if (!address) {
            continue;
        }
        auto host = std::find_if(hosts.begin(), hosts.end(),
                                 [&](const SysfsHost& h) { return h.number == address->host; });
        if (host == hosts.end()) {
            continue;
        }
        auto unit = Renewed(entry.path(), *address, previous);
        host->units.push_back(unit ? std::move(*unit) : ReadUnit(entry.path(), *address, PathOfTarget(address->target)));
    }
    for (SysfsHost& host : hosts) {
        std::sort(host.units.begin(), host.units.end(),
                  [](const SysfsUnit& a, const SysfsUnit& b) { return a.address < b.address; });
    }
}

}  // namespace

std::vector<std::uint8_t> SysfsHost::Channels() const
{
    std::vector<std::uint8_t> channels;
    for (const SysfsUnit& unit : units) {
        if (channels.empty() || channels.back() != unit.address.channel) {
            channels.push_back(unit.address.channel);
        }
    }
    return channels.empty() ? std::vector<std::uint8_t>{0} : channels;
}

std::uint8_t SysfsHost::BusCount(std::uint8_t channel) const
{
    int count = 1;
    for (const SysfsUnit& unit : units) {
        if (unit.address.channel == channel) {
            count = std::max(count, unit.path.pathId + 1);
        }
    }
    return static_cast<std::uint8_t>(count);
}

std::uint64_t SysfsHost::MaxTransferBytes(std::uint32_t pageSize) const
{
    std::uint64_t bytes = std::uint64_t{sgTableSize} * pageSize;
    for (const SysfsUnit& unit : units) {
        if (unit.maxTransferBytes != 0) {
            bytes = std::min(bytes, unit.maxTransferBytes);
        }
    }
    return bytes;
}

SysfsTopology SysfsTopology::Read(const fs::path& sysRoot)
{
    SysfsTopology topology;
    topology.m_hosts = ReadHosts(sysRoot);
    ReadUnits(sysRoot, topology.m_hosts);
    return topology;
}

std::optional<SysfsHost> SysfsTopology::ReadHost(const fs::path& sysRoot, unsigned number, const SysfsHost* previous)
{
    const fs::path hostDir = sysRoot / "class" / "scsi_host" / ("host" + std::to_string(number));
    std::error_code ec;
    if (number > 255 || !fs::is_directory(hostDir, ec)) {
        return std::nullopt;
    }
    std::vector<SysfsHost> hosts{ReadHostAttributes(sysRoot, hostDir, number)};
    ReadUnits(sysRoot, hosts, previous);
    return std::move(hosts.front());
}

void SysfsTopology::ReplaceHost(unsigned number, std::optional<SysfsHost> host)
{
    std::erase_if(m_hosts, [&](const SysfsHost& h) { return h.number == number; });
    if (host) {
        m_hosts.push_back(std::move(*host));
        std::sort(m_hosts.begin(), m_hosts.end(),
                  [](const SysfsHost& a, const SysfsHost& b) { return a.number < b.number; });
    }
}

std::optional<std::string> SysfsTopology::ReadSgName(const fs::path& sysRoot, const UnitAddress& address)
{
    const fs::path unitDir = UnitDir(sysRoot, address);
    std::error_code ec;
    if (!fs::is_directory(unitDir, ec)) {
        return std::nullopt;
    }
    return SgName(unitDir);
}

const SysfsHost* SysfsTopology::FindHost(unsigned number) const
{
    for (const SysfsHost& host : m_hosts) {
        if (host.number == number) {
            return &host;
        }
    }
    return nullptr;
}

const SysfsUnit* SysfsTopology::FindClassUnit(ClassKind kind, unsigned index) const
{
    for (const SysfsHost& host : m_hosts) {
        for (const SysfsUnit& unit : host.units) {
            if (unit.kind == kind && index-- == 0) {
                return &unit;
            }
        }
    }
    return nullptr;
}

}  // namespace harrow::machine
