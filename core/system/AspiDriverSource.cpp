#include "core/system/AspiDriverSource.h"

#include "core/transport/CASPIDriver.h"

#include <atomic>

namespace {

std::atomic<AspiDriverAcquirer> g_acquire{nullptr};

}  // namespace

void SetAspiDriverAcquirer(AspiDriverAcquirer acquire)
{
    g_acquire = acquire;
}

CScsiDriver* AcquireAspiDriver()
{
    const AspiDriverAcquirer acquire = g_acquire;
    if (acquire != nullptr) {
        return acquire();
    }
    CASPIDriver* driver = CASPIDriver::Acquire();
    if (!driver->IsLoaded()) {
        driver->Release();
        return nullptr;
    }
    return driver;
}
