#pragma once

#include <string>

// Where the log, the per-drive files and rmalog.txt are written: the current
// folder, or $XDG_STATE_HOME/harrow/ (~/.local/state/harrow/) when the
// current folder cannot be written, which is said once on standard error.
// Decided on the first call.
const std::string& LogFolder();

// The file name as the program opens it: alone in the current folder, else with the folder.
std::string InLogFolder(const std::string& name);

// The folder as a user reads it: the current folder's full path, or the fallback.
std::string LogFolderShown();
