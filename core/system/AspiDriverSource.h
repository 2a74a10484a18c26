#pragma once

class CScsiDriver;

// How the system reaches the ASPI layer, the only transport on Windows 9x.
// Tests install a stand-in here; without one it is the ASPI transport's own
// driver object.
using AspiDriverAcquirer = CScsiDriver* (*)();

void SetAspiDriverAcquirer(AspiDriverAcquirer acquire);
// One reference to the ASPI driver object; null when the ASPI layer cannot be loaded.
CScsiDriver* AcquireAspiDriver();
