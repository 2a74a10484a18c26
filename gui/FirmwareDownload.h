// The firmware download of one drive: WRITE BUFFER chunks from a firmware
// file, then the rounds that wait for the drive to come back ready.
#pragma once

#include "frontend/DeviceRecord.h"

#include <string>

// ".kst" files carry a header of this size before the image.
constexpr std::size_t kKstHeaderBytes = 80;

bool IsKstFile(const std::string& path);
bool IsLodFile(const std::string& path);
// A FIFO or a device would block whoever opens it: only regular files are firmware files.
bool IsRegularFile(const std::string& path);

// The revision a ".kst" header "KESTREL,<product>,<revision>" names; empty when none.
std::string KstRevision(const std::string& path);

// The ".kst" file's header names the drive's INQUIRY product (up to its first
// blank) and the maker. False when the file cannot be read.
bool ProductMatches(const std::string& path, const std::string& inquiryProduct);

struct DownloadJob {
    std::string path;
    bool headerless = false;  // ".lod": sent from its first byte
    bool notIbm = true;       // IBM drives take the segmented download
    std::string revisionBefore;
    // What the drive must report afterwards; empty for a ".lod" file, which names none.
    std::string expectedRevision;
};

// Runs on the drive's own thread; progress and outcome go to the record's
// status (state 2 or 4 at the end) and to the log. A download passes only
// when the drive comes back ready and reports the revision the file carries.
void DownloadFirmware(DeviceRecord& record, const DownloadJob& job);

// MODE SENSE(6) of all current pages logged under the heading, or
// "Mode Sense Error on Target %d".
void LogModePages(DeviceRecord& record, const char* heading);
