#include "core/system/AspiDriverSource.h"

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
    return acquire != nullptr ? acquire() : nullptr;
}
