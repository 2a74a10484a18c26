// The start of Windows 9x, as far as installers see it: before anything is
// loaded, the "Rename" section of "wininit.ini" in the Windows folder is
// carried out in file order ("NUL=FILE" deletes FILE, "TARGET=SOURCE"
// moves SOURCE over TARGET) and the file is kept as "wininit.bak".
#pragma once

#include <string>
#include <vector>

namespace harrow::platform {

struct WininitResult {
    std::vector<std::string> done;    // one line per carried-out entry
    std::vector<std::string> failed;  // one line per entry that could not be
};

// Without "wininit.ini" nothing happens. A failed entry does not stop the
// others, as on Windows; the file is kept as "wininit.bak" either way.
WininitResult RunWininit();

}  // namespace harrow::platform
