#pragma once

#include <cstdint>

class AlignedBuffer;

// One command as a command set describes it before it is built into a
// control block: CDB, data area, direction and time-out.
struct ScsiCommand {
    static constexpr unsigned long kDataIn = 0x08;
    static constexpr unsigned long kDataOut = 0x10;

    explicit ScsiCommand(unsigned char cdbLength, long timeout) : CdbLength(cdbLength), Timeout(timeout) {}

    // Multi-byte CDB fields are big-endian.
    void Put16(int offset, unsigned long value) { PutBigEndian(offset, 2, value); }
    void Put24(int offset, unsigned long value) { PutBigEndian(offset, 3, value); }
    void Put32(int offset, unsigned long value) { PutBigEndian(offset, 4, value); }
    void Put64(int offset, unsigned long value) { PutBigEndian(offset, 8, value); }
    // The transfer may use at most the buffer's size; length bytes move in the direction of flags.
    void Transfer(AlignedBuffer* buffer, unsigned long length, unsigned long flags);
    void Transfer(void* data, unsigned long capacity, unsigned long length, unsigned long flags);

    unsigned char Cdb[16] = {};
    unsigned char CdbLength;
    void* Data = nullptr;
    unsigned long Capacity = 0;
    unsigned long DataLength = 0;
    unsigned long Flags = 0;
    long Timeout;
    unsigned long Lba = 0;
    unsigned long Blocks = 0;

private:
    void PutBigEndian(int offset, int bytes, unsigned long value);
};
