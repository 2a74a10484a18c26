#pragma once

// Turns a big-endian field of device data into a host (little-endian) number:
// zero-fills dstLen bytes of dst, then copies min(srcLen, dstLen) bytes in
// reverse order. Negative lengths copy nothing.
void grab_bytes(const void* src, int srcLen, void* dst, int dstLen);
