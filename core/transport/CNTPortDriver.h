#pragma once

#include "core/transport/CScsiDriver.h"
#include "core/transport/NTPortAdapter.h"
#include "core/transport/NTPortBusList.h"
#include "core/transport/NTPortRequest.h"

#include <list>
#include <map>
#include <mutex>
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

    CNTPortDriver();

    void EnumeratePorts();
    std::vector<Unit_s> ListPortUnits(int port, bool* listed) const;
    void OpenHandles();
    void OpenClaimedUnits();
    Unit_s* FindUnit(int port, const NTPortUnit_s& where, bool claimedWithoutHandle);
    void IndexUnits();
    void DropPortUnits(int port);
    void FreeLocked();

    std::mutex m_Lock;
    std::vector<NTPortAdapter_s> m_Adapters;
    std::list<Unit_s> m_Units;
    // The units by address, in list order: a machine of thousands of units is
    // not walked once for every class device it opens.
    using UnitKey = std::tuple<int, UCHAR, UCHAR, UCHAR>;
    std::multimap<UnitKey, Unit_s*> m_Index;
};

extern template class CSharedScsiDriver<CNTPortDriver>;
