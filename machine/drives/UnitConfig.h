// One unit of a machine file, checked and completed with its defaults.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace harrow::machine::drives {

enum class UnitType { Disk, Tape, Cdrom, Changer };

struct FirmwareNumbers {
    std::string scsi;          // 8
    std::string servoRam;      // 8
    std::string servoRom;      // 8
    std::string servoRamDate;  // 4
    std::string servoRomDate;  // 4
};

// A failed test already in the self-test log when the drive is first seen.
struct LoggedSelfTestFailure {
    int segment = 0;  // 0 = none, else 1 to 8
    std::uint64_t lba = 0;
};

struct Faults {
    std::set<std::uint64_t> mediumErrors;
    bool predictedFailure = false;  // informational exception 5Dh/10h
    std::uint64_t correctedPer1000Hours = 0;    // error counters that rise with power-on time
    std::uint64_t uncorrectedPer1000Hours = 0;
    LoggedSelfTestFailure loggedSelfTestFailure;
    std::vector<std::uint64_t> grownDefects;  // in the grown defect list from the start
    int selfTestFailSegment = 0;  // 0 = none, else 1 to 8
    int unitAttentions = 0;
    int notReadyAfterDownload = 0;
    bool refuseDownload = false;
    int resetDuringDownload = 0;  // 0 = none, else the download piece (from 1) answered 06/29/04 once
    bool formatFails = false;
    int busy = 0;
    bool selectionTimeout = false;
    int capacityBytes = 8;  // what READ CAPACITY(10) carries: fewer is a broken device
    // VPD pages whose bytes from byte 4 on are given whole: a hostile device.
    std::map<int, std::vector<std::uint8_t>> vpdPages;
    bool seekFails = false;  // SEEK alone answers HARDWARE ERROR, INTERNAL TARGET FAILURE
};

struct UnitConfig {
    UnitType type = UnitType::Disk;
    std::string vendor;
    std::string product;
    std::string revision;
    std::string serial;
    bool serialInInquiry = true;  // false: INQUIRY bytes 36-43 blank, the serial only in VPD page 80h
    std::uint64_t blocks = 0;
    std::uint32_t blockSize = 0;
    std::uint64_t maxBlocks = 0;
    std::uint32_t maxTransferBlocks = 0;  // offered in the Block Limits VPD page; 0 = no such page
    bool dst = true;
    bool readDefectData12 = true;  // false: an older drive that knows only READ DEFECT DATA(10)
    bool seek = true;              // false: a drive that dropped SEEK, obsolete since SBC-2
    bool pmChangeable = true;      // false: the maker's PM bit is fixed
    bool descriptorSense = false;  // D_SENSE set by default: sense in descriptor format
    double shortSelfTestSeconds = 120;
    double longSelfTestSeconds = 1800;
    double formatSeconds = 600;
    double commandSeconds = 0;  // service time of every command
    FirmwareNumbers firmware;
    std::uint64_t wwn = 0;
    int temperature = 35;
    int referenceTemperature = 60;
    std::uint32_t powerOnHours = 1000;
    int lun = 0;
    Faults faults;

    // A disk of the maker: vendor pages, vendor mode pages, copyright text.
    bool IsKestrel() const;
};

// Throws MachineFileError naming where and the field.
UnitConfig ParseUnitConfig(const nlohmann::json& unit, const std::string& where);

bool IsValidBlockSize(std::uint64_t size);

}  // namespace harrow::machine::drives
