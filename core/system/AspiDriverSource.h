#pragma once

class CScsiDriver;

// How the system reaches the ASPI layer, the only transport on Windows 9x.
// The ASPI transport installs its acquire operation here.
using AspiDriverAcquirer = CScsiDriver* (*)();

void SetAspiDriverAcquirer(AspiDriverAcquirer acquire);
// One reference to the ASPI driver object; null when no ASPI layer is installed.
CScsiDriver* AcquireAspiDriver();
