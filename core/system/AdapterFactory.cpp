#include "core/system/AdapterFactory.h"

#include "core/system/CAMIRAIDChannel.h"
#include "core/system/CAMIRAIDHostAdapter.h"
#include "core/system/CASPIHostAdapter.h"
#include "core/system/CComputerSystem.h"
#include "core/system/CIDEHostAdapter.h"
#include "core/system/CLumenHostAdapter.h"
#include "core/system/CNTPortHostAdapter.h"
#include "core/system/CNoxHostAdapter.h"
#include "core/system/CTestHostAdapter.h"
#include "core/types/CEventError.h"
#include "core/types/StringPrintf.h"

namespace {

[[noreturn]] void ThrowNotInstalled()
{
    throw new CEventError("Driver is not installed correctly", ERR_DRIVER_NOT_INSTALLED);
}

}  // namespace

CHostAdapter* CreateHostAdapter(Driver_t driver, int adapterNumber)
{
    switch (driver) {
    case DRV_DEFAULT:
    case DRV_NONE:
        return nullptr;
    case DRV_NTPORT:
        return new CNTPortHostAdapter(adapterNumber);
    case DRV_IDE:
        return new CIDEHostAdapter(adapterNumber);
    case DRV_ASPI:
        return new CASPIHostAdapter(adapterNumber);
    case DRV_TEST:
        return new CTestHostAdapter(adapterNumber);
    case DRV_NOX:
        return new CNoxHostAdapter(adapterNumber);
    case DRV_AMIRAID:
        return new CAMIRAIDHostAdapter(adapterNumber);
    case DRV_LUMEN:
        return new CLumenHostAdapter(adapterNumber);
    case DRV_AMIRAID_CHANNEL:
        // Channels come from the scan with their controller, never from the configuration.
        ThrowNotInstalled();
    }
    // A number in the configuration that names no transport at all.
    throw new CEventError(StringPrintf("Unknown driver type %d configured for host adapter %d",
                                       static_cast<int>(driver), adapterNumber),
                          ERR_NO_DRIVER_CONFIGURED);
}

CHostAdapter* CreateChannelAdapter(const RaidChannel_s& channel, int adapterNumber)
{
    if (channel.Driver != DRV_AMIRAID_CHANNEL) {
        ThrowNotInstalled();
    }
    auto* adapter = new CAMIRAIDChannel(adapterNumber);
    adapter->SetChannel(channel.Channel, channel.PortIndex);
    return adapter;
}
