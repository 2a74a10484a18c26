// Simulates restarting a Windows 9x machine: what Windows does at its next
// start with the renames installers scheduled in "wininit.ini".
#include "platform/Wininit.h"

#include <cstdio>

int main(int argc, char**)
{
    if (argc > 1) {
        std::fprintf(stderr, "usage: WinRestart\n");
        return 2;
    }
    const harrow::platform::WininitResult result = harrow::platform::RunWininit();
    for (const std::string& line : result.done) {
        std::printf("%s\n", line.c_str());
    }
    for (const std::string& line : result.failed) {
        std::fprintf(stderr, "WinRestart: %s\n", line.c_str());
    }
    return result.failed.empty() ? 0 : 1;
}
