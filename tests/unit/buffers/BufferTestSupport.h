#pragma once

#include "core/buffers/AlignedBuffer.h"

// Reaches the probe the computer system uses.
class Probe : public AlignedBuffer {
public:
    using AlignedBuffer::TestBuffer;
};

// The Error_t that f throws, or ERR_NONE.
template <class F>
Error_t ThrownCode(F&& f)
{
    try {
        f();
    } catch (Error_t code) {
        return code;
    }
    return ERR_NONE;
}

inline unsigned long Available()
{
    unsigned long bytes = 0;
    AlignedBuffer::GetAvailable(&bytes);
    return bytes;
}
