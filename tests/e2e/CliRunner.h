#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Runs the built HarrowCLI in a throw-away working folder with its own state,
// registry (command pause 0) and machine file.
class CliRunner {
public:
    struct Result {
        int exitCode = -1;
        std::string out;  // standard output, time stamps replaced by "<TIME>"
        std::string err;
    };

    explicit CliRunner(const std::string& machineFile);
    ~CliRunner();
    CliRunner(const CliRunner&) = delete;
    CliRunner& operator=(const CliRunner&) = delete;

    Result Run(const std::vector<std::string>& arguments) const;
    // Runs a copy of the program in a folder without the resource library.
    Result RunWithoutResources(const std::vector<std::string>& arguments) const;

    const std::filesystem::path& WorkDir() const { return m_work; }
    std::string ReadWorkFile(const std::string& name) const;
    void WriteWorkFile(const std::string& name, const std::string& text) const;

private:
    Result RunProgram(const std::string& program, const std::vector<std::string>& arguments) const;

    std::filesystem::path m_root;
    std::filesystem::path m_work;
    std::string m_machine;
};

// The machine files of these tests.
std::string MachinePath(const std::string& name);
