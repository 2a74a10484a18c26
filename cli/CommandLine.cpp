#include "cli/CommandLine.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr int kMaxLun = 255;

struct Keyword {
    const char* text;
    CliCommand command;
};

constexpr Keyword kKeywords[] = {
    {"?", CMD_USAGE},     {"v", CMD_VERSION},     {"c", CMD_COPYRIGHT},     {"r", CMD_RMA},
    {"l", CMD_LIST},      {"i", CMD_INQUIRY},     {"t", CMD_SHORT_DST},     {"tl", CMD_LONG_DST},
    {"s", CMD_STOP_DST},  {"g", CMD_GENERIC_SHORT}, {"gl", CMD_GENERIC_LONG},
};

std::optional<CliCommand> LookUp(std::string word)
{
    std::transform(word.begin(), word.end(), word.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const Keyword& keyword : kKeywords) {
        if (word == keyword.text) {
            return keyword.command;
        }
    }
    return std::nullopt;
}

bool IsOption(const std::string& argument)
{
    return (!argument.empty() && argument[0] == '/') || (argument.size() > 1 && argument[0] == '-');
}

std::optional<int> ParseNumber(const std::string& text)
{
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < 0) {
        return std::nullopt;
    }
    return value;
}

// As atoi reads it, but a number beyond what the device record's float
// carries exactly is held at that bound instead of overflowing.
int ParsePercent(const std::string& text)
{
    constexpr long kMaxPercent = 1L << 24;
    return static_cast<int>(std::clamp(std::strtol(text.c_str(), nullptr, 10), -kMaxPercent, kMaxPercent));
}

struct LongOption {
    const char* text;
    CliCommand command;
    bool takesValue;
};

constexpr LongOption kLongOptions[] = {
    {"--health", CMD_HEALTH, false},
    {"--selftest", CMD_SELF_TEST, true},
    {"--metrics", CMD_METRICS, true},
};

// A double-dash option with its value, if it takes one; false for any other
// argument. Only the first command counts, as with the keywords.
bool TakeLongOption(const std::vector<std::string>& arguments, std::size_t& at, CommandLine& line)
{
    for (const LongOption& option : kLongOptions) {
        if (arguments[at] != option.text) {
            continue;
        }
        std::string value;
        const bool missing = option.takesValue && (at + 1 >= arguments.size() || arguments[at + 1].starts_with("-"));
        if (option.takesValue && !missing) {
            value = arguments[++at];
        }
        if (line.command == CMD_NONE) {
            line.command = option.command;
            if (missing) {
                line.health.problem = std::string(option.text) + " needs a value after it";
            }
            if (option.command == CMD_METRICS) {
                line.health.metricsFile = value;
            } else if (option.command == CMD_SELF_TEST) {
                line.health.selfTestAction = value;
            }
        }
        return true;
    }
    return false;
}

std::vector<std::string> SplitAtColons(const std::string& text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t colon = text.find(':'); colon != std::string::npos; colon = text.find(':', start)) {
        parts.push_back(text.substr(start, colon - start));
        start = colon + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

}  // namespace

std::string KeywordOf(CliCommand command)
{
    for (const Keyword& keyword : kKeywords) {
        if (keyword.command == command) {
            return keyword.text;
        }
    }
    return {};
}

bool ParseDeviceAddress(const std::string& text, DeviceRecord& record)
{
    const std::vector<std::string> parts = SplitAtColons(text);
    if (parts.size() < 3 || parts.size() > 5) {
        return false;
    }
    std::vector<int> numbers;
    for (const std::string& part : parts) {
        const auto number = ParseNumber(part);
        if (!number) {
            return false;
        }
        numbers.push_back(*number);
    }
    // A port addresses LUNs with one byte: 0 to 255, whatever REPORT LUNS lists.
    if (numbers.back() > kMaxLun) {
        return false;
    }
    record.hostAdapter = numbers[0];
    if (numbers.size() == 3) {
        record.kind = KIND_PLAIN;
        record.target = numbers[1];
        record.lun = numbers[2];
    } else if (numbers.size() == 4) {
        record.kind = KIND_CHANNEL;
        record.channel = numbers[1];
        record.target = numbers[2];
        record.lun = numbers[3];
    } else {
        record.kind = KIND_RAID;
        record.raidTarget = numbers[1];
        record.channel = numbers[2];
        record.target = numbers[3];
        record.lun = numbers[4];
    }
    return true;
}

CommandLine ParseArguments(const std::vector<std::string>& arguments)
{
    CommandLine line;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (TakeLongOption(arguments, at, line)) {
            continue;
        }
        if (argument.starts_with(kDevPrefix)) {
            // Looked up once the machine is known; a later address overwrites it.
            line.deviceGiven = true;
            line.deviceText = argument;
            line.deviceName = argument;
            line.addressParsed = false;
            line.device = DeviceRecord{};
        } else if (IsOption(argument)) {
            if (const auto command = LookUp(argument.substr(1)); command && line.command == CMD_NONE) {
                line.command = *command;
            }
        } else if (argument.find(':') != std::string::npos) {
            line.deviceGiven = true;
            line.deviceText = argument;
            line.deviceName.clear();
            DeviceRecord fresh;
            if (ParseDeviceAddress(argument, fresh)) {
                line.device = fresh;
                line.addressParsed = true;
            } else {
                line.addressParsed = false;
                std::printf("Invalid device address : %s\n", argument.c_str());
            }
        } else if (argument.find('%') != std::string::npos) {
            line.percent = ParsePercent(argument.substr(0, argument.find('%')));
            line.percentGiven = true;
        } else {
            std::printf("Unexpected keyword : %s\n", argument.c_str());
        }
    }
    return line;
}
