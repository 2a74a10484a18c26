// The numbered user-interface strings of the front ends, loaded as "RESDLL.DLL".
extern "C" const char* HarrowResourceString(unsigned id)
{
    switch (id) {
    case 473:
        return "No devices are selected. Go back to the Devices page and select the drives to work on.";
    case 474:
        return "No devices selected";
    case 491:
        return "Copyright (c) 2026 Kestrel Storage Products. All rights reserved.";
    case 590:
        return "The Advanced diagnostic section can download firmware, format drives and change drive "
               "settings. Used wrongly, these can make a drive unusable or lose its data.\n\n"
               "Do you want to enter the Advanced diagnostic section?";
    case 591:
        return "HarrowCLI.log";
    case 608:
        return "The OEM test cannot run on drives behind a RAID controller. Deselect them and try again.";
    case 609:
        return "The OEM test runs on Kestrel drives only. Deselect the other devices and try again.";
    case 641:
        return "No command was given on the command line:";
    case 4014:
        return "Harrow Viraradiza";
    // The self-test failure report: formats, then the names of self-test codes and results.
    case 4036:
        return "Self-Test Code: %d (%s)";
    case 4037:
        return "Self-Test Result: %d (%s)";
    case 4039:
        return "Failed Segment: %d, First Failing LBA: %lu";
    case 4040:
        return "Sense Key / ASC / ASCQ: %2.2X / %2.2X / %2.2X";
    case 4041:
        return "Default Self-Test";
    case 4042:
        return "Background Short Self-Test";
    case 4043:
        return "Background Extended Self-Test";
    case 4044:
        return "Abort Background Self-Test";
    case 4045:
        return "Foreground Short Self-Test";
    case 4046:
        return "Foreground Extended Self-Test";
    case 4047:
        return "Reserved Self-Test Code";
    case 4048:
        return "Completed Without Error";
    case 4049:
        return "Aborted By SEND DIAGNOSTIC";
    case 4050:
        return "Aborted By Other Means";
    case 4051:
        return "Unknown Error";
    case 4052:
        return "Failed In An Unknown Segment";
    case 4053:
        return "First Segment Failed";
    case 4054:
        return "Second Segment Failed";
    case 4055:
        return "Segment Failed";
    case 4056:
        return "Reserved Result";
    case 4057:
        return "Self-Test In Progress";
    case 4060:
        return "Power On Hours At Test: %d";
    case 4062:
        return "Unable To Read The Self-Test Results Log Page";
    case 4063:
        return "Sense Key / ASC / ASCQ / Vendor: %2.2X / %2.2X / %2.2X / %2.2X";
    // Firmware download and format pages.
    case 7400:
        return "The firmware of every selected drive will be replaced. Do not switch off the drives or the "
               "computer until the download has finished.\n\nDo you want to download the firmware now?";
    case 7401:
        return "Which file do I need?\nA \".kst\" file made for your drive's product. Its header names the "
               "product; a drive of another product is left alone.\n\n"
               "What is a \".lod\" file?\nA firmware image without a header. It is sent as it is, without the "
               "product check: use it only when your support representative tells you to.\n\n"
               "How long does it take?\nA minute or two per drive, then up to several minutes while the drive "
               "starts its new firmware. All selected drives are downloaded at once.\n\n"
               "What if a download fails?\nThe drive keeps running the firmware it had when the drive refuses "
               "the file. Note the sense codes in the log and contact your technical support representative.";
    case 7402:
        return "Formatting erases all data on every selected drive and cannot be undone.\n\n"
               "Do you want to format the selected drives?";
    case 7403:
        return "The format has started. Do not switch off the drives or the computer until it has finished.";
    case 7404:
        return "Changing the capacity changes the number of blocks the selected drives report; data beyond the "
               "new last block can no longer be read.\n\nDo you want to change the capacity?";
    case 7405:
        return "The block size must be a whole number greater than 0, digits only.";
    case 7406:
        return "The highest block must be a whole number of at least 1, digits only.";
    case 57344:
        return "Harrow Viraradiza";
    default:
        return nullptr;
    }
}
