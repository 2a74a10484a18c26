#include "machine/iscsi/IscsiSession.h"

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace harrow::machine {
namespace {

constexpr const char* kInitiatorName = "iqn.2026-12.org.harrow:initiator";
// libiscsi's own outcomes (cancelled, error, time-out, redirect) lie beyond
// every SCSI status byte.
constexpr int kMaxScsiStatus = 0xFF;
// Wake at least this often so libiscsi can run its own bookkeeping.
constexpr int kMaxPollMs = 1000;
// New sessions one command may take when targets keep asking for logouts.
constexpr int kLogoutRetries = 3;

void OnStep(iscsi_context*, int status, void*, void* privateData)
{
    auto* step = static_cast<IscsiSession::Step*>(privateData);
    step->done = true;
    step->status = status;
}

std::string LastError(iscsi_context* context)
{
    const char* text = iscsi_get_error(context);
    std::string error = text != nullptr ? text : "";
    while (!error.empty() && std::isspace(static_cast<unsigned char>(error.back()))) {
        error.pop_back();
    }
    return error.empty() ? "no reason given" : error;
}

// Why a connection attempt failed, as the socket tells it; 0 when it did not.
int SocketError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    return fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : 0;
}

int DirectionOf(const ScsiRequest& request)
{
    if (request.data.empty()) {
        return SCSI_XFER_NONE;
    }
    return request.direction == DataDirection::Out ? SCSI_XFER_WRITE : SCSI_XFER_READ;
}

// Bytes the target moved: what it reports as residual, nothing when a failed
// command reports none (tgtd sends no residual with most CHECK CONDITIONs).
std::uint32_t TransferredOf(const scsi_task& task, std::size_t length)
{
    if (task.residual_status == SCSI_RESIDUAL_UNDERFLOW) {
        return static_cast<std::uint32_t>(length - std::min(task.residual, length));
    }
    return task.status == SCSI_STATUS_GOOD ? static_cast<std::uint32_t>(length) : 0;
}

// The sense segment of the response: a 2-byte length, then the sense bytes.
void CopySense(const scsi_task& task, ScsiResult* result)
{
    if (task.status != SCSI_STATUS_CHECK_CONDITION || task.datain.data == nullptr || task.datain.size < 2) {
        return;
    }
    const std::size_t announced = (std::size_t{task.datain.data[0]} << 8) | task.datain.data[1];
    const std::size_t length =
        std::min({announced, static_cast<std::size_t>(task.datain.size) - 2, result->sense.size()});
    std::copy_n(task.datain.data + 2, length, result->sense.begin());
    result->senseLength = static_cast<std::uint8_t>(length);
}

// A write to a connection the target has closed must fail, not end the
// program. Holding SIGPIPE back around each command cost four system calls a
// command; ignoring it once, unless the program chose its own handler, makes
// every such write fail with EPIPE.
void IgnorePipeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
            struct sigaction ignore {};
            ignore.sa_handler = SIG_IGN;
            sigemptyset(&ignore.sa_mask);
            ::sigaction(SIGPIPE, &ignore, nullptr);
        }
    });
}

ScsiResult Undelivered()
{
    ScsiResult result;
    result.outcome = PortOutcome::SelectionTimeout;
    return result;
}

}  // namespace

IscsiSession::IscsiSession(IscsiTarget target, std::chrono::milliseconds loginTimeout)
    : m_target(std::move(target)), m_loginTimeout(loginTimeout)
{
}

IscsiSession::~IscsiSession() { Drop(""); }

bool IscsiSession::Open()
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_context != nullptr || LogIn();
}

std::string IscsiSession::Problem() const
{
    const std::lock_guard<std::mutex> hold(m_lock);
    return m_problem;
}

ScsiResult IscsiSession::Execute(std::uint16_t lun, const ScsiRequest& request)
{
    const std::lock_guard<std::mutex> hold(m_lock);
    for (int logouts = 0;; ++logouts) {
        if (m_context == nullptr && !LogIn()) {
            return Undelivered();
        }
        bool loggedOut = false;
        ScsiResult result = Send(lun, request, &loggedOut);
        // A target that asks for a logout (RFC 7143 11.9.1, AsyncEvent 1)
        // drops the commands of the session: they go again on a new one.
        if (!loggedOut || logouts == kLogoutRetries) {
            return result;
        }
    }
}

