#pragma once

#include "cli/CommandLine.h"
#include "cli/ResourceLibrary.h"

#include <string>
#include <vector>

// One run of the command-line program: start-up, one command, the end step.
class HarrowCli {
public:
    // Returns the process exit code.
    int Run(const std::vector<std::string>& arguments);

private:
    bool StartSystem();
    int Dispatch();
    int EndStep(int exitCode);
    void PrintVersion() const;
    void PrintNoCommand() const;

    ResourceLibrary m_resources;
    CommandLine m_line;
    std::string m_commandLineText;
    bool m_pauseAtEnd = false;
    bool m_systemReady = false;
};

// The usage text, one printf per line.
void PrintUsage();
