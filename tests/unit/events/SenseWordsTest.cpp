#include "core/types/SenseText.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// key, code and qualifier texts, each starting as a marker that shows when it stays unchanged
std::string Words(int senseKey, int asc, int ascq)
{
    SCSI_SenseData_s sense{};
    sense.Flags = static_cast<std::uint8_t>(0xE0 | senseKey);  // flag bits must not disturb the key
    sense.AdditionalSenseCode = static_cast<std::uint8_t>(asc);
    sense.AdditionalSenseCodeQualifier = static_cast<std::uint8_t>(ascq);
    std::string key = "k", code = "c", qualifier = "q";
    InterpretSense(&sense, key, code, qualifier);
    return key + "|" + code + "|" + qualifier;
}

}  // namespace

TEST(SenseWords, KeysAndCodesAtTheEdgesOfTheTables)
{
    const std::string blanks9(9, ' ');
    EXPECT_EQ(Words(0x0, 0x01, 0x77), "No Sense, |No Index |q");
    EXPECT_EQ(Words(0x6, 0x29, 0), "Unit Attn, |Power-on or RESET |q");
    EXPECT_EQ(Words(0x9, 0x17, 1), "Firmware Error = |Recovered Data |q");
    EXPECT_EQ(Words(0xA, 0x18, 2), blanks9 + "|Recovered Data |q");
    EXPECT_EQ(Words(0xC, 0x98, 0), blanks9 + "|Transfer Timeout |q");
    EXPECT_EQ(Words(0xE, 0xC4, 0), "Miscompare, |Motor speed failure |q");
    EXPECT_EQ(Words(0xF, 0x05, 0), blanks9 + "|c|q");
    EXPECT_EQ(Words(0x4, 0xC5, 0), "Hardware Error, |c|q");
}

TEST(SenseWords, CodesThatDependOnTheQualifier)
{
    EXPECT_EQ(Words(0, 0x00, 0x00), "No Sense, |c|No Additional Sense ");
    EXPECT_EQ(Words(0, 0x00, 0x04), "No Sense, |c|PBOT Encountered ");
    EXPECT_EQ(Words(0, 0x00, 0x03), "No Sense, |c|    ");
    EXPECT_EQ(Words(4, 0x15, 0x80), "Hardware Error, |c|Settling Error ");
    EXPECT_EQ(Words(4, 0x15, 0x03), "Hardware Error, |c|" + std::string(13, ' '));
    EXPECT_EQ(Words(3, 0x31, 0x01), "Medium Error, |c|Format Failed ");
    EXPECT_EQ(Words(3, 0x31, 0x02), "Medium Error, |c|q");
    EXPECT_EQ(Words(4, 0x32, 0x00), "Hardware Error, |No Spares left|q");
    EXPECT_EQ(Words(4, 0x32, 0x01), "Hardware Error, |Defect Update Failed |q");
    EXPECT_EQ(Words(4, 0x32, 0x02), "Hardware Error, |c|q");
}

TEST(SenseWords, HostAdapterStatus)
{
    EXPECT_STREQ(HostAdapterStatusText(0x09), "Time out while SRB was waiting to be processed");
    EXPECT_STREQ(HostAdapterStatusText(0x11), "Selection Timeout");
    EXPECT_STREQ(HostAdapterStatusText(0x14), "Target bus phase sequence failure");
    for (int unknown : {-1, 0x08, 0x0A, 0x15, 0x109}) {
        EXPECT_STREQ(HostAdapterStatusText(unknown), "Unknown adapter failure") << unknown;
    }
}