// Connect, then log in: no TEST UNIT READY of the library's, so the first
// unit attention is left for the program to see.
bool IscsiSession::LogIn()
{
    const auto deadline = std::chrono::steady_clock::now() + m_loginTimeout;
    const std::string limit = std::to_string(m_loginTimeout.count()) + " ms";
    IgnorePipeSignal();
    m_context = iscsi_create_context(kInitiatorName);
    if (m_context == nullptr) {
        m_problem = m_target.Url() + ": cannot create an iSCSI context";
        return false;
    }
    iscsi_set_targetname(m_context, m_target.iqn.c_str());
    iscsi_set_session_type(m_context, ISCSI_SESSION_NORMAL);
    iscsi_set_header_digest(m_context, ISCSI_HEADER_DIGEST_NONE);
    iscsi_set_noautoreconnect(m_context, 1);

    m_connect = {};
    m_socketError = 0;
    if (iscsi_connect_async(m_context, m_target.Portal().c_str(), OnStep, &m_connect) != 0) {
        Drop(m_target.Url() + ": cannot connect: " + LastError(m_context));
        return false;
    }
    Wait wait = RunUntil(m_connect, deadline);
    if (wait == Wait::TimedOut) {
        Drop(m_target.Url() + ": no connection within " + limit);
        return false;
    }
    if (wait == Wait::Failed || m_connect.status != SCSI_STATUS_GOOD) {
        Drop(m_target.Url() + ": cannot connect: " +
             (m_socketError != 0 ? std::string(std::strerror(m_socketError)) : LastError(m_context)));
        return false;
    }

    m_login = {};
    if (iscsi_login_async(m_context, OnStep, &m_login) != 0) {
        Drop(m_target.Url() + ": login failed: " + LastError(m_context));
        return false;
    }
    wait = RunUntil(m_login, deadline);
    if (wait == Wait::TimedOut) {
        Drop(m_target.Url() + ": no answer to the login within " + limit);
        return false;
    }
    if (wait == Wait::Failed || m_login.status != SCSI_STATUS_GOOD) {
        Drop(m_target.Url() + ": login refused: " + LastError(m_context));
        return false;
    }
    m_problem.clear();
    return true;
}

void IscsiSession::Drop(const std::string& problem)
{
    if (!problem.empty()) {
        m_problem = problem;
    }
    if (m_context != nullptr) {
        iscsi_destroy_context(m_context);
        m_context = nullptr;
    }
}

IscsiSession::Wait IscsiSession::RunUntil(const Step& step, std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    while (!step.done) {
        const auto now = steady_clock::now();
        if (now >= deadline) {
            return Wait::TimedOut;
        }
        const auto left = duration_cast<milliseconds>(deadline - now).count();
        pollfd watched{iscsi_get_fd(m_context), static_cast<short>(iscsi_which_events(m_context)), 0};
        const int ready = poll(&watched, 1, static_cast<int>(std::clamp<long long>(left, 1, kMaxPollMs)));
        if (ready < 0 && errno != EINTR) {
            return Wait::Failed;
        }
        if (ready > 0 && (watched.revents & (POLLERR | POLLHUP)) != 0) {
            // Read before libiscsi closes the socket and forgets the reason.
            m_socketError = SocketError(watched.fd);
        }
        if (ready >= 0 && iscsi_service(m_context, ready > 0 ? watched.revents : 0) < 0) {
            return step.done ? Wait::Done : Wait::Failed;
        }
    }
    return Wait::Done;
}

ScsiResult IscsiSession::Send(std::uint16_t lun, const ScsiRequest& request, bool* loggedOut)
{
    std::array<unsigned char, SCSI_CDB_MAX_SIZE> cdb{};
    const std::size_t cdbLength = std::min(request.cdb.size(), cdb.size());
    std::copy_n(request.cdb.begin(), cdbLength, cdb.begin());
    const int direction = DirectionOf(request);
    const std::size_t length = request.data.size();

    scsi_task* task =
        scsi_create_task(static_cast<int>(cdbLength), cdb.data(), direction, static_cast<int>(length));
    if (task == nullptr) {
        m_problem = m_target.Url() + ": out of memory for a command";
        return Undelivered();
    }
    // Straight into the caller's buffer: no copy on the hot read path.
    if (direction == SCSI_XFER_READ &&
        scsi_task_add_data_in_buffer(task, static_cast<int>(length), request.data.data()) != 0) {
        scsi_free_scsi_task(task);
        m_problem = m_target.Url() + ": out of memory for a command";
        return Undelivered();
    }
    iscsi_data dataOut{length, request.data.data()};
    Step step;
    // Built only when a failure is told: not on every command.
    const auto where = [&] { return m_target.Url() + " LUN " + std::to_string(lun); };
    if (iscsi_scsi_command_async(m_context, lun, task, OnStep, direction == SCSI_XFER_WRITE ? &dataOut : nullptr,
                                 &step) != 0) {
        Drop(where() + ": command not sent: " + LastError(m_context));
        scsi_free_scsi_task(task);
        return Undelivered();
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(request.timeoutSeconds);
    const Wait wait = RunUntil(step, deadline);
    if (wait != Wait::Done || step.status < 0 || step.status > kMaxScsiStatus) {
        // The target may still answer later; only a new session is sure not
        // to write into a buffer the caller has taken back.
        // libiscsi logs out on its own only when the target asks it to; the
        // target then closes the connection with the command unanswered.
        *loggedOut = wait != Wait::TimedOut && iscsi_is_logged_in(m_context) == 0;
        const std::string why = wait == Wait::TimedOut ? "no answer within " + std::to_string(request.timeoutSeconds) + " s"
                                : *loggedOut            ? "the target asked to log out"
                                                        : "connection lost: " + LastError(m_context);
        if (!step.done) {
            iscsi_scsi_cancel_task(m_context, task);
        }
        Drop(where() + ": " + why);
        scsi_free_scsi_task(task);
        return Undelivered();
    }
    ScsiResult result;
    result.status = static_cast<std::uint8_t>(task->status);
    result.transferred = TransferredOf(*task, length);
    CopySense(*task, &result);
    scsi_free_scsi_task(task);
    return result;
}

}  // namespace harrow::machine
