// The commands of the format pages: block size and capacity through the mode
// parameter block descriptor, and one drive's FORMAT UNIT with its progress.
#pragma once

#include "frontend/CommandRoutine.h"
#include "frontend/DeviceRecord.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

// What one format worker owns; the page reads `running` and the record's
// percent while it lives, the rest once `running` is 0.
struct FormatJob {
    DeviceRecord record;
    unsigned long ctlIndex = 0;
    // FMTDATA and CMPLST: the header follows, the grown list is replaced.
    Cdb cdb = cdb::FormatUnit(true, true, kDefectShortBlock);
    std::atomic<std::int32_t> running{0};
    std::uint8_t commandResult = 0;
    std::uint8_t hostStatus = 0;
    std::int32_t senseLength = 0;
    std::array<std::uint8_t, kRecordSenseBytes> sense{};

    void Keep(const CdbAnswer& answer);
};

// The worker's whole life: START, FORMAT UNIT with FOV and IMMED, then progress
// every 5 s until the drive reports 100 %, a negative progress or a failure.
void RunFormat(FormatJob& job);

// From a TEST UNIT READY, kept in the job: 0 to 100, or -1 when the format ended badly.
double FormatProgress(FormatJob& job);

struct FormatOutcome {
    std::string log;
    std::string status;
    TestState state = TEST_FAILED;
};

// formatOnly: the format-only page reports a FORMAT UNIT not carried out with its FRU code always.
FormatOutcome DescribeFormatOutcome(const FormatJob& job, bool formatOnly, const std::string& time);

// The block sizes offered; OTHER takes the typed value.
enum BlockSizeChoice { BLOCK_512, BLOCK_520, BLOCK_1024, BLOCK_OTHER };

// On success the record's state stays 1 and the format may follow.
bool ChangeBlockSize(DeviceRecord& record, BlockSizeChoice choice, std::uint32_t typed);

// highBlock 0 asks for the factory maximum. The record ends in state 2 or 4.
void ChangeCapacity(DeviceRecord& record, std::uint32_t highBlock);

// A decimal text, optionally led by "+", greater than 0 and at most limit; 0 when not.
std::uint32_t ParsePositive(const std::string& text, std::uint32_t limit);
