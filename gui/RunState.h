#pragma once

#include <atomic>
#include <cstdint>
#include <string>

// Which long operation runs; menus and toolbars are enabled from it.
enum Activity : std::int32_t {
    ACTIVITY_NONE = 0,
    ACTIVITY_RESCAN = 1,
    ACTIVITY_FIRMWARE = 4,
    ACTIVITY_FORMAT = 5,
    ACTIVITY_DRIVE_TESTS = 6,
    ACTIVITY_STANDARD_PREFERENCES = 7,
    ACTIVITY_SPECIAL_PREFERENCES = 8,
};

// The program-wide run state that the long operations and the status display share.
struct RunState {
    std::atomic<std::int32_t> activity{ACTIVITY_NONE};
    std::atomic<std::int32_t> abortFlag{0};
    std::atomic<std::int32_t> progressPosition{0};
    std::atomic<std::int32_t> progressRange{100};
    // Written and read on the window's thread only.
    std::string elapsedText = "00:00:00";

    bool Busy() const { return activity.load() != ACTIVITY_NONE; }
    // A firmware download or a format, once started, cannot be stopped safely.
    bool Abortable() const
    {
        const std::int32_t now = activity.load();
        return now != ACTIVITY_NONE && now != ACTIVITY_FIRMWARE && now != ACTIVITY_FORMAT;
    }
};
