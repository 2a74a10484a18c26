#pragma once

#include "core/types/Device.h"

class CHostAdapter;
struct RaidChannel_s;

// The adapter class of one transport; null for the kinds that make no
// adapter (DRV_DEFAULT, DRV_NONE). A transport this build cannot reach is
// thrown as an error event.
CHostAdapter* CreateHostAdapter(Driver_t driver, int adapterNumber);
CHostAdapter* CreateChannelAdapter(const RaidChannel_s& channel, int adapterNumber);
