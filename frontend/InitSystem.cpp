#include "frontend/InitSystem.h"

#include "core/system/CComputerSystem.h"
#include "core/types/CEventBase.h"
#include "platform/System.h"

namespace {

enum class Family { Nt, Win9x, Win95 };

Family RunningFamily()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    if (version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        return Family::Nt;
    }
    return version.dwMinorVersion != 0 ? Family::Win9x : Family::Win95;
}

bool OneOf(Error_t code, Error_t a, Error_t b, Error_t c) { return code == a || code == b || code == c; }

// The registry could not tell which transport or manager to use: fall back
// to the NT port transport and the heap manager where that is the cause.
bool RetryInit(CComputerSystem* system, Error_t code)
{
    const Driver_t driver =
        OneOf(code, ERR_PRODUCT_NOT_REGISTERED, ERR_REGISTRY_ACCESS, ERR_NO_DRIVER_CONFIGURED) ? DRV_NTPORT
                                                                                                : DRV_DEFAULT;
    const BufferMgr_t manager =
        OneOf(code, ERR_PRODUCT_NOT_REGISTERED, ERR_REGISTRY_ACCESS, ERR_NO_BUFFERMGR_VALUE) ? BUFMGR_HEAP
                                                                                              : BUFMGR_DEFAULT;
    try {
        system->Init(driver, manager);
        return true;
    } catch (CEventBase* event) {
        delete event;
        return false;
    }
}

}  // namespace

bool InitSystem(const std::string& productName)
{
    CComputerSystem* system = CComputerSystem::Instance();
    if (system == nullptr) {
        MessageBoxA(nullptr, "Device tree is not initialized", "Harrow", MB_OK | MB_ICONERROR);
        return false;
    }
    CComputerSystem::RegisterProductRunning(productName.c_str());
    const Family family = RunningFamily();
    if (family == Family::Win95) {
        return true;
    }
    Error_t code = ERR_NONE;
    try {
        system->Init(DRV_DEFAULT, family == Family::Nt ? BUFMGR_DEFAULT : BUFMGR_HEAP);
        return true;
    } catch (CEventBase* event) {
        code = event->GetErrorCode();
        delete event;
    }
    // Status 1: still initialising, nothing usable; 2 and 3: the configuration
    // could not be read, which a fallback transport may get past.
    switch (static_cast<int>(system->GetStatus())) {
    case 1:
        return false;
    case 2:
    case 3:
        return RetryInit(system, code);
    default:
        return true;
    }
}
