// A throw-away folder for one benchmark run, with a registry file that holds
// only the command pause at 0: a pause a command would hide what is measured.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace harrow::bench {

inline std::filesystem::path MakeBenchHome(const char* prefix)
{
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    const std::filesystem::path home = pattern;
    std::ofstream(home / "registry.reg") << "REGEDIT4\n\n"
                                            "[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
                                            "\"CommandPauseMs\"=dword:00000000\n\n";
    return home;
}

}  // namespace harrow::bench
