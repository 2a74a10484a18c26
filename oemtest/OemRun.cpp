#include "oemtest/OemRun.h"

#include "core/devices/SCSIDevice.h"
#include "core/tests/CTestBase.h"
#include "core/types/CEventBase.h"

#include <algorithm>
#include <chrono>

namespace {

constexpr double kBytesPerMegabyte = 1000.0 * 1000.0;

long long BlocksMoved(SCSIDevice* device)
{
    const CPerformanceData* performance = device->GetPerformance();
    return performance == nullptr
               ? 0
               : static_cast<long long>(performance->GetTotalReadBlocks()) + performance->GetTotalWriteBlocks();
}

}  // namespace

OemRun::OemRun(std::unique_ptr<CTestBase> test, std::vector<SCSIDevice*> devices, const OemProgressBasis& basis)
    : m_test(std::move(test)), m_devices(std::move(devices)), m_lastBlocks(m_devices.size(), 0),
      m_lastPercent(m_devices.size(), 0), m_basis(basis)
{
    m_basis.blocksPerXfer = std::max(1L, m_basis.blocksPerXfer);
}

OemRun::~OemRun()
{
    if (!m_thread.joinable()) {
        return;
    }
    m_test->CancelTest();
    // RunTest returns only once its queue is empty.
    while (!m_done) {
        TakeEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_thread.join();
    TakeEvents();
}

void OemRun::Start()
{
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        // A state left from an earlier test must not read as this one's.
        m_devices[i]->SetTestState(0);
        m_lastBlocks[i] = BlocksMoved(m_devices[i]);
    }
    m_thread = std::thread([this] {
        m_result = static_cast<Error_t>(::RunTest(m_test.get()));
        m_done = true;
    });
}

void OemRun::Cancel()
{
    m_cancelled = true;
    m_test->CancelTest();
}

bool OemRun::Finished()
{
    if (!m_done) {
        return false;
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return true;
}

std::vector<OemEvent> OemRun::TakeEvents()
{
    std::vector<OemEvent> events;
    while (CEventBase* event = m_test->GetError()) {
        events.push_back({event->GetDevAddress(), event->toString()});
        delete event;
    }
    return events;
}

int OemRun::TestPercent()
{
    long low = 0;
    long high = 0;
    m_test->GetProgressRange(low, high);
    if (high <= low) {
        return 0;
    }
    const double share = static_cast<double>(m_test->GetProgress() - low) / static_cast<double>(high - low);
    return static_cast<int>(std::clamp(share, 0.0, 1.0) * 100.0);
}

int OemRun::DevicePercent(long long blocks, int testPercent)
{
    long long expected = m_basis.countedBlocks;
    if (m_basis.kind == OemProgressBasis::TestProgress) {
        return testPercent;
    }
    if (m_basis.kind == OemProgressBasis::RangeBlocks) {
        long low = 0;
        long high = 0;
        m_test->GetProgressRange(low, high);
        expected = static_cast<long long>(high) - low;
    }
    return expected > 0 ? static_cast<int>(std::clamp(blocks * 100 / expected, 0LL, 100LL)) : 0;
}

std::vector<OemDeviceFigures> OemRun::Sample(double seconds, double runSeconds)
{
    // A drive that passed is done; one that failed or was aborted shows what it
    // moved, or where it stopped when only the test's progress tells.
    const int testPercent = TestPercent();
    std::vector<OemDeviceFigures> figures(m_devices.size());
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        OemDeviceFigures& figure = figures[i];
        figure.state = m_devices[i]->GetTestState();
        const long long blocks = BlocksMoved(m_devices[i]);
        // Any state but 0: the engine cleared the drive's figures for this test.
        const bool counted = m_basis.kind != OemProgressBasis::TestProgress;
        if (figure.state == CTestBase::kTestStatePassed) {
            m_lastPercent[i] = 100;
        } else if (figure.state == CTestBase::kTestStateRunning || (figure.state != 0 && counted)) {
            m_lastPercent[i] = std::max(m_lastPercent[i], DevicePercent(blocks, testPercent));
        }
        figure.percent = m_lastPercent[i];
        const long long moved = blocks - m_lastBlocks[i];
        m_lastBlocks[i] = blocks;
        Rates(m_devices[i], moved, seconds, figure.megabytesPerSecond, figure.commandsPerSecond);
        if (figure.state != 0) {
            Rates(m_devices[i], blocks, runSeconds, figure.averageMegabytesPerSecond, figure.averageCommandsPerSecond);
        }
    }
    return figures;
}

void OemRun::Rates(SCSIDevice* device, long long blocks, double seconds, double& megabytes, double& commands) const
{
    if (seconds <= 0 || blocks <= 0) {
        return;
    }
    const double bytes = static_cast<double>(blocks) * static_cast<double>(device->GetBlockLength());
    megabytes = bytes / kBytesPerMegabyte / seconds;
    commands = static_cast<double>(blocks) / static_cast<double>(m_basis.blocksPerXfer) / seconds;
}
