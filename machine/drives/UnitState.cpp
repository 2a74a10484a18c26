#include "machine/drives/UnitState.h"

#include "machine/drives/UnitConfig.h"

#include <limits>
#include <stdexcept>

namespace harrow::machine::drives {
namespace {

using nlohmann::json;

constexpr double kLatestTime = 1e10;   // seconds since 1970, past the year 2286
constexpr double kLongestRun = 1e7;    // seconds, about 115 days

const char* OperationName(Operation operation)
{
    switch (operation) {
    case Operation::ShortSelfTest: return "short";
    case Operation::LongSelfTest: return "long";
    case Operation::Format: return "format";
    case Operation::None: break;
    }
    return "none";
}

Operation OperationFrom(const std::string& name)
{
    if (name == "none") return Operation::None;
    if (name == "short") return Operation::ShortSelfTest;
    if (name == "long") return Operation::LongSelfTest;
    if (name == "format") return Operation::Format;
    throw std::runtime_error("unknown running operation \"" + name + "\"");
}

// The file is hand-editable: a number that does not fit its field is refused
// rather than narrowed.
template <typename T>
T WholeValue(const json& value, const std::string& field)
{
    const auto high = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    if (value.is_number_unsigned() && value.get<std::uint64_t>() <= high) {
        return static_cast<T>(value.get<std::uint64_t>());
    }
    if (value.is_number_integer() && value.get<std::int64_t>() >= 0 &&
        static_cast<std::uint64_t>(value.get<std::int64_t>()) <= high) {
        return static_cast<T>(value.get<std::int64_t>());
    }
    throw std::runtime_error(field + ": must be a whole number from 0 to " + std::to_string(high));
}

template <typename T>
T Whole(const json& object, const std::string& field)
{
    return WholeValue<T>(object.at(field), field);
}

template <typename T>
std::vector<T> Wholes(const json& list, const std::string& field)
{
    if (!list.is_array()) {
        throw std::runtime_error(field + ": must be an array");
    }
    std::vector<T> numbers;
    for (std::size_t i = 0; i < list.size(); ++i) {
        numbers.push_back(WholeValue<T>(list[i], field + "[" + std::to_string(i) + "]"));
    }
    return numbers;
}

// Absent in states written before the flag existed: false.
bool Flag(const json& object, const std::string& field)
{
    if (!object.contains(field)) {
        return false;
    }
    if (!object.at(field).is_boolean()) {
        throw std::runtime_error(field + ": must be true or false");
    }
    return object.at(field).get<bool>();
}

double Seconds(const json& object, const std::string& field, double high)
{
    const json& value = object.at(field);
    if (!value.is_number() || !(value.get<double>() >= 0 && value.get<double>() <= high)) {
        throw std::runtime_error(field + ": must be a number of seconds from 0 to " + std::to_string(high));
    }
    return value.get<double>();
}

json PagesToJson(const PageBytes& pages)
{
    json out = json::object();
    for (const auto& [code, bytes] : pages) {
        out[std::to_string(code)] = bytes;
    }
    return out;
}

PageBytes PagesFrom(const json& in)
{
    PageBytes pages;
    for (const auto& item : in.items()) {
        const int code = std::stoi(item.key());
        if (code < 0 || code > 0x3E) {
            throw std::runtime_error("mode page code " + item.key() + " out of range");
        }
        pages[code] = Wholes<std::uint8_t>(item.value(), "mode page " + item.key());
    }
    return pages;
}

}  // namespace

json ToJson(const UnitState& state)
{
    json tests = json::array();
    for (const auto& e : state.selfTests) {
        tests.push_back({{"code", e.code}, {"result", e.result}, {"segment", e.segment}, {"hours", e.hours},
                         {"failedLba", e.failedLba}, {"sense", {e.key, e.asc, e.ascq}}});
    }
    return {{"revision", state.revision},
            {"scsiFirmware", state.scsiFirmware},
            {"blockSize", state.blockSize},
            {"blocks", state.blocks},
            {"pendingBlockSize", state.pendingBlockSize},
            {"currentPages", PagesToJson(state.currentPages)},
            {"savedPages", PagesToJson(state.savedPages)},
            {"selfTests", tests},
            {"running",
             {{"operation", OperationName(state.running.operation)},
              {"start", state.running.start},
              {"duration", state.running.duration},
              {"hostWaits", state.running.hostWaits}}},
            {"grownDefects", state.grownDefects},
            {"reassigned", state.reassigned},
            {"notReadyRounds", state.notReadyRounds},
            {"formatCorrupted", state.formatCorrupted},
            {"createdAt", state.createdAt}};
}

UnitState FromJson(const json& in)
{
    UnitState state;
    try {
        state.revision = in.at("revision").get<std::string>();
        state.scsiFirmware = in.at("scsiFirmware").get<std::string>();
        state.blockSize = Whole<std::uint32_t>(in, "blockSize");
        state.blocks = Whole<std::uint64_t>(in, "blocks");
        state.pendingBlockSize = Whole<std::uint32_t>(in, "pendingBlockSize");
        state.currentPages = PagesFrom(in.at("currentPages"));
        state.savedPages = PagesFrom(in.at("savedPages"));
        for (const auto& e : in.at("selfTests")) {
            const auto sense = Wholes<std::uint8_t>(e.at("sense"), "sense");
            if (sense.size() != 3) {
                throw std::runtime_error("a self-test entry's sense must hold 3 bytes");
            }
            state.selfTests.push_back({Whole<std::uint8_t>(e, "code"), Whole<std::uint8_t>(e, "result"),
                                       Whole<std::uint8_t>(e, "segment"), Whole<std::uint16_t>(e, "hours"),
                                       Whole<std::uint64_t>(e, "failedLba"), sense[0], sense[1], sense[2]});
        }
        const json& running = in.at("running");
        state.running = {OperationFrom(running.at("operation").get<std::string>()),
                         Seconds(running, "start", kLatestTime), Seconds(running, "duration", kLongestRun),
                         Flag(running, "hostWaits")};
        state.grownDefects = Wholes<std::uint64_t>(in.at("grownDefects"), "grownDefects");
        state.reassigned = Wholes<std::uint64_t>(in.at("reassigned"), "reassigned");
        state.notReadyRounds = static_cast<int>(Whole<std::int32_t>(in, "notReadyRounds"));
        state.formatCorrupted = Flag(in, "formatCorrupted");
        state.createdAt = Seconds(in, "createdAt", kLatestTime);
    } catch (const json::exception& e) {
        throw std::runtime_error(e.what());
    } catch (const std::logic_error& e) {  // stoi of a page code
        throw std::runtime_error(std::string("bad mode page code: ") + e.what());
    }
    if (!IsValidBlockSize(state.blockSize) || state.blocks == 0 || state.blocks > (1ULL << 48) / state.blockSize) {
        throw std::runtime_error("block size or count out of range");
    }
    if (state.pendingBlockSize != 0 && !IsValidBlockSize(state.pendingBlockSize)) {
        throw std::runtime_error("pending block size out of range");
    }
    if (state.selfTests.size() > 20 || state.notReadyRounds < 0) {
        throw std::runtime_error("self-test log or not-ready rounds out of range");
    }
    return state;
}

}  // namespace harrow::machine::drives
