// A CD-ROM drive (MMC basics) with a read-only data disc whose blocks hold
// a pattern of their own address.
#pragma once

#include "machine/drives/ScsiServer.h"

namespace harrow::machine::drives {

class CdromServer final : public ScsiServer {
public:
    explicit CdromServer(UnitConfig config) : ScsiServer(std::move(config)) {}

    // The byte at offset i of block lba, as the disc holds it.
    static std::uint8_t PatternByte(std::uint64_t lba, std::size_t i) { return static_cast<std::uint8_t>(lba * 7 + i); }

private:
    ScsiResult Dispatch(const ScsiRequest& request) override;
    std::uint8_t PeripheralType() const override { return 0x05; }
    Condition CurrentCondition() override;

    ScsiResult Read(const ScsiRequest& request, std::uint64_t lba, std::uint64_t count);
    ScsiResult ReadToc(const ScsiRequest& request);
    ScsiResult ModeSense(const ScsiRequest& request, bool ten);

    bool m_loaded = true;
};

}  // namespace harrow::machine::drives
