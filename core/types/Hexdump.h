#pragma once

class AlignedBuffer;

// Appends title and the first min(count, 160) bytes of buf to "mode.txt" in
// the current folder, 16 bytes a line; never more than the buffer holds. The
// first two arguments are not used. False when the file cannot be opened.
bool HexdumpToLogFile(const char* unused1, const char* unused2, const char* title, const AlignedBuffer* buf,
                      int count);
