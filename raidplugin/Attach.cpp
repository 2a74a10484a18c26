// The library's attach and detach: the scan runs when the library is loaded
// and the controller handles close when it is unloaded.
#include "raidplugin/OrbAmiRaid.h"

namespace {

__attribute__((constructor)) void Attach()
{
    fnAMIRaidInit();
}

__attribute__((destructor)) void Detach()
{
    CloseControllers();
}

}  // namespace
