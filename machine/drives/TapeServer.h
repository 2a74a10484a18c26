// A sequential-access drive (SSC) holding its tape in memory: records and
// filemarks, fixed or variable blocks, a position, load and unload.
#pragma once

#include "machine/drives/ScsiServer.h"

#include <vector>

namespace harrow::machine::drives {

class TapeServer final : public ScsiServer {
public:
    explicit TapeServer(UnitConfig config) : ScsiServer(std::move(config)) {}

private:
    struct Record {
        bool filemark = false;
        std::vector<std::uint8_t> data;
    };

    ScsiResult Dispatch(const ScsiRequest& request) override;
    std::uint8_t PeripheralType() const override { return 0x01; }
    Condition CurrentCondition() override;

    ScsiResult Read(const ScsiRequest& request);
    ScsiResult ReadFixed(const ScsiRequest& request, std::uint32_t count);
    ScsiResult Write(const ScsiRequest& request);
    ScsiResult WriteFilemarks(const ScsiRequest& request);
    ScsiResult Space(const ScsiRequest& request);
    ScsiResult SpaceBlocks(std::int32_t count);
    ScsiResult SpaceFilemarks(std::int32_t count);
    ScsiResult ModeSense(const ScsiRequest& request);
    ScsiResult ModeSelect(const ScsiRequest& request);
    ScsiResult Locate(const ScsiRequest& request);
    ScsiResult ReadPosition(const ScsiRequest& request);
    bool Append(Record record);
    void EraseFromPosition();

    std::vector<Record> m_records;
    std::size_t m_position = 0;
    std::size_t m_bytes = 0;
    std::uint32_t m_fixedLength = 0;  // 0 = variable blocks
    bool m_loaded = true;
};

}  // namespace harrow::machine::drives
