#include "gui/FormatRun.h"

#include "core/devices/SCSIDevice.h"
#include "core/system/CComputerSystem.h"
#include "frontend/LineLog.h"
#include "frontend/TextFormat.h"
#include "gui/DeviceSelection.h"
#include "gui/ElapsedText.h"
#include "gui/GuiLog.h"
#include "gui/PumpWait.h"
#include "gui/RunState.h"

#include <QCoreApplication>

#include <algorithm>
#include <set>

namespace {

constexpr DWORD kSliceMs = 1000;
constexpr int kSlicesPerPass = 5;

}  // namespace

FormatRun::FormatRun(DeviceSelection& selection, RunState& state, QObject* parent)
    : QObject(parent), m_selection(selection), m_state(state)
{
}

FormatRun::~FormatRun()
{
    for (Drive& drive : m_drives) {
        if (drive.worker.joinable()) {
            drive.worker.join();
        }
    }
}

void FormatRun::Run(const std::optional<BlockSize>& blockSize)
{
    m_formatOnly = !blockSize.has_value();
    m_drives.clear();
    m_clock.start();
    m_state.elapsedText = ElapsedText(m_clock.elapsed());
    Publish(0);
    const std::vector<DeviceRecord*> disks = m_selection.DisksFor(m_formatOnly ? "Format Only" : "Format");
    emit Changed();
    SetControlBlocks(disks, true);
    for (DeviceRecord* record : disks) {
        if (blockSize && !ChangeBlockSize(*record, blockSize->choice, blockSize->typed)) {
            emit Changed();
            continue;
        }
        StartDrive(*record);
        emit Changed();
        QCoreApplication::processEvents();
    }
    bool inProgress = !m_drives.empty();
    while (inProgress) {
        for (int slice = 0; slice < kSlicesPerPass; ++slice) {
            PumpWait(kSliceMs);
            m_state.elapsedText = ElapsedText(m_clock.elapsed());
            emit Changed();
        }
        inProgress = Examine();
    }
    PumpWait(kSliceMs);
    for (Drive& drive : m_drives) {
        drive.worker.join();
    }
    // The bar shows 100 % only when every format completed.
    const bool allPassed = std::all_of(m_drives.begin(), m_drives.end(),
                                       [](const Drive& d) { return d.record->state == TEST_PASSED; });
    if (!allPassed) {
        Publish(std::min(m_progress, 99));
    }
    SetControlBlocks(disks, false);
}

void FormatRun::SetControlBlocks(const std::vector<DeviceRecord*>& records, bool set)
{
    CComputerSystem* system = CComputerSystem::Instance();
    if (system == nullptr) {
        return;
    }
    const auto n = static_cast<unsigned long>(records.size());
    SCSIDevice* previous = nullptr;
    for (const DeviceRecord* record : records) {
        SCSIDevice* device = system->GetSCSIDevice(record->hostAdapter, record->target, record->lun);
        if (device == nullptr || device == previous) {
            continue;
        }
        previous = device;
        if (!set) {
            device->ClearIoCtlBlocks(n);
        } else if (device->SetIoCtlBlocks(n) == 0) {
            device->SetIoCtlBlocks(n + 1);
        }
    }
}

void FormatRun::StartDrive(DeviceRecord& record)
{
    Drive drive;
    drive.record = &record;
    drive.job = std::make_unique<FormatJob>();
    drive.job->record = record;
    drive.job->record.statusLock = nullptr;
    drive.job->ctlIndex = static_cast<unsigned long>(m_drives.size()) + 1;
    drive.job->running.store(1);
    drive.inProgress = true;
    FormatJob* job = drive.job.get();
    drive.worker = std::thread([job] { RunFormat(*job); });
    const std::string now = TimeStamp("%H:%M:%S");
    LogLine(Format("Disc Format Started At %s", now.c_str()), &record, kGuiWithAddress);
    PublishStatus(record, TEST_RUNNING, Format("Format Started at %s", now.c_str()));
    record.percent = 0.0F;
    m_drives.push_back(std::move(drive));
}

bool FormatRun::Examine()
{
    int lowest = 100;
    bool any = false;
    for (Drive& drive : m_drives) {
        if (!drive.inProgress) {
            continue;
        }
        if (drive.job->running.load(std::memory_order_acquire) == 0) {
            Report(drive);
            continue;
        }
        any = true;
        const float percent = std::atomic_ref<float>(drive.job->record.percent).load();
        drive.record->percent = percent;
        drive.record->changed = 1;
        lowest = std::min(lowest, static_cast<int>(percent));
    }
    Publish(lowest);
    return any;
}

void FormatRun::Report(Drive& drive)
{
    drive.inProgress = false;
    drive.record->percent = std::atomic_ref<float>(drive.job->record.percent).load();
    const FormatOutcome outcome = DescribeFormatOutcome(*drive.job, m_formatOnly, TimeStamp("%H:%M:%S"));
    LogLine(outcome.log, drive.record, kGuiWithAddress);
    PublishStatus(*drive.record, outcome.state, outcome.status);
    emit Changed();
}

void FormatRun::Publish(int lowest)
{
    m_progress = lowest;
    m_state.progressRange = 100;
    m_state.progressPosition = lowest;
    m_state.elapsedText = ElapsedText(m_clock.elapsed());
    emit Changed();
}
