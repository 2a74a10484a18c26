#pragma once

#include "cli/HealthRequest.h"
#include "frontend/DeviceRecord.h"

#include <string>
#include <vector>

enum CliCommand : int {
    CMD_NONE = -1,
    CMD_USAGE = 10,
    CMD_VERSION = 14,
    CMD_COPYRIGHT = 15,
    CMD_RMA = 16,
    CMD_LIST = 17,
    CMD_INQUIRY = 18,
    CMD_SHORT_DST = 20,
    CMD_LONG_DST = 21,
    CMD_STOP_DST = 22,
    CMD_GENERIC_SHORT = 23,
    CMD_GENERIC_LONG = 24,
    // Beyond the original keywords: double-dash options.
    CMD_HEALTH = 100,
    CMD_SELF_TEST = 101,
    CMD_METRICS = 102,
};

struct CommandLine {
    CliCommand command = CMD_NONE;
    DeviceRecord device;
    bool deviceGiven = false;
    // The last device argument as typed, and whether the record holds an address from it.
    std::string deviceText;
    bool addressParsed = false;
    // A /dev name given as the device ("/dev/sdb", "/dev/sg1", a /dev/disk/by-id link).
    std::string deviceName;
    int percent = 0;
    bool percentGiven = false;
    HealthRequest health;
};

// The keyword of a command as the usage shows it ("tl"); empty for none.
std::string KeywordOf(CliCommand command);

// The part of /dev a device name must start with.
constexpr const char* kDevPrefix = "/dev/";

// Fills the record from "HA:TAR:LUN", "HA:CH:TAR:LUN" or "HA:RT:CH:TAR:LUN";
// false (record untouched) for any other form, a number that is not one or a
// LUN past 255.
bool ParseDeviceAddress(const std::string& text, DeviceRecord& record);

// The arguments without the program name. Unexpected plain arguments are
// reported on standard output and skipped.
CommandLine ParseArguments(const std::vector<std::string>& arguments);
