// A stand-in logical unit: answers INQUIRY with its peripheral type and name,
// and every other command with a scripted result.
#pragma once

#include "machine/LogicalUnit.h"
#include "machine/SimulatedMachine.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace harrow::machine::testing {

struct FakeScript {
    ScsiResult answer;                // for commands other than INQUIRY
    std::uint8_t fill = 0xA5;         // data-in bytes
    bool silent = false;              // selection time-out for everything
    int busyInquiries = 0;            // BUSY answers before INQUIRY succeeds
    std::vector<std::uint8_t> lastCdb;
    DataDirection lastDirection = DataDirection::None;
    std::size_t lastDataSize = 0;
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
};

class FakeUnit final : public LogicalUnit {
public:
    FakeUnit(std::uint8_t type, std::string name, std::shared_ptr<FakeScript> script)
        : m_type(type), m_name(std::move(name)), m_script(std::move(script))
    {
    }

    ScsiResult Execute(const ScsiRequest& request) override
    {
        if (m_script->inside.fetch_add(1) != 0) {
            m_script->overlapped = true;
        }
        ScsiResult result = Answer(request);
        m_script->inside.fetch_sub(1);
        return result;
    }

private:
    ScsiResult Answer(const ScsiRequest& request)
    {
        ScsiResult result;
        if (m_script->silent) {
            result.outcome = PortOutcome::SelectionTimeout;
            return result;
        }
        if (request.cdb[0] == 0x12) {
            if (m_script->busyInquiries > 0) {
                --m_script->busyInquiries;
                result.outcome = PortOutcome::Busy;
                return result;
            }
            std::uint8_t inquiry[36] = {m_type, 0, 5, 2, 31};
            std::memset(inquiry + 8, ' ', 28);
            std::memcpy(inquiry + 8, m_name.data(), std::min<std::size_t>(m_name.size(), 28));
            result.transferred = static_cast<std::uint32_t>(std::min<std::size_t>(36, request.data.size()));
            std::memcpy(request.data.data(), inquiry, result.transferred);
            return result;
        }
        m_script->lastCdb.assign(request.cdb.begin(), request.cdb.end());
        m_script->lastDirection = request.direction;
        m_script->lastDataSize = request.data.size();
        result = m_script->answer;
        if (request.direction == DataDirection::In) {
            std::memset(request.data.data(), m_script->fill, std::min<std::size_t>(result.transferred, request.data.size()));
        }
        return result;
    }

    std::uint8_t m_type;
    std::string m_name;
    std::shared_ptr<FakeScript> m_script;
};

// A factory reading "fakeType" and "fakeName" from the unit object; each
// unit's script is kept by its "where" for the test to steer.
class FakeFactory {
public:
    UnitFactory Factory()
    {
        return [this](const nlohmann::json& unit, const std::string& where, const std::filesystem::path& state) {
            auto script = std::make_shared<FakeScript>();
            if (unit.contains("silent")) {
                script->silent = unit["silent"].get<bool>();
            }
            if (unit.contains("busyInquiries")) {
                script->busyInquiries = unit["busyInquiries"].get<int>();
            }
            scripts.emplace_back(where, script);
            stateDirs.push_back(state);
            return std::make_unique<FakeUnit>(unit.value("fakeType", 0), unit.value("fakeName", std::string("FAKE")),
                                              script);
        };
    }

    std::shared_ptr<FakeScript> Script(const std::string& where) const
    {
        for (const auto& [w, s] : scripts) {
            if (w == where) {
                return s;
            }
        }
        return nullptr;
    }

    std::vector<std::pair<std::string, std::shared_ptr<FakeScript>>> scripts;
    std::vector<std::filesystem::path> stateDirs;
};

}  // namespace harrow::machine::testing
