#include "machine/MylexController.h"

#include "machine/drives/DriveFactory.h"

#include <algorithm>
#include <cstring>

namespace harrow::machine {
namespace {

constexpr std::uint8_t kOpExternalInquiry = 0x20;
constexpr std::uint8_t kOpTunnel = 0x22;
constexpr std::uint8_t kSendDescriptor = 0xAD;
constexpr std::uint8_t kTransferData = 0xAE;
constexpr std::size_t kExternalInquiryBytes = 255;
constexpr int kChannels = 4;
constexpr int kTargets = 126;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::size_t kMaxDescriptors = 64;

ScsiResult CheckCondition(std::uint8_t key, std::uint8_t asc)
{
    ScsiResult result;
    result.status = kStatusCheckCondition;
    const std::uint8_t sense[18] = {0x70, 0, key, 0, 0, 0, 0, 10, 0, 0, 0, 0, asc, 0};
    std::copy(std::begin(sense), std::end(sense), result.sense.begin());
    result.senseLength = sizeof sense;
    return result;
}

std::uint32_t CommandNumber(std::span<const std::uint8_t> cdb)
{
    return static_cast<std::uint32_t>(cdb[3]) | static_cast<std::uint32_t>(cdb[4]) << 8 |
           static_cast<std::uint32_t>(cdb[5]) << 16 | static_cast<std::uint32_t>(cdb[6]) << 24;
}

[[noreturn]] void Fail(const std::string& field, const std::string& problem)
{
    throw MachineFileError(field + ": " + problem);
}

int Whole(const nlohmann::json& object, const std::string& key, const std::string& where, int low, int high)
{
    if (!object.contains(key) || !object.at(key).is_number_integer()) {
        Fail(where + "." + key, "must be a whole number");
    }
    const auto value = object.at(key).get<long long>();
    if (value < low || value > high) {
        Fail(where + "." + key, "must be from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return static_cast<int>(value);
}

}  // namespace

MylexController::MylexController(std::unique_ptr<LogicalUnit> logicalDrive, Drives drives,
                                 std::uint8_t externalInquiry)
    : m_logicalDrive(std::move(logicalDrive)), m_drives(std::move(drives)), m_externalInquiry(externalInquiry)
{
}

ScsiResult MylexController::Execute(const ScsiRequest& request)
{
    if (request.cdb.size() >= 10 && request.cdb[0] == kOpExternalInquiry) {
        return ExternalInquiry(request);
    }
    if (request.cdb.size() >= 10 && request.cdb[0] == kOpTunnel && request.cdb[2] == kSendDescriptor) {
        return TakeDescriptor(request);
    }
    if (request.cdb.size() >= 10 && request.cdb[0] == kOpTunnel && request.cdb[2] == kTransferData) {
        return Tunnel(request);
    }
    return m_logicalDrive->Execute(request);
}

ScsiResult MylexController::ExternalInquiry(const ScsiRequest& request) const
{
    if (request.direction != DataDirection::In) {
        return CheckCondition(0x05, 0x24);
    }
    std::array<std::uint8_t, kExternalInquiryBytes> answer{};
    answer[3] = m_externalInquiry;
    ScsiResult result;
    result.transferred = static_cast<std::uint32_t>(std::min(request.data.size(), answer.size()));
    std::copy_n(answer.begin(), result.transferred, request.data.begin());
    return result;
}

ScsiResult MylexController::TakeDescriptor(const ScsiRequest& request)
{
    Descriptor descriptor{};
    if (request.direction != DataDirection::Out || request.data.size() < descriptor.size()) {
        return CheckCondition(0x05, 0x24);
    }
    std::copy_n(request.data.begin(), descriptor.size(), descriptor.begin());
    std::lock_guard lock(m_lock);
    if (m_descriptors.size() >= kMaxDescriptors) {
        m_descriptors.erase(m_descriptors.begin());  // a host that never sent the data
    }
    m_descriptors[CommandNumber(request.cdb)] = descriptor;
    ScsiResult result;
    result.transferred = static_cast<std::uint32_t>(descriptor.size());
    return result;
}

ScsiResult MylexController::Tunnel(const ScsiRequest& request)
{
    Descriptor descriptor;
    {
        std::lock_guard lock(m_lock);
        const auto found = m_descriptors.find(CommandNumber(request.cdb));
        if (found == m_descriptors.end()) {
            return CheckCondition(0x05, 0x2C);  // a transfer without its descriptor
        }
        descriptor = found->second;
        m_descriptors.erase(found);
    }
    const std::size_t cdbLength = std::min<std::size_t>(descriptor[2], 16);
    const auto drive = m_drives.find({descriptor[0], descriptor[1]});
    if (cdbLength == 0) {
        return CheckCondition(0x05, 0x24);
    }
    if (drive == m_drives.end()) {
        return CheckCondition(0x05, 0x25);  // nothing at that channel and target
    }
    ScsiRequest inner = request;
    inner.cdb = std::span<const std::uint8_t>(descriptor.data() + 16, cdbLength);
    return drive->second->Execute(inner);
}

std::unique_ptr<LogicalUnit> MakeMylexController(const nlohmann::json& unit, const std::string& where,
                                                 const std::filesystem::path& stateDir, const DriveMaker& makeDrive)
{
    const std::string at = where + ".mylex";
    const nlohmann::json& mylex = unit.at("mylex");
    if (!mylex.is_object()) {
        Fail(at, "must be an object");
    }
    for (const auto& [key, value] : mylex.items()) {
        if (key != "externalInquiry" && key != "drives") {
            Fail(at + "." + key, "is not a field of a Mylex controller");
        }
    }
    const int kind = mylex.contains("externalInquiry") ? Whole(mylex, "externalInquiry", at, 0, 255) : 8;
    MylexController::Drives drives;
    const nlohmann::json drivesJson = mylex.value("drives", nlohmann::json::array());
    if (!drivesJson.is_array()) {
        Fail(at + ".drives", "must be an array");
    }
    for (std::size_t i = 0; i < drivesJson.size(); ++i) {
        const std::string driveAt = at + ".drives[" + std::to_string(i) + "]";
        if (!drivesJson[i].is_object()) {
            Fail(driveAt, "must be an object");
        }
        const int channel = Whole(drivesJson[i], "channel", driveAt, 0, kChannels - 1);
        const int target = Whole(drivesJson[i], "target", driveAt, 0, kTargets - 1);
        nlohmann::json fields = drivesJson[i];
        fields.erase("channel");
        const auto folder = stateDir / ("c" + std::to_string(channel) + "t" + std::to_string(target));
        if (!drives.emplace(std::make_pair(channel, target), makeDrive(fields, driveAt, folder)).second) {
            Fail(driveAt, "another drive already has this channel and target");
        }
    }
    nlohmann::json own = unit;
    own.erase("mylex");
    return std::make_unique<MylexController>(makeDrive(own, where, stateDir), std::move(drives),
                                             static_cast<std::uint8_t>(kind));
}

}  // namespace harrow::machine
