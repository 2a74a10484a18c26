// A medium changer (SMC): one transport, eight storage slots (the first
// four holding cartridges) and one data-transfer element.
#pragma once

#include "machine/drives/ScsiServer.h"

#include <map>

namespace harrow::machine::drives {

class ChangerServer final : public ScsiServer {
public:
    explicit ChangerServer(UnitConfig config);

private:
    ScsiResult Dispatch(const ScsiRequest& request) override;
    std::uint8_t PeripheralType() const override { return 0x08; }

    ScsiResult MoveMedium(const ScsiRequest& request);
    ScsiResult ReadElementStatus(const ScsiRequest& request);
    ScsiResult ModeSense(const ScsiRequest& request);

    std::map<std::uint16_t, bool> m_full;  // element address → holds a cartridge
};

}  // namespace harrow::machine::drives
