#pragma once

// The LUN a single-level LUN entry of a REPORT LUNS list names: peripheral
// device addressing on bus 0 or flat space addressing (SPC-4 4.6.6, 4.6.8);
// -1 for every other form, which a port cannot address.
long SingleLevelLun(const unsigned char* entry);

// Bytes of one entry of the list, and of the list's header.
constexpr unsigned long kLunEntryBytes = 8;
