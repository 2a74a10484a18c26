// A throw-away iSCSI target for tests and benchmarks: tgtd in the foreground
// on a loopback port of its own, one target with file-backed LUNs, stopped by
// its PID whatever the caller did. tgtd dies with the thread that started it
// (PR_SET_PDEATHSIG), so even a killed test leaves none behind.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace harrow::testing {

class TgtTarget {
public:
    static constexpr const char* kIqn = "iqn.2026-12.org.harrow:test";

    // Starts tgtd with one LUN per size (LUN 1, 2, ...; tgtd adds its own
    // controller as LUN 0). Null with *why set when tgtd cannot be started.
    static std::unique_ptr<TgtTarget> Start(const std::vector<std::uint64_t>& lunBytes, std::string* why)
    {
        if (::access(kTgtd, X_OK) != 0 || ::access(kTgtadm, X_OK) != 0) {
            *why = "tgtd/tgtadm not installed (Debian package tgt)";
            return nullptr;
        }
        for (int attempt = 0; attempt < 5; ++attempt) {
            auto target = std::unique_ptr<TgtTarget>(new TgtTarget());
            if (target->Launch(attempt, why) && target->Configure(lunBytes, why)) {
                return target;
            }
        }
        return nullptr;
    }

    ~TgtTarget() { Stop(); }
    TgtTarget(const TgtTarget&) = delete;
    TgtTarget& operator=(const TgtTarget&) = delete;

    std::uint16_t Port() const { return m_port; }
    std::string Url() const { return "iscsi://127.0.0.1:" + std::to_string(m_port) + "/" + kIqn; }
    std::filesystem::path BackingFile(int lun) const { return m_dir / ("lun" + std::to_string(lun) + ".img"); }

    // Adds a LUN while tgtd runs (to test rescans).
    bool AddLun(int lun, std::uint64_t bytes)
    {
        std::filesystem::resize_file(CreateFile(BackingFile(lun)), bytes);
        return Admin({"--lld", "iscsi", "--mode", "logicalunit", "--op", "new", "--tid", "1", "--lun",
                      std::to_string(lun), "--backing-store", BackingFile(lun).string()});
    }

    // Chooses the sense format of a LUN: 0 fixed, 1 descriptor (SPC-4 4.5).
    bool SetSenseFormat(int lun, int format)
    {
        return Admin({"--lld", "iscsi", "--mode", "logicalunit", "--op", "update", "--tid", "1", "--lun",
                      std::to_string(lun), "--params", "sense_format=" + std::to_string(format)});
    }

    // Stops tgtd: the target first, then the daemon; SIGKILL if it lingers.
    void Stop()
    {
        if (m_pid > 0) {
            Admin({"--lld", "iscsi", "--mode", "target", "--op", "delete", "--force", "--tid", "1"});
            Admin({"--mode", "system", "--op", "delete"});
            if (!Reaped(std::chrono::seconds(3))) {
                Kill();
            }
            m_pid = -1;
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }

private:
    static constexpr const char* kTgtd = "/usr/sbin/tgtd";
    static constexpr const char* kTgtadm = "/usr/sbin/tgtadm";

    TgtTarget() = default;

    // Our own tgtd only, by its PID: never through a control port that may
    // belong to someone else's.
    void Kill()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

    static std::uint16_t FreeLoopbackPort()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        std::uint16_t port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            port = ntohs(address.sin_port);
        }
        ::close(fd);
        return port;
    }

    static const std::filesystem::path& CreateFile(const std::filesystem::path& path)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc).flush();
        return path;
    }

    // Runs a program; true on exit code 0. Its standard output goes to *output
    // when given, else nowhere.
    static bool Run(std::vector<std::string> args, std::string* output = nullptr)
    {
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int pipeFds[2] = {-1, -1};
        if (::pipe(pipeFds) != 0) {
            return false;
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(output != nullptr ? pipeFds[1] : null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::close(pipeFds[0]);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        char chunk[4096];
        for (ssize_t got; (got = ::read(pipeFds[0], chunk, sizeof chunk)) > 0;) {
            if (output != nullptr) {
                output->append(chunk, static_cast<std::size_t>(got));
            }
        }
        ::close(pipeFds[0]);
        int status = 0;
        return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    bool Admin(std::vector<std::string> args, std::string* output = nullptr) const
    {
        args.insert(args.begin(), {kTgtadm, "-C", std::to_string(m_control)});
        return Run(std::move(args), output);
    }

    bool Reaped(std::chrono::milliseconds within)
    {
        const auto deadline = std::chrono::steady_clock::now() + within;
        do {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    }

    bool Launch(int attempt, std::string* why)
    {
        m_port = FreeLoopbackPort();
        // Control ports of parallel test programs must differ, too.
        m_control = 1000 + (::getpid() * 7 + attempt * 131) % 30000;
        m_dir = std::filesystem::temp_directory_path() / ("harrow-tgt-" + std::to_string(::getpid()) + "-" +
                                                          std::to_string(m_control));
        std::filesystem::create_directories(m_dir);
        std::string control = std::to_string(m_control);
        std::string portal = "portal=127.0.0.1:" + std::to_string(m_port);
        const std::string log = (m_dir / "tgtd.log").string();
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) {
                ::_exit(1);
            }
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, STDOUT_FILENO);
            ::dup2(out, STDERR_FILENO);
            char* argv[] = {const_cast<char*>(kTgtd), const_cast<char*>("-f"), const_cast<char*>("-C"),
                            control.data(), const_cast<char*>("--iscsi"), portal.data(), nullptr};
            ::execv(kTgtd, argv);
            ::_exit(127);
        }
        if (m_pid < 0) {
            *why = "fork failed";
            return false;
        }
        // Waiting for tgtd to come up is the one real wait the tests allow.
        for (int round = 0; round < 100; ++round) {
            if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                *why = "tgtd exited at start (see " + log + ")";
                return false;
            }
            // Another test's tgtd may hold the same control port: ours is the
            // one that listens on our portal.
            std::string portals;
            if (Admin({"--mode", "portal", "--op", "show"}, &portals)) {
                if (portals.find("127.0.0.1:" + std::to_string(m_port)) != std::string::npos) {
                    return true;
                }
                *why = "another tgtd answers on control port " + std::to_string(m_control);
                Kill();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        *why = "tgtd did not answer tgtadm within 5 s";
        Kill();
        return false;
    }

    bool Configure(const std::vector<std::uint64_t>& lunBytes, std::string* why)
    {
        bool ok = Admin({"--lld", "iscsi", "--mode", "target", "--op", "new", "--tid", "1", "--targetname", kIqn});
        for (std::size_t i = 0; ok && i < lunBytes.size(); ++i) {
            ok = AddLun(static_cast<int>(i + 1), lunBytes[i]);
        }
        ok = ok && Admin({"--lld", "iscsi", "--mode", "target", "--op", "bind", "--tid", "1",
                          "--initiator-address", "ALL"});
        if (!ok) {
            *why = "tgtadm could not set up the target";
            Stop();
        }
        return ok;
    }

    pid_t m_pid = -1;
    std::uint16_t m_port = 0;
    int m_control = 0;
    std::filesystem::path m_dir;
};

}  // namespace harrow::testing
