#pragma once

#include <vector>

// The LUN a single-level LUN entry of a REPORT LUNS list names: peripheral
// device addressing on bus 0 or flat space addressing (SPC-4 4.6.6, 4.6.8);
// -1 for every other form, which a port cannot address.
long SingleLevelLun(const unsigned char* entry);

// Bytes of one entry of the list, and of the list's header.
constexpr unsigned long kLunEntryBytes = 8;

// The REPORT LUNS allocation length a first ask uses: 256 entries, every LUN
// a port can address when a target lists them in order.
constexpr unsigned long kLunListFirstAsk = kLunEntryBytes * (1 + 256);
// The most a list is asked for again (65,536 entries): a larger claim is
// taken as far as that.
constexpr unsigned long kLunListMostAsked = kLunEntryBytes * (1 + 65536);

// Bytes the whole list needs, header included, by its LUN LIST LENGTH (SPC-4
// 6.33): when that is more than was asked for, the list is asked for again.
unsigned long LunListBytes(const unsigned char* header);

// The single-level LUNs below limit that the answer of `size` bytes holds,
// ascending and each once: a target may repeat a LUN or name it both ways.
std::vector<unsigned long> LunsBelow(const unsigned char* list, unsigned long size, unsigned long limit);
