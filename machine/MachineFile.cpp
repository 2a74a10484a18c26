#include "machine/MachineFile.h"

#include "core/transport/NTPortAdapter.h"

#include <algorithm>
#include <cstdint>
#include <cctype>
#include <filesystem>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

namespace harrow::machine {
namespace {

using nlohmann::json;

constexpr std::uint64_t kMaxMachineFileBytes = 16 << 20;

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads typed fields of one object and names the offending field on failure.
class Fields {
public:
    Fields(const json& object, std::string source, std::string where)
        : m_object(object), m_source(std::move(source)), m_where(std::move(where))
    {
        if (!m_object.is_object()) {
            Fail(m_where.empty() ? "top level" : m_where, "must be an object");
        }
    }

    [[noreturn]] void Fail(const std::string& field, const std::string& problem) const
    {
        throw MachineFileError(m_source + ": " + field + ": " + problem);
    }

    std::string Path(const std::string& key) const { return m_where.empty() ? key : m_where + "." + key; }

    bool Has(const std::string& key) const { return m_object.contains(key); }

    int Int(const std::string& key, int low, int high, std::optional<int> fallback = std::nullopt) const
    {
        if (!Has(key)) {
            if (!fallback) {
                Fail(Path(key), "is missing");
            }
            return *fallback;
        }
        const json& value = m_object.at(key);
        if (!value.is_number_integer()) {
            Fail(Path(key), "must be a whole number");
        }
        const auto number = value.get<long long>();
        if (number < low || number > high) {
            Fail(Path(key), "must be from " + std::to_string(low) + " to " + std::to_string(high));
        }
        return static_cast<int>(number);
    }

    std::string Text(const std::string& key, std::optional<std::string> fallback = std::nullopt) const
    {
        if (!Has(key)) {
            if (!fallback) {
                Fail(Path(key), "is missing");
            }
            return *fallback;
        }
        const json& value = m_object.at(key);
        if (!value.is_string() || value.get<std::string>().empty()) {
            Fail(Path(key), "must be a non-empty string");
        }
        return value.get<std::string>();
    }

    std::optional<bool> Flag(const std::string& key) const
    {
        if (!Has(key)) {
            return std::nullopt;
        }
        if (!m_object.at(key).is_boolean()) {
            Fail(Path(key), "must be true or false");
        }
        return m_object.at(key).get<bool>();
    }

    const json& Array(const std::string& key) const
    {
        if (!Has(key) || !m_object.at(key).is_array()) {
            Fail(Path(key), Has(key) ? "must be an array" : "is missing");
        }
        return m_object.at(key);
    }

