// A Mylex RAID controller's LUN on a simulated bus: its own logical drive,
// plus the drives behind its channels, which the host reaches by tunnelling
// a command through two vendor commands (0x22 with 0xAD: a 32-byte
// descriptor, then 0x22 with 0xAE: the data), numbered alike in bytes 3-6.
// It answers the unique external inquiry (0x20) with its firmware kind in
// byte 3.
#pragma once

#include "machine/LogicalUnit.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace harrow::machine {

class MylexController final : public LogicalUnit {
public:
    using Drives = std::map<std::pair<int, int>, std::unique_ptr<LogicalUnit>>;  // by (channel, target)

    MylexController(std::unique_ptr<LogicalUnit> logicalDrive, Drives drives, std::uint8_t externalInquiry);

    ScsiResult Execute(const ScsiRequest& request) override;

private:
    using Descriptor = std::array<std::uint8_t, 32>;

    ScsiResult ExternalInquiry(const ScsiRequest& request) const;
    ScsiResult TakeDescriptor(const ScsiRequest& request);
    ScsiResult Tunnel(const ScsiRequest& request);

    std::unique_ptr<LogicalUnit> m_logicalDrive;
    Drives m_drives;
    std::uint8_t m_externalInquiry;
    std::mutex m_lock;
    std::map<std::uint32_t, Descriptor> m_descriptors;  // by the number in CDB bytes 3-6
};

// Makes the unit a machine file describes with a "mylex" object; makeDrive
// builds each drive (the controller's logical drive and those behind the
// channels) from its fields. Throws MachineFileError.
using DriveMaker = std::function<std::unique_ptr<LogicalUnit>(const nlohmann::json& unit, const std::string& where,
                                                              const std::filesystem::path& stateDir)>;
std::unique_ptr<LogicalUnit> MakeMylexController(const nlohmann::json& unit, const std::string& where,
                                                 const std::filesystem::path& stateDir, const DriveMaker& makeDrive);

}  // namespace harrow::machine
