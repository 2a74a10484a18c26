// Sends raw CDBs to a simulated unit kept in a temporary state folder.
#pragma once

#include "machine/drives/DriveFactory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

namespace harrow::machine::testing {

struct Answer {
    ScsiResult result;
    std::vector<std::uint8_t> data;  // the host buffer after the command

    int Key() const { return result.sense[2] & 0x0F; }
    int Asc() const { return result.sense[12]; }
    int Ascq() const { return result.sense[13]; }
    std::uint32_t Information() const
    {
        return (result.sense[3] << 24) | (result.sense[4] << 16) | (result.sense[5] << 8) | result.sense[6];
    }
};

class TempFolder {
public:
    TempFolder()
    {
        std::random_device random;
        path_ = std::filesystem::temp_directory_path() / ("harrow-drives-" + std::to_string(random()));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A test with a fresh state folder.
class DriveTest : public ::testing::Test {
protected:
    TempFolder folder;
};

class Drive {
public:
    Drive(const nlohmann::json& unit, const std::filesystem::path& state)
        : unit_(MakeSimulatedUnit(unit, "ports[0].units[0]", state))
    {
    }

    Answer Send(std::vector<std::uint8_t> cdb, std::size_t length = 0, std::vector<std::uint8_t> out = {})
    {
        Answer answer;
        answer.data = out.empty() ? std::vector<std::uint8_t>(length, 0xEE) : std::move(out);
        ScsiRequest request;
        request.cdb = cdb;
        request.direction = answer.data.empty() ? DataDirection::None : DataDirection::In;
        request.data = answer.data;
        answer.result = unit_->Execute(request);
        return answer;
    }

    LogicalUnit& Unit() { return *unit_; }

private:
    std::unique_ptr<LogicalUnit> unit_;
};

inline std::vector<std::uint8_t> Cdb10(std::uint8_t op, std::uint32_t lba, std::uint16_t count, std::uint8_t flags = 0)
{
    return {op, flags, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0,
            static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count), 0};
}

// CHECK CONDITION with the given sense key, ASC and ASCQ.
inline ::testing::AssertionResult HasSense(const Answer& answer, int key, int asc, int ascq)
{
    if (answer.result.status == 0x02 && answer.Key() == key && answer.Asc() == asc && answer.Ascq() == ascq) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "status " << int(answer.result.status) << " sense " << answer.Key()
                                         << "/" << std::hex << answer.Asc() << "/" << answer.Ascq();
}

}  // namespace harrow::machine::testing
