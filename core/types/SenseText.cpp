#include "core/types/SenseText.h"

#include <array>
#include <utility>

namespace {

using Word = std::pair<int, const char*>;

const char* FindWord(const Word* first, const Word* last, int key)
{
    for (; first != last; ++first) {
        if (first->first == key) {
            return first->second;
        }
    }
    return nullptr;
}

const char* SenseKeyWord(int key)
{
    static constexpr std::array<Word, 13> words{{
        {0x0, "No Sense, "},        {0x1, "Recovered Error, "}, {0x2, "Not Ready, "},
        {0x3, "Medium Error, "},    {0x4, "Hardware Error, "},  {0x5, "Illegal Request, "},
        {0x6, "Unit Attn, "},       {0x7, "Data Protect, "},    {0x8, "Blank Check, "},
        {0x9, "Firmware Error = "}, {0xB, "Command Aborted, "}, {0xD, "Volume Overflow, "},
        {0xE, "Miscompare, "},
    }};
    const char* word = FindWord(words.begin(), words.end(), key);
    return word != nullptr ? word : "         ";
}

// Words that depend on the ASC alone.
const char* CodeWord(int asc)
{
    static constexpr std::array<Word, 39> words{{
        {0x01, "No Index "},
        {0x02, "No Seek Complete "},
        {0x03, "Write Fault "},
        {0x04, "Not Ready "},
        {0x09, "Track Following "},
        {0x0C, "Recovered Write "},
        {0x10, "ID CRC "},
        {0x11, "Read Error "},
        {0x12, "No ID Sync "},
        {0x13, "No Data Sync "},
        {0x14, "Record Not Found "},
        {0x17, "Recovered Data "},
        {0x18, "Recovered Data "},
        {0x19, "Defect List Error "},
        {0x1B, "Sync Data Xfer Error "},
        {0x1C, "P Defect List not Found "},
        {0x20, "Invalid Command opcode "},
        {0x21, "Block out of range "},
        {0x24, "Invalid field in CDB "},
        {0x25, "LUN not Supported "},
        {0x26, "Invalid field in list "},
        {0x27, "Write Protected "},
        {0x29, "Power-on or RESET "},
        {0x2A, "MODE parameters changed "},
        {0x2C, "Command sequence error "},
        {0x37, "Rounded Parameter "},
        {0x3D, "Invalid bits in Identify "},
        {0x3E, "Unit not self configured "},
        {0x40, "Diagnostic Failure "},
        {0x43, "Message error "},
        {0x44, "Internal failure "},
        {0x45, "Select/Reselect Failure "},
        {0x47, "SCSI Parity error "},
        {0x48, "INIT detected error "},
        {0x49, "Invalid message "},
        {0x4C, "Self config failed "},
        {0x4E, "Overlapped commands "},
        {0x98, "Transfer Timeout "},
        {0xC4, "Motor speed failure "},
    }};
    return FindWord(words.begin(), words.end(), asc);
}

const char* NoSenseQualifierWord(int ascq)
{
    static constexpr std::array<Word, 4> words{{
        {0x00, "No Additional Sense "},
        {0x01, "FM Encountered "},
        {0x02, "LEOT Encountered "},
        {0x04, "PBOT Encountered "},
    }};
    const char* word = FindWord(words.begin(), words.end(), ascq);
    return word != nullptr ? word : "    ";
}

const char* PositioningQualifierWord(int ascq)
{
    static constexpr std::array<Word, 4> words{{
        {0x00, "Random Position Error "},
        {0x01, "Mechanical Error "},
        {0x02, "Positioning Error "},
        {0x80, "Settling Error "},
    }};
    const char* word = FindWord(words.begin(), words.end(), ascq);
    return word != nullptr ? word : "             ";
}

const char* MediumFormatQualifierWord(int ascq)
{
    static constexpr std::array<Word, 2> words{{{0x00, "Medium Corrupt "}, {0x01, "Format Failed "}}};
    return FindWord(words.begin(), words.end(), ascq);
}

const char* DefectListCodeWord(int ascq)
{
    static constexpr std::array<Word, 2> words{{{0x00, "No Spares left"}, {0x01, "Defect Update Failed "}}};
    return FindWord(words.begin(), words.end(), ascq);
}

void Assign(std::string& text, const char* word)
{
    if (word != nullptr) {
        text = word;
    }
}

}  // namespace

void InterpretSense(const SCSI_SenseData_s* sense, std::string& keyText, std::string& codeText,
                    std::string& qualifierText)
{
    if (sense == nullptr) {
        return;
    }
    keyText = SenseKeyWord(sense->SenseKey());
    const int asc = sense->Asc();
    const int ascq = sense->Ascq();
    switch (asc) {
    case 0x00:
        Assign(qualifierText, NoSenseQualifierWord(ascq));
        break;
    case 0x15:
        Assign(qualifierText, PositioningQualifierWord(ascq));
        break;
    case 0x31:
        Assign(qualifierText, MediumFormatQualifierWord(ascq));
        break;
    case 0x32:
        Assign(codeText, DefectListCodeWord(ascq));
        break;
    default:
        Assign(codeText, CodeWord(asc));
        break;
    }
}

const char* HostAdapterStatusText(int status)
{
    static constexpr std::array<Word, 10> words{{
        {0x09, "Time out while SRB was waiting to be processed"},
        {0x0B, "Adapter time out processing SRB"},
        {0x0D, "While processing SRB, adapter received a MESSAGE"},
        {0x0E, "A bus reset was detected"},
        {0x0F, "A parity error was detected"},
        {0x10, "The adapter failed in issuing request sense"},
        {0x11, "Selection Timeout"},
        {0x12, "Data overrun / underrun"},
        {0x13, "Unexpected bus free"},
        {0x14, "Target bus phase sequence failure"},
    }};
    const char* word = FindWord(words.begin(), words.end(), status);
    return word != nullptr ? word : "Unknown adapter failure";
}
