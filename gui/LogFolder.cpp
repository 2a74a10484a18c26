#include "gui/LogFolder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

fs::path StateFolder()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && *state == '/') {
        return fs::path(state) / "harrow";
    }
    const char* home = std::getenv("HOME");
    return fs::path(home != nullptr ? home : "/tmp") / ".local" / "state" / "harrow";
}

std::string Decide()
{
    if (::access(".", W_OK) == 0) {
        return "";
    }
    const fs::path folder = StateFolder();
    std::error_code error;
    fs::create_directories(folder, error);
    std::fprintf(stderr, "harrow: the current folder cannot be written; log files go to %s\n", folder.c_str());
    return folder.string() + "/";
}

}  // namespace

const std::string& LogFolder()
{
    static const std::string folder = Decide();
    return folder;
}

std::string InLogFolder(const std::string& name) { return LogFolder() + name; }

std::string LogFolderShown()
{
    if (!LogFolder().empty()) {
        return LogFolder();
    }
    std::error_code error;
    return fs::current_path(error).string() + "/";
}
