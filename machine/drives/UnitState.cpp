#include "machine/drives/UnitState.h"

#include "machine/drives/UnitConfig.h"

#include <stdexcept>

namespace harrow::machine::drives {
namespace {

using nlohmann::json;

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
        pages[code] = item.value().get<std::vector<std::uint8_t>>();
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
              {"duration", state.running.duration}}},
            {"grownDefects", state.grownDefects},
            {"reassigned", state.reassigned},
            {"notReadyRounds", state.notReadyRounds},
            {"createdAt", state.createdAt}};
}

UnitState FromJson(const json& in)
{
    UnitState state;
    try {
        state.revision = in.at("revision").get<std::string>();
        state.scsiFirmware = in.at("scsiFirmware").get<std::string>();
        state.blockSize = in.at("blockSize").get<std::uint32_t>();
        state.blocks = in.at("blocks").get<std::uint64_t>();
        state.pendingBlockSize = in.at("pendingBlockSize").get<std::uint32_t>();
        state.currentPages = PagesFrom(in.at("currentPages"));
        state.savedPages = PagesFrom(in.at("savedPages"));
        for (const auto& e : in.at("selfTests")) {
            const auto sense = e.at("sense").get<std::vector<std::uint8_t>>();
            if (sense.size() != 3) {
                throw std::runtime_error("a self-test entry's sense must hold 3 bytes");
            }
            state.selfTests.push_back({e.at("code").get<std::uint8_t>(), e.at("result").get<std::uint8_t>(),
                                       e.at("segment").get<std::uint8_t>(), e.at("hours").get<std::uint16_t>(),
                                       e.at("failedLba").get<std::uint64_t>(), sense[0], sense[1], sense[2]});
        }
        const json& running = in.at("running");
        state.running = {OperationFrom(running.at("operation").get<std::string>()),
                         running.at("start").get<double>(), running.at("duration").get<double>()};
        state.grownDefects = in.at("grownDefects").get<std::vector<std::uint64_t>>();
        state.reassigned = in.at("reassigned").get<std::vector<std::uint64_t>>();
        state.notReadyRounds = in.at("notReadyRounds").get<int>();
        state.createdAt = in.at("createdAt").get<double>();
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
