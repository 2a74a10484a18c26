#include "CliRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// "%d-%b-%Y %H:%M:%S": 9 a digit, A an upper-case and a a lower-case letter.
constexpr std::string_view kStampShape = "99-Aaa-9999 99:99:99";

bool IsStampAt(const std::string& text, std::size_t at)
{
    if (at + kStampShape.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kStampShape.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[at + i]);
        const bool fits = kStampShape[i] == '9'   ? std::isdigit(c) != 0
                          : kStampShape[i] == 'A' ? std::isupper(c) != 0
                          : kStampShape[i] == 'a' ? std::islower(c) != 0
                                                  : c == static_cast<unsigned char>(kStampShape[i]);
        if (!fits) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string MachinePath(const std::string& name) { return std::string(HARROW_E2E_MACHINES) + "/" + name; }

std::string AfterInit(const CliRunner::Result& run)
{
    const auto at = run.out.find(kInit);
    return at == std::string::npos ? run.out : run.out.substr(at + kInit.size());
}

std::string MaskTimes(const std::string& text)
{
    std::string masked;
    for (std::size_t at = 0; at < text.size();) {
        if (IsStampAt(text, at)) {
            masked += "<TIME>";
            at += kStampShape.size();
        } else {
            masked += text[at++];
        }
    }
    return masked;
}

CliRunner::CliRunner(const std::string& machineFile, double timeScale)
    : m_machine(machineFile), m_timeScale(timeScale)
{
    std::string pattern = (fs::temp_directory_path() / "harrow-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    m_root = pattern;
    m_work = m_root / "work";
    fs::create_directories(m_work);
    fs::create_directories(m_root / "state");
    fs::create_directories(m_root / "xdg");
    std::ofstream registry(m_root / "registry.reg");
    registry << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Kestrel\\Harrow Viraradiza\\Options]\n"
                "\"CommandPauseMs\"=dword:00000000\n\n";
}

CliRunner::~CliRunner()
{
    std::error_code ignored;
    fs::remove_all(m_root, ignored);
}

std::string CliRunner::ReadWorkFile(const std::string& name) const { return ReadFile(m_work / name); }

void CliRunner::WriteWorkFile(const std::string& name, const std::string& text) const
{
    std::ofstream(m_work / name, std::ios::binary) << text;
}

void CliRunner::AppendRegistry(const std::string& text) const
{
    std::ofstream(m_root / "registry.reg", std::ios::app) << text << "\n";
}

CliRunner::Result CliRunner::Run(const std::vector<std::string>& arguments, const std::string& input) const
{
    return Spawn(HARROW_CLI_PATH, arguments, input).Wait();
}

CliRunner::Result CliRunner::RunProgram(const std::string& program, const std::vector<std::string>& arguments) const
{
    return Spawn(program, arguments, "").Wait();
}

CliRunner::Background CliRunner::StartProgram(const std::string& program,
                                              const std::vector<std::string>& arguments) const
{
    return Spawn(program, arguments, "");
}

CliRunner::Background CliRunner::Start(const std::vector<std::string>& arguments, const std::string& input) const
{
    return Spawn(HARROW_CLI_PATH, arguments, input);
}

CliRunner::Result CliRunner::RunWithoutResources(const std::vector<std::string>& arguments) const
{
    return RunWithoutLibrary("libresdll.so", arguments);
}

CliRunner::Result CliRunner::RunWithoutLibrary(const std::string& library,
                                               const std::vector<std::string>& arguments) const
{
    const fs::path original(HARROW_CLI_PATH);
    const fs::path bin = m_root / ("bin-without-" + library);
    fs::create_directories(bin);
    for (const auto& entry : fs::directory_iterator(original.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".so") && name != library && !fs::exists(bin / name)) {
            fs::create_symlink(entry.path(), bin / name);
        }
    }
    fs::copy_file(original, bin / original.filename(), fs::copy_options::overwrite_existing);
    return Spawn((bin / original.filename()).string(), arguments, "").Wait();
}

