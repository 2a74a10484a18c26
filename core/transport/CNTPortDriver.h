#pragma once

#include "core/transport/CScsiDriver.h"
#include "core/transport/NTPortAdapter.h"
#include "core/transport/NTPortBusList.h"
#include "core/transport/NTPortRequest.h"

#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

// The NT SCSI port transport's driver object: finds the port devices, learns
// which units each one holds, keeps one open handle per unit and sends
// pass-through requests on them.
class CNTPortDriver final : public CSharedScsiDriver<CNTPortDriver> {
public:
    ~CNTPortDriver() override;

    Error_t RescanBus(int adapter) override;
    Error_t Send(HANDLE device, void* request) override;
    bool WaitDone(void* request) override;
    Error_t GetCompletion(void* request, bool wait) override;
    long AdapterCount() override;
    Error_t AdapterInquiry(int adapter, int* adapterTargetId, std::string* managerString, std::string* adapterString,
                           long* devsSupported) override;
    HANDLE GetDeviceHandle(const CDevAddress& address) override;
    Error_t Init() override;
    Error_t Free() override;

    // Where the address's unit sits on its port: ERR_NO_HOST_ADAPTER for an
    // unknown port, ERR_INVALID_TARGET or ERR_INVALID_LUN when it cannot be
    // expressed in a request.
    Error_t MapAddress(const CDevAddress& address, NTPortPath_s* path);
    // The largest transfer the port carries in one request; 0 when unknown.
    unsigned long MaxTransferBytes(int adapter);

    // How a completed request ended. The transport is synchronous: a request
    // is complete once Send has returned.
    static Error_t CompletionStatus(const NTPortRequest_s& request);

private:
    friend class CSharedScsiDriver<CNTPortDriver>;

    // One logical unit a port reported.
    struct Unit_s {
        NTPortUnit_s Unit;
        int Port = 0;
        HANDLE Handle = nullptr;  // null until opened
    };

    // Port, path, target and LUN: where a unit sits.
    using UnitKey = std::tuple<int, UCHAR, UCHAR, UCHAR>;
    static UnitKey KeyOf(int port, const NTPortUnit_s& where);

    CNTPortDriver();

    void EnumeratePorts();
    std::vector<Unit_s> ListPortUnits(int port, bool* listed) const;
    void AddUnits(const std::vector<Unit_s>& units);
    void OpenHandles();
    void OpenClaimedUnits();
    void WalkClassDevices();
    bool OpenClassDevice(const UnitKey& key, Unit_s& unit, const std::string& name);
    Unit_s* FindUnit(int port, const NTPortUnit_s& where, bool claimedWithoutHandle);
    void DropPortUnits(int port);
    void FreeLocked();

    std::mutex m_Lock;
    std::vector<NTPortAdapter_s> m_Adapters;
    // Kept in address order, so a unit is found without a walk over them all.
    std::multimap<UnitKey, Unit_s> m_Units;
    // The class device that holds each claimed unit, learnt by one walk over
    // the class devices and walked again only when a unit is missing from it.
    std::map<UnitKey, std::string> m_ClassNames;
};

extern template class CSharedScsiDriver<CNTPortDriver>;
