#include "cli/RmaForm.h"

#include "frontend/DeviceQueries.h"
#include "frontend/LineLog.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr const char* RMA_FILE = "rmalog.txt";
constexpr int INPUT_BYTES = 80;

constexpr const char* INSTRUCTIONS[] = {
    "See the Harrow Viraradiza.HLP file for complete contact information, return procedures and packaging "
    "instructions.\n\n",
    "Disclaimer: Kestrel is not responsible for any lost data on a returned drive.  All data \n",
    "\tis destroyed on returned drives.  If you need Data Recovery, see the Harrow \n",
    "\tViraradiza.HLP file for data recovery contact information prior to shipping your\n",
    "\tdrive or system in for replacement.\n\n",
    "Verify the Model Number and Serial Number shown above matches information shown on the label found on the "
    "top cover of the drive.\n\n",
    "If authorized by your system manufacturer, before removing the drive from the system, take the following "
    "precautions: \n\n",
    "\tDisconnect power to the computer \n",
    "\tGround yourself to prevent Electro-Static Discharge (ESD) damage by  wearing an \n",
    "\tESD wrist strap or by touching a metal portion of the  computer case \n",
    "\tRemove the power connector and interface cable to the drive before  attempting to \n",
    "\tremove any mounting screws holding the drive in the  case \n",
    "\tPlace the drive in approved packaging as soon as possible\n\n",
};

// One typed line, its line end kept; empty at the end of the input.
std::string Ask(const char* prompt)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    char line[INPUT_BYTES] = {};
    if (std::fgets(line, sizeof line, stdin) == nullptr) {
        return {};
    }
    return line;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

int WriteRmaForm(const DeviceRecord& record)
{
    const std::string header = TimeStamp("%d-%b-%Y") + " " + TimeStamp("%H:%M:%S") + " \n";
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(RMA_FILE, "a+"));
    if (!file) {
        std::printf("\nError opening RMA file rmalog.txt\n\n");
        return 1;
    }
    const std::string name = Ask("\nEnter contact name : ");
    const std::string phone = Ask("Enter contact phone number : ");
    const std::string email = Ask("Enter contact email : ");

    DeviceIdentity identity;
    if (record.target != NO_NUMBER) {
        ReadIdentity(record, identity);
    }
    std::FILE* out = file.get();
    std::fprintf(out, "%s\n", header.c_str());
    std::fprintf(out, "Product = %-20s Serial Number = %-10s\n", identity.product.c_str(),
                 identity.serialNumber.c_str());
    std::fprintf(out, "Contact: %s", name.c_str());
    std::fprintf(out, "Phone: %s", phone.c_str());
    std::fprintf(out, "Email: %s\n", email.c_str());
    for (const char* line : INSTRUCTIONS) {
        std::fputs(line, out);
    }
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        std::printf("\nError writing RMA file rmalog.txt\n\n");
        return 1;
    }
    return 0;
}
