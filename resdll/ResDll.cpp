// The numbered user-interface strings of the front ends, loaded as "RESDLL.DLL".
extern "C" const char* HarrowResourceString(unsigned id)
{
    switch (id) {
    case 491:
        return "Copyright (c) 2026 Kestrel Storage Products. All rights reserved.";
    case 591:
        return "HarrowCLI.log";
    case 641:
        return "No command was given on the command line:";
    case 4014:
        return "Harrow Viraradiza";
    default:
        return nullptr;
    }
}