TEST(SenseWords, EveryWordOfTheTables)
{
    const std::string blanks9(9, ' ');
    const std::vector<std::pair<int, std::string>> keys = {
        {0x0, "No Sense, "},       {0x1, "Recovered Error, "}, {0x2, "Not Ready, "},      {0x3, "Medium Error, "},
        {0x4, "Hardware Error, "}, {0x5, "Illegal Request, "}, {0x6, "Unit Attn, "},      {0x7, "Data Protect, "},
        {0x8, "Blank Check, "},    {0x9, "Firmware Error = "}, {0xA, blanks9},            {0xB, "Command Aborted, "},
        {0xC, blanks9},            {0xD, "Volume Overflow, "}, {0xE, "Miscompare, "},     {0xF, blanks9},
    };
    for (const auto& [key, text] : keys) {
        EXPECT_EQ(Words(key, 0x05, 0), text + "|c|q") << "key " << key;
    }
    // ASC alone decides these; the qualifier must not matter.
    const std::vector<std::pair<int, std::string>> codes = {
        {0x01, "No Index "},           {0x02, "No Seek Complete "},      {0x03, "Write Fault "},
        {0x04, "Not Ready "},          {0x09, "Track Following "},       {0x0C, "Recovered Write "},
        {0x10, "ID CRC "},             {0x11, "Read Error "},            {0x12, "No ID Sync "},
        {0x13, "No Data Sync "},       {0x14, "Record Not Found "},      {0x17, "Recovered Data "},
        {0x18, "Recovered Data "},     {0x19, "Defect List Error "},     {0x1B, "Sync Data Xfer Error "},
        {0x1C, "P Defect List not Found "}, {0x20, "Invalid Command opcode "}, {0x21, "Block out of range "},
        {0x24, "Invalid field in CDB "}, {0x25, "LUN not Supported "},   {0x26, "Invalid field in list "},
        {0x27, "Write Protected "},    {0x29, "Power-on or RESET "},     {0x2A, "MODE parameters changed "},
        {0x2C, "Command sequence error "}, {0x37, "Rounded Parameter "}, {0x3D, "Invalid bits in Identify "},
        {0x3E, "Unit not self configured "}, {0x40, "Diagnostic Failure "}, {0x43, "Message error "},
        {0x44, "Internal failure "},   {0x45, "Select/Reselect Failure "}, {0x47, "SCSI Parity error "},
        {0x48, "INIT detected error "}, {0x49, "Invalid message "},      {0x4C, "Self config failed "},
        {0x4E, "Overlapped commands "}, {0x98, "Transfer Timeout "},     {0xC4, "Motor speed failure "},
    };
    for (const auto& [asc, text] : codes) {
        for (int ascq : {0x00, 0x01, 0x80}) {
            EXPECT_EQ(Words(3, asc, ascq), "Medium Error, |" + text + "|q") << "asc " << asc << " ascq " << ascq;
        }
    }
    const std::vector<std::tuple<int, int, std::string>> qualified = {
        {0x00, 0x00, "No Additional Sense "}, {0x00, 0x01, "FM Encountered "}, {0x00, 0x02, "LEOT Encountered "},
        {0x00, 0x04, "PBOT Encountered "},    {0x15, 0x00, "Random Position Error "},
        {0x15, 0x01, "Mechanical Error "},    {0x15, 0x02, "Positioning Error "},
        {0x15, 0x80, "Settling Error "},      {0x31, 0x00, "Medium Corrupt "},   {0x31, 0x01, "Format Failed "},
    };
    for (const auto& [asc, ascq, text] : qualified) {
        EXPECT_EQ(Words(3, asc, ascq), "Medium Error, |c|" + text) << "asc " << asc << " ascq " << ascq;
    }
    for (int unlisted : {0x05, 0x0A, 0x16, 0x1A, 0x22, 0x28, 0x33, 0x3F, 0x99, 0xFF}) {
        EXPECT_EQ(Words(3, unlisted, 0), "Medium Error, |c|q") << "asc " << unlisted;
    }

    const std::vector<std::pair<int, const char*>> adapter = {
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
        {0x0C, "Unknown adapter failure"},
        {0x00, "Unknown adapter failure"},
    };
    for (const auto& [status, text] : adapter) {
        EXPECT_STREQ(HostAdapterStatusText(status), text) << "status " << status;
    }
}
