#pragma once

#include <cstddef>
#include <optional>
#include <string>

// What the NT port driver knows of one SCSI port: its geometry after the
// driver-name corrections, and the names the device map gives it.
struct NTPortAdapter_s {
    static constexpr int NO_INITIATOR = 255;
    static constexpr std::size_t MAX_NAME = 16;

    int Buses = 0;
    int TargetsPerBus = 16;
    int InitiatorId = NO_INITIATOR;
    int BasePath = 0;
    std::string DriverName;
    std::string DeviceName;
    int LogicalUnits = 0;
};

// Where a target number of the device model sits on the port.
struct NTPortPath_s {
    unsigned char PathId;
    unsigned char TargetId;
};

// Geometry from the port's own answer: buses as reported, initiator of bus 0,
// 16 targets per bus for a narrow initiator ID, else 32.
void SetReportedGeometry(NTPortAdapter_s& adapter, int buses, int initiatorOfBus0);

// Some miniports report their buses in a way the target numbering must not
// follow; their driver names select the geometry to use instead.
void ApplyDriverNameCorrections(NTPortAdapter_s& adapter);

// Null when the target (or the path it lands on) does not fit the request.
std::optional<NTPortPath_s> MapTarget(const NTPortAdapter_s& adapter, int target);
