#pragma once

#include "core/devices/SCSIDevice.h"

#include <cstdint>

enum MagnetoOptMedia_t : std::int32_t {
    MO_MEDIA_UNKNOWN = 0,
};

// An optical memory device. Its commands are offered but not sent: each
// reports success and touches nothing.
class CMagnetoOptical : public SCSIDevice {
public:
    // Takes the identity the scan's probe found.
    explicit CMagnetoOptical(SCSIDevice* probe);
    CMagnetoOptical(const CMagnetoOptical&) = delete;
    CMagnetoOptical& operator=(const CMagnetoOptical&) = delete;

    Error_t Init();

    MagnetoOptMedia_t GetMediaType() const { return m_MediaType; }
    // The medium is the drive's to tell; the stored type stays.
    bool SetMediaType(MagnetoOptMedia_t) { return true; }

    Error_t AllowMediumRemoval() { return ERR_NONE; }
    Error_t PreventMediumRemoval() { return ERR_NONE; }
    Error_t Erase(unsigned long, long) { return ERR_NONE; }
    Error_t Read(unsigned long, long, unsigned char*) { return ERR_NONE; }
    Error_t Write(unsigned long, long, unsigned char*) { return ERR_NONE; }
    Error_t Verify(unsigned long, long) { return ERR_NONE; }
    Error_t WriteVerify(unsigned long, long, unsigned char*) { return ERR_NONE; }
    Error_t ReadDefectData(unsigned char*) { return ERR_NONE; }

private:
    MagnetoOptMedia_t m_MediaType = MO_MEDIA_UNKNOWN;
};
