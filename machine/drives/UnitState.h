// What a simulated drive remembers across runs, and its JSON form.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace harrow::machine::drives {

struct SelfTestEntry {
    std::uint8_t code = 0;     // self-test code that ran
    std::uint8_t result = 0;   // 0 passed, 1 aborted, 2 aborted by an exception command, 5-7 segment failed
    std::uint8_t segment = 0;
    std::uint16_t hours = 0;   // power-on hours when it ended
    std::uint64_t failedLba = ~0ULL;
    std::uint8_t key = 0, asc = 0, ascq = 0;
};

enum class Operation { None, ShortSelfTest, LongSelfTest, Format };

// A background operation, timed in wall-clock seconds so that another
// process sees the same progress.
struct Running {
    Operation operation = Operation::None;
    double start = 0;
    double duration = 0;  // already multiplied by the time scale
    // A format without IMMED: its initiator waits, holding the unit's format
    // lock, and finishes it; a unit whose holder died was cut off mid-format.
    bool hostWaits = false;
};

using PageBytes = std::map<int, std::vector<std::uint8_t>>;

struct UnitState {
    std::string revision;
    std::string scsiFirmware;
    std::uint32_t blockSize = 512;
    std::uint64_t blocks = 0;
    std::uint32_t pendingBlockSize = 0;  // takes effect at the next format; 0 = none
    PageBytes currentPages;
    PageBytes savedPages;
    std::vector<SelfTestEntry> selfTests;  // newest first
    Running running;
    std::vector<std::uint64_t> grownDefects;
    std::vector<std::uint64_t> reassigned;  // injected medium errors cured by reassignment
    int notReadyRounds = 0;
    bool formatCorrupted = false;  // a format was cut off: MEDIUM FORMAT CORRUPTED until the next one (SBC-3)
    double createdAt = 0;
};

nlohmann::json ToJson(const UnitState& state);
// Throws std::runtime_error saying what is wrong.
UnitState FromJson(const nlohmann::json& json);

}  // namespace harrow::machine::drives
