#pragma once

#include "cli/CommandLine.h"
#include "cli/JsonReport.h"
#include "cli/ResourceLibrary.h"

#include <memory>
#include <string>
#include <vector>

// One run of the command-line program: start-up, one command, the end step.
class HarrowCli {
public:
    // Returns the process exit code.
    int Run(const std::vector<std::string>& arguments);

private:
    bool StartSystem();
    // Standard output keeps only the JSON document; the human text goes to standard error.
    void StartJson(const std::vector<std::string>& given);
    // Exit code of a command line that cannot run, said on standard error; 0 when it can.
    int RefuseArguments();
    // The same once the machine is known: the device must be one of it.
    int RefuseDevice();
    int Refuse(int exitCode, const std::string& message);
    int RunTest();
    int Dispatch();
    int EndStep(int exitCode);
    void PrintVersion() const;
    void PrintNoCommand() const;

    ResourceLibrary m_resources;
    CommandLine m_line;
    std::string m_commandLineText;
    bool m_pauseAtEnd = false;
    bool m_systemReady = false;
    std::unique_ptr<JsonReport> m_json;
    int m_jsonFd = -1;
};

// Exit code of a device command whose device is missing or cannot be used.
constexpr int kExitNoDevice = 4;
// Exit code of a refused percentage and of -r without its input.
constexpr int kExitRefused = 1;

// The usage text, one printf per line.
void PrintUsage();
