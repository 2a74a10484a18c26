#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// Runs the built HarrowCLI in a throw-away working folder with its own state,
// registry (command pause 0) and machine file.
class CliRunner {
public:
    struct Result {
        int exitCode = -1;
        int signal = 0;  // the signal that ended the run, 0 when it exited
        std::string out;  // standard output, time stamps replaced by "<TIME>"
        std::string err;
    };

    // A run left going while the test does something else; a run still going
    // when this is destroyed is killed.
    class Background {
    public:
        Background(pid_t child, std::filesystem::path outPath, std::filesystem::path errPath);
        ~Background();
        Background(Background&& other) noexcept;
        Background(const Background&) = delete;
        Background& operator=(const Background&) = delete;
        Background& operator=(Background&&) = delete;

        // False when the run ended or the limit passed before the file held the text.
        // Standard output and the log file both get each line as it is written.
        bool WaitForText(const std::filesystem::path& file, const std::string& text, std::chrono::milliseconds limit);
        Result Wait();
        // Waits for the end; a run still going after the limit is killed (exit code -1).
        Result WaitAtMost(std::chrono::milliseconds limit);
        // Ends the run at once, as a power cut would: what it left on the drive stays.
        Result Kill();
        // Ctrl+C: SIGINT, which the program leaves to its default action.
        Result Interrupt();
        const std::filesystem::path& OutPath() const { return m_outPath; }

    private:
        bool Reap(int options);
        Result Collect() const;

        pid_t m_child;
        std::filesystem::path m_outPath;
        std::filesystem::path m_errPath;
        int m_status = 0;
        bool m_reaped = false;
    };

    // The time scale shortens the program's waits and the drives' durations alike.
    explicit CliRunner(const std::string& machineFile, double timeScale = 0.01);
    ~CliRunner();
    CliRunner(const CliRunner&) = delete;
    CliRunner& operator=(const CliRunner&) = delete;

    // The input text is what the program reads from standard input.
    Result Run(const std::vector<std::string>& arguments, const std::string& input = "") const;
    Background Start(const std::vector<std::string>& arguments, const std::string& input = "") const;
    // Runs a copy of the program in a folder without the resource library.
    Result RunWithoutResources(const std::vector<std::string>& arguments) const;
    // The same without one shared object of the build ("libwnaspi32.so").
    Result RunWithoutLibrary(const std::string& library, const std::vector<std::string>& arguments) const;
    // Runs another program of the build with the same environment.
    Result RunProgram(const std::string& program, const std::vector<std::string>& arguments) const;
    Background StartProgram(const std::string& program, const std::vector<std::string>& arguments) const;
    // Adds keys (REGEDIT4 text) to the runs' registry.
    void AppendRegistry(const std::string& text) const;
    // The Windows version later runs report (HARROW_WINVER); empty: the default.
    void SetWindowsVersion(const std::string& version) { m_winver = version; }

    const std::filesystem::path& WorkDir() const { return m_work; }
    // The runs' Windows folder (HARROW_WINDIR) and its system folder.
    std::filesystem::path WindowsDir() const { return m_root / "windows"; }
    std::filesystem::path SystemDir() const { return WindowsDir() / "system"; }
    std::filesystem::path RegistryFile() const { return m_root / "registry.reg"; }
    // The program's own log of every logged line.
    std::filesystem::path LogFile() const { return m_work / "HarrowCLI.log"; }
    std::string ReadWorkFile(const std::string& name) const;
    void WriteWorkFile(const std::string& name, const std::string& text) const;

private:
    Background Spawn(const std::string& program, const std::vector<std::string>& arguments,
                     const std::string& input) const;

    std::filesystem::path m_root;
    std::filesystem::path m_work;
    std::string m_machine;
    double m_timeScale;
    std::string m_winver;
    mutable int m_runs = 0;
};

// The machine files of these tests.
std::string MachinePath(const std::string& name);

// The text with every "%d-%b-%Y %H:%M:%S" time stamp replaced by "<TIME>".
std::string MaskTimes(const std::string& text);

// What a run prints once the system is initialised, and what it printed after that.
inline const std::string kInit = "\nInitializing system please wait.....\n\nInitialization complete\n\n";
std::string AfterInit(const CliRunner::Result& run);
