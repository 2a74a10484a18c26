#pragma once

// A flag argument (any nonzero value is set) placed at a bit of a CDB byte.
inline unsigned char CdbBit(int on, int position)
{
    return static_cast<unsigned char>((on != 0 ? 1 : 0) << position);
}
