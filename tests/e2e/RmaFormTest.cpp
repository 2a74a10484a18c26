#include "CliRunner.h"

#include <gtest/gtest.h>

namespace {

const std::string kRmaFile = "rmalog.txt";

const std::string kInstructions =
    "See the Harrow Viraradiza.HLP file for complete contact information, return procedures and packaging "
    "instructions.\n\n"
    "Disclaimer: Kestrel is not responsible for any lost data on a returned drive.  All data \n"
    "\tis destroyed on returned drives.  If you need Data Recovery, see the Harrow \n"
    "\tViraradiza.HLP file for data recovery contact information prior to shipping your\n"
    "\tdrive or system in for replacement.\n\n"
    "Verify the Model Number and Serial Number shown above matches information shown on the label found on "
    "the top cover of the drive.\n\n"
    "If authorized by your system manufacturer, before removing the drive from the system, take the following "
    "precautions: \n\n"
    "\tDisconnect power to the computer \n"
    "\tGround yourself to prevent Electro-Static Discharge (ESD) damage by  wearing an \n"
    "\tESD wrist strap or by touching a metal portion of the  computer case \n"
    "\tRemove the power connector and interface cable to the drive before  attempting to \n"
    "\tremove any mounting screws holding the drive in the  case \n"
    "\tPlace the drive in approved packaging as soon as possible\n\n";

const std::string kPrompts = "\nEnter contact name : Enter contact phone number : Enter contact email : ";

const std::string kJane = "Jane Doe\n555-0100\njane@example.com\n";
const std::string kJaneLines = "Contact: Jane Doe\nPhone: 555-0100\nEmail: jane@example.com\n\n";

std::string Form(const std::string& identity, const std::string& contact)
{
    return "<TIME> \n\n" + identity + contact + kInstructions;
}

const std::string kNoIdentity = "Product = " + std::string(20, ' ') + " Serial Number = " + std::string(10, ' ') + "\n";

// Product and serial number are padded to their fields, blank for a device
// that does not answer; the contact lines keep the line ends typed.
TEST(RmaForm, FormOfEachDeviceAndContact)
{
    const struct {
        std::vector<std::string> arguments;
        std::string input;
        std::string form;
    } cases[] = {
        {{"-r", "0:0:0"}, kJane, Form("Product = KX18LVD              Serial Number = LAB00001  \n", kJaneLines)},
        {{"-r", "0:3:0"}, kJane, Form(kNoIdentity, kJaneLines)},
        {{"-r"}, "Jane Doe\r\n555-0100\r\njane@example.com\r\n",
         Form(kNoIdentity, "Contact: Jane Doe\r\nPhone: 555-0100\r\nEmail: jane@example.com\r\n\n")},
    };
    for (const auto& c : cases) {
        CliRunner cli(MachinePath("lab.json"));
        const auto run = cli.Run(c.arguments, c.input);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_EQ(AfterInit(run), kPrompts);
        EXPECT_EQ(MaskTimes(cli.ReadWorkFile(kRmaFile)), c.form);
    }
}

TEST(RmaForm, WithoutDeviceFieldsAreBlankAndRunsAppend)
{
    CliRunner cli(MachinePath("lab.json"));
    auto run = cli.Run({"-r"}, kJane);
    EXPECT_EQ(run.exitCode, 0);
    const std::string first = Form(kNoIdentity, kJaneLines);
    EXPECT_EQ(MaskTimes(cli.ReadWorkFile(kRmaFile)), first);

    run = cli.Run({"-r", "0:2:0"}, "Max\n+44 20 7946 0000\nmax@example.org\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(MaskTimes(cli.ReadWorkFile(kRmaFile)),
              first + Form("Product = MD3600LW             Serial Number = LAB00003  \n",
                           "Contact: Max\nPhone: +44 20 7946 0000\nEmail: max@example.org\n\n"));
}

// A name longer than the 80-character buffer must not spill into the phone field.
TEST(RmaForm, LongNameStaysInItsField)
{
    CliRunner cli(MachinePath("lab.json"));
    const std::string name(100, 'n');
    const auto run = cli.Run({"-r"}, name + "\n555-0100\njane@example.com\n");
    const std::string form = MaskTimes(cli.ReadWorkFile(kRmaFile));
    EXPECT_NE(form.find("\nPhone: 555-0100\nEmail: jane@example.com\n\n"), std::string::npos) << form;
    EXPECT_EQ(run.exitCode, 0);
}

TEST(RmaForm, UnopenableFileIsReportedAndAsksNothing)
{
    CliRunner cli(MachinePath("lab.json"));
    std::filesystem::create_directory(cli.WorkDir() / kRmaFile);
    const auto run = cli.Run({"-r"}, kJane);
    EXPECT_EQ(AfterInit(run), "\nError opening RMA file rmalog.txt\n\n");
    // No form was written: the run is not a success.
    EXPECT_EQ(run.exitCode, 1);
}

}  // namespace
