#pragma once

#include "gui/FormatCommands.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

class DeviceSelection;
struct RunState;

// Formats every selected drive at once, one worker thread each on its own
// control block, and supervises them from the window's thread, which goes on
// handling events while it waits.
class FormatRun : public QObject {
    Q_OBJECT
public:
    struct BlockSize {
        BlockSizeChoice choice = BLOCK_512;
        std::uint32_t typed = 0;
    };

    FormatRun(DeviceSelection& selection, RunState& state, QObject* parent = nullptr);
    ~FormatRun() override;

    // With a block size, each drive takes it before its format (the format page);
    // without, drives keep theirs (the format-only page). Returns when all ended.
    void Run(const std::optional<BlockSize>& blockSize);
    // The lowest progress of the drives still running, as last published.
    int Progress() const { return m_progress; }

signals:
    void Changed();

private:
    struct Drive {
        DeviceRecord* record = nullptr;
        std::unique_ptr<FormatJob> job;
        std::thread worker;
        bool inProgress = false;
    };

    void SetControlBlocks(const std::vector<DeviceRecord*>& records, bool set);
    void StartDrive(DeviceRecord& record);
    // One pass over the drives; false when none is in progress any more.
    bool Examine();
    void Report(Drive& drive);
    void Publish(int lowest);

    DeviceSelection& m_selection;
    RunState& m_state;
    std::vector<Drive> m_drives;
    bool m_formatOnly = false;
    int m_progress = 0;
    QElapsedTimer m_clock;
};
