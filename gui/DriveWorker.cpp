#include "gui/DriveWorker.h"

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kWorkerNiceness = 5;

}  // namespace

void LowerThreadPriority()
{
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), getpriority(PRIO_PROCESS, 0) + kWorkerNiceness);
}

DriveWorker::DriveWorker(const DeviceRecord& record, Test test)
    : m_record(record)
{
    m_record.statusLock = &m_statusLock;
    m_thread = std::thread([this, test = std::move(test)] { Run(test); });
}

DriveWorker::~DriveWorker()
{
    RequestAbort();
    m_thread.join();
}

void DriveWorker::Run(const Test& test)
{
    LowerThreadPriority();
    test(m_record, m_abort);
    m_done.store(true, std::memory_order_release);
}

void DriveWorker::RequestAbort()
{
    m_abort.store(true);
    std::atomic_ref<std::uint8_t>(m_record.abortRequest).store(1);
}

bool DriveWorker::TakeChange(DeviceRecord& into)
{
    into.percent = std::atomic_ref<float>(m_record.percent).load();
    const std::lock_guard lock(m_statusLock);
    if (m_record.changed == 0) {
        return false;
    }
    m_record.changed = 0;
    into.state = m_record.state;
    into.statusText = m_record.statusText;
    return true;
}

DeviceRecord DriveWorker::Outcome() const
{
    DeviceRecord outcome = m_record;
    outcome.statusLock = nullptr;
    return outcome;
}
