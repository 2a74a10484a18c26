#include "EngineFixture.h"

#include "core/buffers/AlignedBuffer.h"
#include "core/log/CLogFile.h"
#include "core/system/CComputerSystem.h"
#include "core/tests/CBufferPatternSystem.h"
#include "core/types/CEventBase.h"
#include "machine/MachineFile.h"
#include "machine/SimulatedMachine.h"
#include "platform/DeviceNamespace.h"
#include "platform/Registry.h"
#include "support/TestHome.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace engine_test {
namespace {

using harrow::machine::LogicalUnit;
using harrow::machine::ScsiRequest;
using harrow::machine::ScsiResult;

constexpr std::size_t kKeptDataBytes = 16;

class RecordingUnit final : public LogicalUnit {
public:
    RecordingUnit(std::unique_ptr<LogicalUnit> inner, std::shared_ptr<Recorder> recorder)
        : m_Inner(std::move(inner)), m_Recorder(std::move(recorder))
    {
    }

    ScsiResult Execute(const ScsiRequest& request) override
    {
        SeenCommand seen;
        seen.cdb.assign(request.cdb.begin(), request.cdb.end());
        if (request.direction == harrow::machine::DataDirection::Out) {
            const std::size_t kept = std::min(request.data.size(), kKeptDataBytes);
            seen.dataOut.assign(request.data.begin(), request.data.begin() + static_cast<std::ptrdiff_t>(kept));
        }
        m_Recorder->Add(std::move(seen));
        return m_Inner->Execute(request);
    }

    double ServiceSeconds() const override { return m_Inner->ServiceSeconds(); }

private:
    std::unique_ptr<LogicalUnit> m_Inner;
    std::shared_ptr<Recorder> m_Recorder;
};

std::uint64_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count && at + i < bytes.size(); ++i) {
        value = (value << 8) | bytes[at + i];
    }
    return value;
}

}  // namespace

std::uint32_t SeenCommand::Lba() const
{
    return static_cast<std::uint32_t>(BigEndian(cdb, 2, 4));
}

std::uint32_t SeenCommand::Blocks() const
{
    return static_cast<std::uint32_t>(BigEndian(cdb, 7, 2));
}

std::uint64_t SeenCommand::Lba16() const
{
    return BigEndian(cdb, 2, 8);
}

std::uint32_t SeenCommand::Blocks16() const
{
    return static_cast<std::uint32_t>(BigEndian(cdb, 10, 4));
}

void Recorder::Add(SeenCommand command)
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    m_Seen.push_back(std::move(command));
}

void Recorder::Clear()
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    m_Seen.clear();
}

std::vector<SeenCommand> Recorder::All()
{
    const std::lock_guard<std::mutex> hold(m_Lock);
    return m_Seen;
}

std::vector<SeenCommand> Recorder::Without(std::uint8_t opcode)
{
    std::vector<SeenCommand> kept;
    for (const SeenCommand& command : All()) {
        if (command.Opcode() != opcode) {
            kept.push_back(command);
        }
    }
    return kept;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> Recorder::Transfers(std::uint8_t opcode)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> transfers;
    for (const SeenCommand& command : All()) {
        if (command.Opcode() == opcode) {
            transfers.emplace_back(command.Lba(), command.Blocks());
        }
    }
    return transfers;
}

std::vector<std::pair<std::uint64_t, std::uint32_t>> Recorder::Transfers16(std::uint8_t opcode)
{
    std::vector<std::pair<std::uint64_t, std::uint32_t>> transfers;
    for (const SeenCommand& command : All()) {
        if (command.Opcode() == opcode) {
            transfers.emplace_back(command.Lba16(), command.Blocks16());
        }
    }
    return transfers;
}

std::size_t Recorder::Count(std::uint8_t opcode)
{
    return Transfers(opcode).size();
}

void EngineFixture::SetUp()
{
    m_Dir = test_support::MakeTestHome("engine");
    CComputerSystem::Destroy();
}

void EngineFixture::TearDown()
{
    CComputerSystem::Destroy();
    CLogFile::Destroy();
    CBufferPatternSystem::Destroy();
    CBufferPatternSystem::SetDataCompare(false);
    AlignedBuffer::UnregisterBufferMgr();
    test_support::LeaveTestHome(m_Dir);
}

void EngineFixture::StartMachine(const std::string& units, const std::string& port)
{
    // The Nox library lists only the ports its driver serves.
    const std::string nox = m_Transport == DRV_NOX ? R"("nox": true, )" : "";
    const std::string text = R"({"name": "engine", "ports": [{"driver": "aic78xx", )" + nox + port +
                             R"("units": )" + units + "}]}";
    const auto described = harrow::machine::ParseMachineText(text, "engine.json", "engine");
    auto factory = [this](const nlohmann::json& unit, const std::string& where,
                          const std::filesystem::path& stateDir) -> std::unique_ptr<LogicalUnit> {
        auto recorder = std::make_shared<Recorder>();
        m_Recorders[unit.at("target").get<int>()] = recorder;
        return std::make_unique<RecordingUnit>(harrow::machine::MakeSimulatedUnit(unit, where, stateDir), recorder);
    };
    harrow::platform::SetActiveMachine(
        std::make_unique<harrow::machine::SimulatedMachine>(described, "engine.json", m_Dir / "state", factory));
    harrow::platform::ReloadRegistry();
    CComputerSystem::RegisterProductRunning("");
    ASSERT_EQ(CComputerSystem::Instance()->Init(m_Transport, BUFMGR_HEAP), ERR_NONE);
    ClearSeen();
}

CDisk* EngineFixture::Disk(int target)
{
    return dynamic_cast<CDisk*>(CComputerSystem::Instance()->GetSCSIDevice(0, target, 0));
}

std::list<CDevAddress> EngineFixture::Addresses(const std::vector<int>& targets)
{
    std::list<CDevAddress> addresses;
    for (int target : targets) {
        addresses.emplace_back(0, target, 0, -1, -1, -1);
    }
    return addresses;
}

void EngineFixture::ClearSeen()
{
    for (auto& [target, recorder] : m_Recorders) {
        recorder->Clear();
    }
}

Outcome EngineFixture::RunToEnd(CTestBase& test, std::chrono::seconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool late = false;
    return RunUntil(test, [&] {
        late = late || std::chrono::steady_clock::now() > deadline;
        if (late) {
            ADD_FAILURE() << "the test did not end within " << limit.count() << " s";
        }
        return late;
    });
}

}  // namespace engine_test
