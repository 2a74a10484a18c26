#include "core/devices/ScsiCommand.h"

#include "core/buffers/AlignedBuffer.h"

void ScsiCommand::Transfer(AlignedBuffer* buffer, unsigned long length, unsigned long flags)
{
    if (buffer != nullptr) {
        Transfer(buffer->Ptr(), buffer->Size(), length, flags);
    } else {
        Transfer(nullptr, 0, length, flags);
    }
}

void ScsiCommand::Transfer(void* data, unsigned long capacity, unsigned long length, unsigned long flags)
{
    Data = data;
    Capacity = data != nullptr ? capacity : 0;
    DataLength = length;
    Flags = flags;
}

void ScsiCommand::PutBigEndian(int offset, int bytes, unsigned long value)
{
    for (int i = bytes - 1; i >= 0; --i) {
        Cdb[offset + i] = static_cast<unsigned char>(value & 0xFF);
        value >>= 8;
    }
}
