#pragma once

#include "core/devices/SCSIDevice.h"

#include <cstdint>

// Kinds of medium changer elements, numbered as the changer commands number them.
enum Element_t : std::int32_t {
    ELEMENT_ALL = 0,
    ELEMENT_TRANSPORT = 1,
    ELEMENT_STORAGE = 2,
    ELEMENT_IMPORT_EXPORT = 3,
    ELEMENT_DATA_TRANSFER = 4,
};

// A medium changer. Its commands are offered but not sent: each reports
// success and touches nothing.
class CLibraryDev : public SCSIDevice {
public:
    // Takes the identity the scan's probe found.
    explicit CLibraryDev(SCSIDevice* probe);
    CLibraryDev(const CLibraryDev&) = delete;
    CLibraryDev& operator=(const CLibraryDev&) = delete;

    Error_t Init();

    Error_t ExchangeMedium(int, Element_t, int, Element_t, int) { return ERR_NONE; }
    Error_t InitElementStatus() { return ERR_NONE; }
    Error_t MoveMedium(int, Element_t, int, Element_t, int, bool) { return ERR_NONE; }
    Error_t PositionTo(int, Element_t, int, bool) { return ERR_NONE; }
    Error_t PreventMediumRemoval() { return ERR_NONE; }
    Error_t ReadElementStatus(long, int, Element_t, unsigned char*) { return ERR_NONE; }
    Error_t RequestElementAddress(long, int, Element_t, unsigned char*) { return ERR_NONE; }
    Error_t SendVolumeTag(int, Element_t) { return ERR_NONE; }
    // The address is left as it was.
    Error_t Element2DevAddress(int, Element_t, CDevAddress&) { return ERR_NONE; }
};
