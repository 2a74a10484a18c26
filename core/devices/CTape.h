#pragma once

#include "core/devices/SCSIDevice.h"

#include <cstdint>

enum BlockMode_t : std::int32_t {
    BLOCK_MODE_VARIABLE = 0,
    BLOCK_MODE_FIXED = 1,
};

enum TapeMedia_t : std::int32_t {
    TAPE_MEDIA_UNKNOWN = 0,
};

// A sequential-access device: positioning and housekeeping commands. Data
// transfer is not offered; those operations report success and move nothing.
class CTape : public SCSIDevice {
public:
    // Takes the identity the scan's probe found.
    explicit CTape(SCSIDevice* probe);
    CTape(const CTape&) = delete;
    CTape& operator=(const CTape&) = delete;

    Error_t Init();

    Error_t AllowMediumRemoval(unsigned long index, bool prevent);
    Error_t Erase(unsigned long index, bool immediate, bool longErase);
    Error_t LoadUnload(unsigned long index, bool immediate, bool load, bool retension, bool endOfTape);
    // Also keeps the limits the drive reports.
    Error_t ReadBlockLimits(unsigned long index, AlignedBuffer* buffer);
    Error_t Rewind(unsigned long index, bool immediate);
    // A negative count spaces backwards.
    Error_t Space(unsigned long index, long& count, unsigned char code);
    Error_t WriteFilemarks(unsigned long index, long count, bool immediate, bool setmarks);
    Error_t Locate(unsigned long index, long block, bool immediate, bool changePartition, bool blockType,
                   unsigned char partition);

    Error_t Read(unsigned long index, long blocks, long length, unsigned char* data);
    Error_t Write(unsigned long index, long blocks, long length, unsigned char* data);
    Error_t Verify(unsigned long index, long blocks, long length);

    using OrbDevice::SetBlockLength;
    virtual void SetBlockLength(unsigned long index, unsigned long length);

    BlockMode_t GetBlockMode() const { return m_BlockMode; }
    void SetBlockMode(BlockMode_t mode) { m_BlockMode = mode; }
    TapeMedia_t GetMediaType() const { return m_MediaType; }
    void SetMediaType(TapeMedia_t type) { m_MediaType = type; }
    unsigned long GetMinBlockLength() const { return m_MinBlockLength; }
    unsigned long GetMaxBlockLength() const { return m_MaxBlockLength; }

private:
    BlockMode_t m_BlockMode = BLOCK_MODE_VARIABLE;
    TapeMedia_t m_MediaType = TAPE_MEDIA_UNKNOWN;
    std::uint32_t m_MinBlockLength = 0xFFFFFFFF;
    std::uint32_t m_MaxBlockLength = 0xFFFFFFFF;
};
