// Files the programs write their results into (logs, forms, reports, dumps).
// A name in the working folder may have been planted as a symbolic link to a
// system file, a FIFO or a device node; such a name is refused, never opened
// through, so a log line cannot land in /etc/passwd or on a partition table.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

namespace harrow::platform {

enum class OutputMode { Append, Replace };

struct OutputFileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using OutputFile = std::unique_ptr<std::FILE, OutputFileCloser>;

// Opens (creating when missing) a regular file with one name: not a link, not
// a FIFO or device, not a file with other hard links. Null when refused or
// failed, with one line in *reason saying why (the name is the caller's to add).
OutputFile OpenOutputFile(const std::string& path, OutputMode mode, std::string* reason);

}  // namespace harrow::platform
