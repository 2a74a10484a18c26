// One port of a simulated machine: its units, what it reported at boot, and
// the commands it delivers. Shared by the port's device and the class devices
// of its units, so an open handle outlives a replaced machine.
#pragma once

#include "machine/LogicalUnit.h"
#include "machine/MachineFile.h"
#include "machine/MegaRaidMiniport.h"
#include "machine/PassThrough.h"
#include "machine/PortLayout.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace harrow::machine {

// A unit and its place on the port. A target works on one command at a
// time; its service time is spent outside that, overlapping other commands.
class SimulatedUnit {
public:
    SimulatedUnit(const UnitSpec& described, std::unique_ptr<LogicalUnit> unit);

    ScsiResult Execute(const ScsiRequest& request);

    UCHAR PathId() const { return m_pathId; }
    UCHAR TargetId() const { return m_targetId; }
    UCHAR Lun() const { return m_lun; }

private:
    ScsiResult ExecuteHeld(const ScsiRequest& request);

    UCHAR m_pathId;
    UCHAR m_targetId;
    UCHAR m_lun;
    std::mutex m_lock;  // for units that do not serialize their commands themselves
    std::unique_ptr<LogicalUnit> m_unit;
    bool m_serializes;
    double m_serviceSeconds;  // unscaled
};

class SimulatedPort {
public:
    // Scans the units with INQUIRY as the port driver does at boot; units that
    // do not answer are left out of the lists but still reachable by address.
    // source names the machine file in errors (a unit claimed by no class driver).
    SimulatedPort(const PortSpec& described, std::vector<std::shared_ptr<SimulatedUnit>> units,
                  const std::string& source);

    const ListedPort& Listing() const { return m_listing; }
    const std::vector<BYTE>& BusInfo() const { return m_busInfo; }
    const PortSpec& Described() const { return m_spec; }
    IO_SCSI_CAPABILITIES Capabilities() const;
    // What the machine file allows, else kMaxTransferLength.
    ULONG MaxTransferBytes() const;

    // The listed, claimed units in address order, with their peripheral type.
    struct ClaimedUnit {
        std::shared_ptr<SimulatedUnit> unit;
        UCHAR peripheralType;
    };
    std::vector<ClaimedUnit> ClaimedUnits() const;

    // A pass-through addressed by PathId, TargetId and Lun.
    BOOL PassThrough(const PassThroughCall& call, DWORD* bytesReturned, DWORD* error);

    // The controller's own pass-through on a MegaRAID port; null on any other.
    MegaRaidMiniport* Miniport() const { return m_miniport.get(); }

private:
    void Scan(const std::string& source);
    std::shared_ptr<SimulatedUnit> Find(UCHAR pathId, UCHAR targetId, UCHAR lun) const;
    bool HasTarget(UCHAR pathId, UCHAR targetId) const;

    PortSpec m_spec;
    std::vector<std::shared_ptr<SimulatedUnit>> m_units;
    std::vector<UCHAR> m_types;  // peripheral type per listed unit, parallel to m_listing.units
    std::vector<std::shared_ptr<SimulatedUnit>> m_listed;
    ListedPort m_listing;
    std::vector<BYTE> m_busInfo;
    std::unique_ptr<MegaRaidMiniport> m_miniport;
};

// Copies a fixed-size answer into a caller's output buffer; too small a
// buffer answers FALSE with ERROR_INSUFFICIENT_BUFFER.
BOOL AnswerWith(const void* answer, DWORD size, void* out, DWORD outSize, DWORD* bytesReturned, DWORD* error);

// Largest transfer a simulated port takes in one request.
constexpr ULONG kMaxTransferLength = kMaxPortTransferBytes;

}  // namespace harrow::machine