CliRunner::Background CliRunner::Spawn(const std::string& program, const std::vector<std::string>& arguments,
                                       const std::string& input) const
{
    const std::string run = std::to_string(++m_runs);
    const fs::path inPath = m_root / ("stdin-" + run + ".txt");
    const fs::path outPath = m_root / ("stdout-" + run + ".txt");
    const fs::path errPath = m_root / ("stderr-" + run + ".txt");
    std::ofstream(inPath, std::ios::binary) << input;
    std::vector<std::string> env = {
        "HARROW_MACHINE=" + m_machine,
        "HARROW_STATE=" + (m_root / "state").string(),
        "HARROW_REGISTRY=" + (m_root / "registry.reg").string(),
        "HARROW_WINDIR=" + WindowsDir().string(),
        "XDG_RUNTIME_DIR=" + (m_root / "runtime").string(),
        "HARROW_TIME_SCALE=" + std::to_string(m_timeScale),
        "XDG_CONFIG_HOME=" + (m_root / "xdg").string(),
        "XDG_DATA_HOME=" + (m_root / "xdg").string(),
        "XDG_STATE_HOME=" + (m_root / "xdg").string(),
        "HOME=" + m_root.string(),
    };
    if (!m_winver.empty()) {
        env.push_back("HARROW_WINVER=" + m_winver);
    }
    for (char** each = environ; *each != nullptr; ++each) {
        const std::string entry(*each);
        if (!entry.starts_with("HARROW_") && !entry.starts_with("XDG_") && !entry.starts_with("HOME=")) {
            env.push_back(entry);
        }
    }
    std::vector<std::string> argv = {program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());

    std::vector<char*> argPointers;
    for (auto& each : argv) {
        argPointers.push_back(each.data());
    }
    argPointers.push_back(nullptr);
    std::vector<char*> envPointers;
    for (auto& each : env) {
        envPointers.push_back(each.data());
    }
    envPointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, m_work.c_str());
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argPointers.data(), envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program);
    }
    return Background(child, outPath, errPath);
}

CliRunner::Background::Background(pid_t child, fs::path outPath, fs::path errPath)
    : m_child(child), m_outPath(std::move(outPath)), m_errPath(std::move(errPath))
{
}

CliRunner::Background::Background(Background&& other) noexcept
    : m_child(other.m_child),
      m_outPath(std::move(other.m_outPath)),
      m_errPath(std::move(other.m_errPath)),
      m_status(other.m_status),
      m_reaped(other.m_reaped)
{
    other.m_reaped = true;
}

CliRunner::Background::~Background()
{
    if (!m_reaped) {
        kill(m_child, SIGKILL);
        Reap(0);
    }
}

bool CliRunner::Background::Reap(int options)
{
    if (!m_reaped && waitpid(m_child, &m_status, options) == m_child) {
        m_reaped = true;
    }
    return m_reaped;
}

bool CliRunner::Background::WaitForText(const fs::path& file, const std::string& text,
                                        std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (ReadFile(file).find(text) == std::string::npos) {
        if (Reap(WNOHANG) || std::chrono::steady_clock::now() > until) {
            return ReadFile(file).find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

CliRunner::Result CliRunner::Background::Wait()
{
    Reap(0);
    return Collect();
}

CliRunner::Result CliRunner::Background::WaitAtMost(std::chrono::milliseconds limit)
{
    const auto until = std::chrono::steady_clock::now() + limit;
    while (!Reap(WNOHANG) && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Kill();
}

CliRunner::Result CliRunner::Background::Kill()
{
    if (!m_reaped) {
        kill(m_child, SIGKILL);
    }
    return Wait();
}

CliRunner::Result CliRunner::Background::Interrupt()
{
    if (!m_reaped) {
        kill(m_child, SIGINT);
    }
    return Wait();
}

CliRunner::Result CliRunner::Background::Collect() const
{
    Result result;
    result.exitCode = WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
    result.signal = WIFSIGNALED(m_status) ? WTERMSIG(m_status) : 0;
    result.out = MaskTimes(ReadFile(m_outPath));
    result.err = ReadFile(m_errPath);
    return result;
}
