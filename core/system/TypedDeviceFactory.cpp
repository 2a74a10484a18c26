#include "core/system/TypedDeviceFactory.h"

#include "core/devices/CDisk.h"
#include "core/devices/CLibraryDev.h"
#include "core/devices/CMagnetoOptical.h"
#include "core/devices/CTape.h"
#include "core/system/CGenericDevice.h"

namespace {

// A device of no class of its own: the identity found, the common commands.
std::unique_ptr<SCSIDevice> MakePlainDevice(CGenericDevice& probe)
{
    auto device = std::make_unique<SCSIDevice>(probe.GetHostAdapter(), probe.GetHANum(), probe.GetTargetNum(),
                                               probe.GetLUNNum());
    device->AdoptIdentity(probe);
    device->SetSerialNum_Str(probe.GetSerialNum_Str());
    device->SetCopyright(probe.GetCopyright());
    device->Init();
    return device;
}

template <class Device>
std::unique_ptr<SCSIDevice> MakeDevice(CGenericDevice& probe)
{
    auto device = std::make_unique<Device>(&probe);
    // A device that fails to set up stays listed; its commands then fail on their own.
    device->Init();
    return device;
}

}  // namespace

std::unique_ptr<SCSIDevice> BuildTypedDevice(CGenericDevice& probe)
{
    switch (probe.GetDevType()) {
    case DEV_DISK:
    case DEV_CDROM:
        return MakeDevice<CDisk>(probe);
    case DEV_TAPE:
        return MakeDevice<CTape>(probe);
    case DEV_OPTICAL:
        return MakeDevice<CMagnetoOptical>(probe);
    case DEV_CHANGER:
        return MakeDevice<CLibraryDev>(probe);
    default:
        return MakePlainDevice(probe);
    }
}
