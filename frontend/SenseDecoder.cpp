#include "frontend/SenseDecoder.h"

#include "frontend/CommandRoutine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>

namespace {

constexpr int kAny = -1;    // every qualifier
constexpr int kOther = -2;  // every qualifier no earlier row of the ASC names
constexpr std::size_t kMaxLine = 80;

const char* KeyText(int key)
{
    static const char* const texts[] = {
        "No Sense, ",       "Recovered Error, ", "Not Ready, ", "Medium Error, ",    "Hardware Error, ",
        "Illegal Request, ", "Unit Attn, ",       "Data Protect, ", "Blank Check, ", "Firmware Error, ",
        nullptr,            "Command Aborted, ", nullptr,        "Volume Overflow, ", "Miscompare, ",
    };
    if (key >= 0 && key < static_cast<int>(std::size(texts)) && texts[key] != nullptr) {
        return texts[key];
    }
    return "         ";
}

enum class Slot { Asc, Ascq };

struct BuiltinRow {
    int asc;
    int ascq;
    Slot slot;
    const char* text;
};

constexpr BuiltinRow kBuiltin[] = {
    {0x00, 0x00, Slot::Ascq, "No Additional Sense "},
    {0x00, 0x01, Slot::Ascq, "FM Encountered "},
    {0x00, 0x02, Slot::Ascq, "LEOT Encountered "},
    {0x00, 0x04, Slot::Ascq, "PBOT Encountered "},
    {0x00, kOther, Slot::Ascq, "    "},
    {0x01, kAny, Slot::Asc, "No Index "},
    {0x02, kAny, Slot::Asc, "No Seek Complete "},
    {0x03, kAny, Slot::Asc, "Write Fault "},
    {0x04, kAny, Slot::Asc, "Not Ready "},
    {0x09, kAny, Slot::Asc, "Track Following "},
    {0x0C, kAny, Slot::Asc, "Recovered Write "},
    {0x10, kAny, Slot::Asc, "ID CRC "},
    {0x11, kAny, Slot::Asc, "Read Error "},
    {0x12, kAny, Slot::Asc, "No ID Sync "},
    {0x13, kAny, Slot::Asc, "No Data Sync "},
    {0x14, kAny, Slot::Asc, "Record Not Found "},
    {0x15, 0x00, Slot::Ascq, "Random Position Error "},
    {0x15, 0x01, Slot::Ascq, "Mechanical Error "},
    {0x15, 0x02, Slot::Ascq, "Positioning Error "},
    {0x15, 0x80, Slot::Ascq, "Settling Error "},
    {0x15, kOther, Slot::Ascq, "             "},
    {0x17, kAny, Slot::Asc, "Recovered Data "},
    {0x18, kAny, Slot::Asc, "Recovered Data "},
    {0x19, kAny, Slot::Asc, "Defect List Error "},
    {0x1B, kAny, Slot::Asc, "Sync Data Xfer Error "},
    {0x1C, kAny, Slot::Asc, "P Defect List not Found "},
    {0x20, kAny, Slot::Asc, "Invalid Command opcode "},
    {0x21, kAny, Slot::Asc, "Block out of range "},
    {0x24, kAny, Slot::Asc, "Invalid field in CDB "},
    {0x25, kAny, Slot::Asc, "LUN not Supported "},
    {0x26, kAny, Slot::Asc, "Invalid field in list "},
    {0x27, kAny, Slot::Asc, "Write Protected "},
    {0x29, kAny, Slot::Asc, "Power-on or RESET "},
    {0x2A, kAny, Slot::Asc, "MODE parameters changed "},
    {0x2C, kAny, Slot::Asc, "Command sequence error "},
    {0x31, 0x00, Slot::Ascq, "Medium Corrupt "},
    {0x31, 0x01, Slot::Ascq, "Format Failed "},
    {0x32, 0x00, Slot::Asc, "No Spares left"},
    {0x32, 0x01, Slot::Asc, "Defect Update Failed "},
    {0x37, kAny, Slot::Asc, "Rounded Parameter "},
    {0x3D, kAny, Slot::Asc, "Invalid bits in Identify "},
    {0x3E, kAny, Slot::Asc, "Unit not self configured "},
    {0x40, kAny, Slot::Asc, "Diagnostic Failure "},
    {0x43, kAny, Slot::Asc, "Message error "},
    {0x44, kAny, Slot::Asc, "Internal failure "},
    {0x45, kAny, Slot::Asc, "Select/Reselect Failure "},
    {0x47, kAny, Slot::Asc, "SCSI Parity error "},
    {0x48, kAny, Slot::Asc, "INIT detected error "},
    {0x49, kAny, Slot::Asc, "Invalid message "},
    {0x4C, kAny, Slot::Asc, "Self config failed "},
    {0x4E, kAny, Slot::Asc, "Overlapped commands "},
    {0x98, kAny, Slot::Asc, "Transfer Timeout "},
    {0xC4, kAny, Slot::Asc, "Motor speed failure "},
};

void DecodeBuiltin(int asc, int ascq, SenseTexts& texts)
{
    for (const BuiltinRow& row : kBuiltin) {
        if (row.asc != asc || (row.ascq >= 0 && row.ascq != ascq)) {
            continue;
        }
        (row.slot == Slot::Asc ? texts.asc : texts.ascq) = row.text;
        return;
    }
}

struct FileRow {
    int asc;
    std::optional<int> ascq;  // none: any qualifier
    std::string text;
};

// A whole hexadecimal number of one byte, or nothing.
std::optional<int> ParseHexByte(const std::string& field)
{
    const auto begin = field.find_first_not_of(" \t");
    const auto end = field.find_last_not_of(" \t");
    if (begin == std::string::npos) {
        return std::nullopt;
    }
    const std::string digits = field.substr(begin, end - begin + 1);
    char* stop = nullptr;
    const unsigned long value = std::strtoul(digits.c_str(), &stop, 16);
    if (*stop != '\0' || value > 0xFF || digits[0] == '-' || digits[0] == '+') {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

std::optional<FileRow> ParseRow(const std::string& line)
{
    const auto first = line.find(',');
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const auto second = line.find(',', first + 1);
    if (second == std::string::npos) {
        return std::nullopt;
    }
    FileRow row;
    const auto asc = ParseHexByte(line.substr(0, first));
    if (!asc) {
        return std::nullopt;
    }
    row.asc = *asc;
    const std::string qualifier = line.substr(first + 1, second - first - 1);
    if (qualifier.find('*') == std::string::npos) {
        row.ascq = ParseHexByte(qualifier);
        if (!row.ascq) {
            return std::nullopt;
        }
    } else if (qualifier.find_first_not_of(" \t*") != std::string::npos) {
        return std::nullopt;
    }
    row.text = line.substr(second + 1);
    return row;
}

// One line of at most kMaxLine characters; a longer one is read to its end
// and reported as too long.
bool ReadLine(std::FILE* file, std::string& line, bool& tooLong)
{
    line.clear();
    tooLong = false;
    int c = 0;
    bool any = false;
    while ((c = std::fgetc(file)) != EOF) {
        any = true;
        if (c == '\n') {
            break;
        }
        if (line.size() < kMaxLine) {
            line.push_back(static_cast<char>(c));
        } else {
            tooLong = true;
        }
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return any;
}

void DecodeFromFile(std::FILE* file, int asc, int ascq, SenseTexts& texts)
{
    std::string line;
    bool tooLong = false;
    while (ReadLine(file, line, tooLong)) {
        if (tooLong) {
            continue;
        }
        const auto row = ParseRow(line);
        if (!row || row->asc != asc) {
            continue;
        }
        texts.asc = row->text;
        if (!row->ascq) {
            return;
        }
        if (*row->ascq == ascq) {
            texts.asc.clear();
            texts.ascq = row->text;
            return;
        }
    }
}

}  // namespace

SenseTexts DecodeSenseBytes(const std::uint8_t* sense, const char* tableFile)
{
    return DecodeSenseBytes(SenseView(sense, kFixedSenseHeaderBytes), tableFile);
}

SenseTexts DecodeSenseBytes(const SenseView& sense, const char* tableFile)
{
    SenseTexts texts;
    const int asc = sense.Asc();
    const int ascq = sense.Ascq();
    texts.key = KeyText(sense.Key());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        tableFile != nullptr ? std::fopen(tableFile, "r") : nullptr, &std::fclose);
    if (file) {
        DecodeFromFile(file.get(), asc, ascq, texts);
    } else {
        DecodeBuiltin(asc, ascq, texts);
    }
    return texts;
}

SenseTexts DecodeSense() { return DecodeSenseBytes(SenseView(LastSense()), kSenseTextFile); }
