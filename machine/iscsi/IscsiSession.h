// One logged-in iSCSI session to a target, through libiscsi. Commands run one
// at a time, each bounded by its own time-out; a session that fails or times
// out is dropped and the next command logs in again; a command the target
// dropped by asking for a logout is sent again on a new session.
#pragma once

#include "machine/LogicalUnit.h"
#include "machine/iscsi/IscsiTarget.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

struct iscsi_context;

namespace harrow::machine {

class IscsiSession {
public:
    // loginTimeout bounds the TCP connection and the login together.
    IscsiSession(IscsiTarget target, std::chrono::milliseconds loginTimeout);
    ~IscsiSession();
    IscsiSession(const IscsiSession&) = delete;
    IscsiSession& operator=(const IscsiSession&) = delete;

    // Logs in unless logged in; false with Problem() telling why.
    bool Open();

    // A command that never reached the target, timed out or lost its
    // connection answers PortOutcome::SelectionTimeout, and Problem() says why.
    // A request of no direction that carries data is sent as a read.
    ScsiResult Execute(std::uint16_t lun, const ScsiRequest& request);

    std::string Problem() const;
    const IscsiTarget& Target() const { return m_target; }

    // Outcome of the last asynchronous step; written by libiscsi's callbacks.
    struct Step {
        bool done = false;
        int status = 0;
    };

private:
    enum class Wait { Done, TimedOut, Failed };

    bool LogIn();
    void Drop(const std::string& problem);
    Wait RunUntil(const Step& step, std::chrono::steady_clock::time_point deadline);
    // *loggedOut tells a command the target dropped by asking for a logout.
    ScsiResult Send(std::uint16_t lun, const ScsiRequest& request, bool* loggedOut);

    const IscsiTarget m_target;
    const std::chrono::milliseconds m_loginTimeout;
    mutable std::mutex m_lock;
    iscsi_context* m_context = nullptr;
    // libiscsi may call the connect callback again when the connection dies,
    // so these live as long as the session, not on a stack frame.
    Step m_connect;
    Step m_login;
    int m_socketError = 0;
    std::string m_problem;
};

}  // namespace harrow::machine
