#include "platform/Wininit.h"

#include "platform/HostPath.h"
#include "platform/Profile.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <strings.h>

namespace harrow::platform {
namespace {

namespace fs = std::filesystem;

std::string Failure(const std::string& entry, const std::error_code& error)
{
    return entry + ": " + error.message();
}

void Carry(const std::string& target, const std::string& source, WininitResult& result)
{
    const std::string entry = target + "=" + source;
    std::error_code error;
    if (::strcasecmp(target.c_str(), "NUL") == 0) {
        if (fs::remove(HostPath(source.c_str()), error) || !error) {
            result.done.push_back("deleted " + source);
        } else {
            result.failed.push_back(Failure(entry, error));
        }
        return;
    }
    // A rename replaces the target in one step, so no reader sees it missing.
    fs::rename(HostPath(source.c_str()), HostPath(target.c_str()), error);
    if (error) {
        result.failed.push_back(Failure(entry, error));
    } else {
        result.done.push_back("renamed " + source + " to " + target);
    }
}

}  // namespace

WininitResult RunWininit()
{
    WininitResult result;
    const std::string path = ProfilePath("wininit.ini");
    std::error_code error;
    if (path.empty() || !fs::exists(path, error)) {
        return result;
    }
    for (const auto& [target, source] : ReadProfileSection(path, "Rename")) {
        Carry(target, source, result);
    }
    fs::rename(path, ProfilePath("wininit.bak"), error);
    if (error) {
        result.failed.push_back(Failure(path, error));
    }
    return result;
}

}  // namespace harrow::platform