    void OnlyKeys(std::initializer_list<const char*> known) const
    {
        for (const auto& item : m_object.items()) {
            if (std::none_of(known.begin(), known.end(), [&](const char* k) { return item.key() == k; })) {
                Fail(Path(item.key()), "is not a known field");
            }
        }
    }

private:
    const json& m_object;
    std::string m_source;
    std::string m_where;
};

// Registry names hold these strings; keep them printable and free of the
// key separator.
void CheckName(const Fields& fields, const std::string& key, const std::string& value)
{
    if (value.size() > 64) {
        fields.Fail(fields.Path(key), "must be at most 64 characters");
    }
    for (unsigned char c : value) {
        if (c < 0x20 || c > 0x7E || c == '\\') {
            fields.Fail(fields.Path(key), "must be printable ASCII without backslashes");
        }
    }
}

void CheckMachineName(const Fields& fields, const std::string& name)
{
    const bool safe = std::all_of(name.begin(), name.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '-' || c == '_' || c == '.';
    });
    if (!safe || name == "." || name == ".." || name.size() > 64) {
        fields.Fail("name", "must be 1 to 64 letters, digits, '-', '_' or '.' (it names the state folder)");
    }
}

UnitSpec ParseUnit(const json& object, const std::string& source, const PortSpec& port, std::size_t index)
{
    UnitSpec unit;
    unit.where = port.where + ".units[" + std::to_string(index) + "]";
    const Fields fields(object, source, unit.where);
    unit.bus = fields.Int("bus", 0, port.buses - 1, 0);
    unit.target = fields.Int("target", 0, port.targetsPerBus - 1);
    if (unit.target == port.initiatorId) {
        fields.Fail(fields.Path("target"), "is the port's own initiator ID");
    }
    unit.lun = fields.Int("lun", 0, kMaxLuns - 1, 0);
    unit.claimed = fields.Flag("claimed");
    unit.json = object;
    return unit;
}

// The maker's Fibre Channel drivers, which the Nox driver family provides.
bool IsNoxDriver(const std::string& driver)
{
    static const std::set<std::string> kNoxDrivers = {"lp6nds35", "lp7nds35", "lp3nds35", "elxsli2", "orblpx"};
    return kNoxDrivers.count(Lower(driver)) != 0;
}

void ParseNox(const Fields& fields, PortSpec* port)
{
    port->nox = fields.Flag("nox").value_or(IsNoxDriver(port->driver));
    port->noxHidden = fields.Flag("noxHidden").value_or(false);
    port->noxPseudo = fields.Flag("noxPseudo").value_or(true);
    for (const char* key : {"noxHidden", "noxPseudo"}) {
        if (fields.Has(key) && !port->nox) {
            fields.Fail(fields.Path(key), "needs \"nox\": true");
        }
    }
    if (port->nox && port->IsIdeChannel()) {
        fields.Fail(fields.Path("nox"), "an IDE channel is not driven by the Nox driver");
    }
}

// The suite numbers a port's targets from the geometry the port reports and
// the corrections its driver name selects; a unit outside that numbering could
// never be reached, so the file is refused rather than the unit left out.
void CheckReachable(const Fields& fields, const PortSpec& port)
{
    NTPortAdapter_s adapter;
    adapter.DriverName = port.driver;
    SetReportedGeometry(adapter, port.buses, port.initiatorId);
    ApplyDriverNameCorrections(adapter);
    for (const UnitSpec& unit : port.units) {
        const int path = unit.bus - adapter.BasePath;
        if (path < 0 || path >= adapter.Buses || unit.target >= adapter.TargetsPerBus) {
            fields.Fail(unit.where, "is out of reach: driver \"" + port.driver + "\" with initiator ID " +
                                        std::to_string(port.initiatorId) + " is addressed as buses " +
                                        std::to_string(adapter.BasePath) + " to " +
                                        std::to_string(adapter.BasePath + adapter.Buses - 1) + " of " +
                                        std::to_string(adapter.TargetsPerBus) + " targets");
        }
    }
}

PortSpec ParsePort(const json& object, const std::string& source, std::size_t index)
{
    PortSpec port;
    port.where = "ports[" + std::to_string(index) + "]";
    const Fields fields(object, source, port.where);
    fields.OnlyKeys({"port", "driver", "deviceName", "buses", "initiatorId", "targetsPerBus", "nox", "noxHidden",
                     "noxPseudo", "megaRaid", "maxTransferBytes", "units"});
    port.number = fields.Int("port", 0, kMaxPortNumber, static_cast<int>(index));
    port.driver = fields.Text("driver");
    CheckName(fields, "driver", port.driver);
    port.deviceName = fields.Text("deviceName", "ScsiPort" + std::to_string(port.number));
    CheckName(fields, "deviceName", port.deviceName);
    const bool ide = port.IsIdeChannel();
    port.megaRaid = fields.Flag("megaRaid").value_or(Lower(port.driver).find("mraid") != std::string::npos);
    if (port.megaRaid && ide) {
        fields.Fail(fields.Path("megaRaid"), "an IDE channel is no MegaRAID controller");
    }
    port.buses = fields.Int("buses", 1, ide ? 1 : kMaxBuses, 1);
    // The controller's pass-through carries a target in four bits, and 15 is its own ID.
    const int maxTargets = ide ? 2 : port.megaRaid ? kMegaRaidTargets : kMaxTargetsPerBus;
    port.targetsPerBus = fields.Int("targetsPerBus", 1, maxTargets, ide ? 2 : std::min(16, maxTargets));
    port.initiatorId = fields.Int("initiatorId", 0, kNoInitiator, ide ? kNoInitiator : 7);
    if (port.initiatorId != kNoInitiator && port.initiatorId >= port.targetsPerBus) {
        fields.Fail(fields.Path("initiatorId"), "must be below targetsPerBus, or 255 for none");
    }
    ParseNox(fields, &port);
    port.maxTransferBytes = static_cast<std::uint32_t>(fields.Int("maxTransferBytes", 512, kMaxPortTransferBytes, 0));
    const json& units = fields.Array("units");
    std::set<std::tuple<int, int, int>> taken;
    for (std::size_t i = 0; i < units.size(); ++i) {
        UnitSpec unit = ParseUnit(units[i], source, port, i);
        if (!taken.emplace(unit.bus, unit.target, unit.lun).second) {
            fields.Fail(unit.where, "another unit already has this bus, target and lun");
        }
        port.units.push_back(std::move(unit));
    }
    if (!port.IsIdeChannel()) {
        CheckReachable(fields, port);
    }
    return port;
}

// Non-blocking, so that a FIFO is refused at once instead of waiting for a
// writer; only a regular file of sane size is read.
std::string ReadWholeFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        throw MachineFileError(path + ": cannot be opened: " + std::strerror(errno));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        throw MachineFileError(path + ": is not a regular file");
    }
    std::string text;
    char buffer[16384];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            const int failure = errno;
            ::close(fd);
            throw MachineFileError(path + ": cannot be read: " + std::strerror(failure));
        }
        if (got == 0) {
            break;
        }
        if (text.size() + static_cast<std::size_t>(got) > kMaxMachineFileBytes) {
            ::close(fd);
            throw MachineFileError(path + ": is larger than " + std::to_string(kMaxMachineFileBytes >> 20) + " MiB");
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return text;
}

}  // namespace

