#include "frontend/RmaForm.h"

#include "frontend/DeviceQueries.h"
#include "frontend/LineLog.h"

namespace {

constexpr const char* kInstructions[] = {
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

}  // namespace

std::string RmaHeader() { return TimeStamp("%d-%b-%Y") + " " + TimeStamp("%H:%M:%S") + " \n"; }

bool PrintRmaForm(std::FILE* file, const std::string& header, const DeviceRecord& record, const RmaContact& contact)
{
    DeviceIdentity identity;
    if (record.target != kNoNumber) {
        ReadIdentity(record, identity);
    }
    std::fprintf(file, "%s\n", header.c_str());
    std::fprintf(file, "Product = %-20s Serial Number = %-10s\n", identity.product.c_str(),
                 identity.serialNumber.c_str());
    std::fprintf(file, "Contact: %s", contact.name.c_str());
    std::fprintf(file, "Phone: %s", contact.phone.c_str());
    std::fprintf(file, "Email: %s\n", contact.email.c_str());
    for (const char* line : kInstructions) {
        std::fputs(line, file);
    }
    return std::fflush(file) == 0 && std::ferror(file) == 0;
}
