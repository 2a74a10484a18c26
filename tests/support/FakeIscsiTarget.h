// The fake iSCSI target of tests/support/fake_iscsi_target.py, run for one
// test: on a loopback port of its own, stopped by its PID, killed with the
// thread that started it (PR_SET_PDEATHSIG). Events() counts what it saw.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace harrow::testing {

class FakeIscsiTarget {
public:
    static constexpr const char* kIqn = "iqn.2026-12.org.harrow:fake";

    // Null with *why set when python3 or the script cannot be started.
    static std::unique_ptr<FakeIscsiTarget> Start(const std::string& mode, const std::vector<std::string>& options,
                                                  std::string* why)
    {
        auto target = std::unique_ptr<FakeIscsiTarget>(new FakeIscsiTarget());
        return target->Launch(mode, options, why) ? std::move(target) : nullptr;
    }

    ~FakeIscsiTarget()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    FakeIscsiTarget(const FakeIscsiTarget&) = delete;
    FakeIscsiTarget& operator=(const FakeIscsiTarget&) = delete;

    std::string Url() const { return "iscsi://127.0.0.1:" + std::to_string(m_port) + "/" + kIqn; }

    // How many event lines start with the text ("connect", "login", "command A0").
    int Events(const std::string& prefix) const
    {
        std::ifstream log(m_dir / "events.log");
        int count = 0;
        for (std::string line; std::getline(log, line);) {
            count += line.rfind(prefix, 0) == 0 ? 1 : 0;
        }
        return count;
    }

private:
    static constexpr const char* kPython = "/usr/bin/python3";

    FakeIscsiTarget() = default;

    bool Launch(const std::string& mode, const std::vector<std::string>& options, std::string* why)
    {
        if (::access(kPython, X_OK) != 0) {
            *why = "python3 not installed";
            return false;
        }
        m_dir = std::filesystem::temp_directory_path() / ("harrow-fake-" + std::to_string(::getpid()) + "-" +
                                                          std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(m_dir);
        std::vector<std::string> args = {kPython, HARROW_FAKE_ISCSI_TARGET, "--mode", mode,
                                         "--log", (m_dir / "events.log").string()};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& arg : args) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        int portPipe[2];
        if (::pipe(portPipe) != 0) {
            *why = "pipe failed";
            return false;
        }
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) {
                ::_exit(1);
            }
            ::dup2(portPipe[1], STDOUT_FILENO);
            ::close(portPipe[0]);
            ::execv(kPython, argv.data());
            ::_exit(127);
        }
        ::close(portPipe[1]);
        // The port is the first line the target prints; EOF means it died.
        std::string line;
        char c = 0;
        while (::read(portPipe[0], &c, 1) == 1 && c != '\n') {
            line += c;
        }
        ::close(portPipe[0]);
        m_port = std::atoi(line.c_str());
        if (m_pid < 0 || m_port <= 0) {
            *why = "the fake target did not start (mode " + mode + ")";
            return false;
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_port = 0;
    std::filesystem::path m_dir;
};

}  // namespace harrow::testing
