// The numbered user-interface strings of the front ends, loaded as "RESDLL.DLL".
extern "C" const char* HarrowResourceString(unsigned id)
{
    switch (id) {
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
    case 57344:
        return "Harrow Viraradiza";
    default:
        return nullptr;
    }
}
