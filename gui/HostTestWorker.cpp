#include "gui/HostTestWorker.h"

#include "frontend/HostTests.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Below the window's thread, so a drive that answers at once cannot starve it.
constexpr int WORKER_NICENESS = 5;

}  // namespace

HostTestWorker::HostTestWorker(const DeviceRecord& record, bool longTest)
    : m_record(record), m_thread([this, longTest] { Run(longTest); })
{
}

HostTestWorker::~HostTestWorker()
{
    RequestAbort();
    m_thread.join();
}

void HostTestWorker::Run(bool longTest)
{
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), getpriority(PRIO_PROCESS, 0) + WORKER_NICENESS);
    if (longTest) {
        GenericLongTest(m_record);
    } else {
        GenericShortTest(m_record);
    }
    m_done.store(true, std::memory_order_release);
}

void HostTestWorker::RequestAbort() { std::atomic_ref<std::uint8_t>(m_record.abortRequest).store(1); }

bool HostTestWorker::TakeChange(DeviceRecord& into)
{
    into.percent = std::atomic_ref<float>(m_record.percent).load();
    if (std::atomic_ref<std::uint8_t>(m_record.changed).exchange(0) == 0) {
        return false;
    }
    into.state = m_record.state;
    into.statusText = m_record.statusText;
    return true;
}
