#pragma once

#include "core/transport/CScsiDriver.h"

// The Lumen transport's driver object: a placeholder with no library behind
// it, so it reports no adapters.
class CLumenDriver final : public CSharedScsiDriver<CLumenDriver> {
public:
    Error_t RescanBus(int) override { return ERR_NONE; }
    Error_t Send(HANDLE, void*) override { return ERR_NONE; }
    bool WaitDone(void*) override { return true; }
    Error_t GetCompletion(void*, bool) override { return ERR_NONE; }
    long AdapterCount() override { return 0; }
    Error_t AdapterInquiry(int, int*, std::string*, std::string*, long*) override { return ERR_DRIVER_FAILURE; }
    HANDLE GetDeviceHandle(const CDevAddress&) override { return nullptr; }
    Error_t Init() override { return ERR_DRIVER_FAILURE; }
    Error_t Free() override { return ERR_NONE; }

private:
    friend class CSharedScsiDriver<CLumenDriver>;
    CLumenDriver() = default;
};
