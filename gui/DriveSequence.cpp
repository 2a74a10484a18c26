#include "gui/DriveSequence.h"

#include "gui/ElapsedText.h"
#include "platform/Kernel.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kPollMs = 100;

}  // namespace

DriveSequence::DriveSequence(RunState& state, Activity activity, QObject* parent)
    : QObject(parent), m_state(state), m_activity(activity)
{
    m_timer.setInterval(kPollMs);
    connect(&m_timer, &QTimer::timeout, this, &DriveSequence::Poll);
}

DriveSequence::~DriveSequence() = default;

bool DriveSequence::Start(const std::vector<DeviceRecord*>& records, Step step, int finalPauseMs)
{
    if (records.empty() || m_state.Busy()) {
        return false;
    }
    m_records = records;
    m_step = std::move(step);
    m_finalPauseMs = finalPauseMs;
    m_next = 0;
    m_aborted = false;
    m_state.activity = m_activity;
    m_state.abortFlag = 0;
    m_state.progressPosition = 0;
    m_state.progressRange = static_cast<std::int32_t>(records.size());
    m_clock.start();
    m_state.elapsedText = ElapsedText(0);
    StartNext();
    m_timer.start();
    emit Changed();
    return true;
}

void DriveSequence::StartNext()
{
    if (m_next >= m_records.size() || m_state.abortFlag.load() != 0) {
        m_aborted = m_state.abortFlag.load() != 0;
        m_timer.stop();
        const auto pause = std::lround(m_finalPauseMs * harrow::platform::TimeScale());
        QTimer::singleShot(static_cast<int>(pause), this, &DriveSequence::Finish);
        return;
    }
    m_worker = std::make_unique<DriveWorker>(*m_records[m_next], [step = m_step](DeviceRecord& copy,
                                                                                 const std::atomic<bool>&) {
        step(copy);
    });
}

void DriveSequence::Poll()
{
    m_state.elapsedText = ElapsedText(m_clock.elapsed());
    DeviceRecord& record = *m_records[m_next];
    if (!m_worker->Finished()) {
        if (m_worker->TakeChange(record)) {
            record.changed = 1;
        }
        emit Changed();
        return;
    }
    record = m_worker->Outcome();
    record.changed = 1;
    m_worker.reset();
    ++m_next;
    m_state.progressPosition = static_cast<std::int32_t>(m_next);
    emit Changed();
    StartNext();
}

void DriveSequence::Finish()
{
    m_state.activity = ACTIVITY_NONE;
    emit Finished();
}

void DriveSequence::Abort()
{
    if (Running()) {
        m_state.abortFlag = 1;
    }
}