bool PortSpec::IsIdeChannel() const
{
    const std::string name = Lower(driver);
    return name.find("atapi") != std::string::npos || name.find("esdi") != std::string::npos;
}

MachineSpec ParseMachineText(const std::string& text, const std::string& source, const std::string& defaultName)
{
    json root;
    try {
        root = json::parse(text);
    } catch (const json::exception& e) {  // a number too large for any type is out_of_range, not parse_error
        throw MachineFileError(source + ": not valid JSON: " + e.what());
    }
    const Fields fields(root, source, "");
    fields.OnlyKeys({"name", "ports", "aspiBufferLimit"});
    MachineSpec machine;
    machine.name = fields.Text("name", defaultName);
    CheckMachineName(fields, machine.name);
    if (fields.Has("aspiBufferLimit")) {
        machine.aspiBufferLimit = static_cast<std::uint32_t>(fields.Int("aspiBufferLimit", 1, INT32_MAX));
    }
    const json& ports = fields.Array("ports");
    std::set<int> numbers;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        PortSpec port = ParsePort(ports[i], source, i);
        if (!numbers.insert(port.number).second) {
            fields.Fail(port.where + ".port", "port " + std::to_string(port.number) + " is given twice");
        }
        machine.ports.push_back(std::move(port));
    }
    std::sort(machine.ports.begin(), machine.ports.end(),
              [](const PortSpec& a, const PortSpec& b) { return a.number < b.number; });
    return machine;
}

MachineSpec ReadMachineFile(const std::string& path)
{
    const std::string text = ReadWholeFile(path);
    // The file's stem names the state folder unless the file names itself.
    std::string stem = std::filesystem::path(path).stem().string().substr(0, 64);
    for (char& c : stem) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.') {
            c = '_';
        }
    }
    if (stem.empty() || stem == "." || stem == "..") {
        stem = "machine";
    }
    return ParseMachineText(text, path, stem);
}

}  // namespace harrow::machine
