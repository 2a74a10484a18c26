#pragma once

#include "core/transport/CScsiDriver.h"
#include "core/transport/RaidRequest.h"

#include "platform/Library.h"

#include <cstdint>

// The request memory of a MegaRAID control block: the plug-in's request and
// the result Send stores after each command.
#pragma pack(push, 1)
struct AmiRaidRequest_s {
    RaidRequest Request;
    std::int32_t Result;
};
#pragma pack(pop)
static_assert(sizeof(AmiRaidRequest_s) == sizeof(RaidRequest) + 4);

// The MegaRAID transport's driver object: the plug-in "ORBAMIRAID.DLL" and
// its entry points. Commands finish inside Send.
class CAMIRAIDDriver final : public CSharedScsiDriver<CAMIRAIDDriver> {
public:
    static constexpr const char* kLibraryName = "ORBAMIRAID.DLL";
    static constexpr long kDevsSupported = 128;

    ~CAMIRAIDDriver() override;

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

private:
    friend class CSharedScsiDriver<CAMIRAIDDriver>;

    using DoCommandFn = std::int32_t (*)(RaidRequest*);
    using AdapterCountFn = std::int32_t (*)(int*);
    using GetDevTypeFn = std::int32_t (*)(RaidRequest*, char*);
    using HaInquiryFn = std::int32_t (*)(int, char*, char*, char*);

    CAMIRAIDDriver();

    HMODULE m_hLibrary = nullptr;
    DoCommandFn m_DoCommand = nullptr;
    AdapterCountFn m_AdapterCount = nullptr;
    GetDevTypeFn m_GetDevType = nullptr;
    HaInquiryFn m_HaInquiry = nullptr;
};
