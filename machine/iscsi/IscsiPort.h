// One iSCSI target as one SCSI port: a single bus whose target 0 holds the
// LUNs REPORT LUNS lists. A target that cannot be reached is a port without
// units, and Problem() says why.
#pragma once

#include "machine/PassThrough.h"
#include "machine/PortLayout.h"
#include "machine/iscsi/IscsiSession.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace harrow::machine {

// The port driver name the device map shows for iSCSI ports.
constexpr const char* kIscsiDriverName = "iScsiPrt";

class IscsiPort {
public:
    IscsiPort(int number, IscsiTarget target, std::chrono::milliseconds loginTimeout);

    // Logs in and lists the LUNs. False when the target cannot be reached;
    // the listing is then kept as it was.
    bool Scan();

    ListedPort Listing() const;
    std::vector<BYTE> BusInfo() const;
    IO_SCSI_CAPABILITIES Capabilities() const;
    // What went wrong at the last scan: empty when nothing did.
    std::string Problem() const;

    // PathId 0, TargetId 0 reaches the target; other targets on the bus do
    // not answer; an address beyond the bus is refused.
    BOOL PassThrough(const PassThroughCall& call, DWORD* bytesReturned, DWORD* error);

private:
    bool ListUnits(ListedPort* listing, std::vector<std::string>* notes);

    IscsiSession m_session;
    mutable std::mutex m_lock;  // the listing, swapped whole by a rescan
    ListedPort m_listing;
    std::string m_problem;
    std::atomic<bool> m_unreached{false};
};

}  // namespace harrow::machine
