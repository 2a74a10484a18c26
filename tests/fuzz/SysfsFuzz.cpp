// Builds a small sysfs tree from the input and reads it as this computer's
// SCSI hosts. Input: records of a file selector byte, a length byte and that
// many bytes of content; the first record names the unit's folder.
#include "machine/linux/SysfsTopology.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const char* const kFiles[] = {"type", "vendor", "model", "rev", "inquiry", "scsi_generic/sg0/dev"};
const char* const kHostFiles[] = {"proc_name", "sg_tablesize", "this_id"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::current_path() / "fuzz-sysfs";
    fs::remove_all(root);
    const fs::path host = root / "class" / "scsi_host" / "host0";
    fs::create_directories(host);
    std::string unitName = "0:0:0:0";
    fs::path unit;
    for (std::size_t at = 0; at + 2 <= size;) {
        const std::uint8_t selector = input[at];
        const std::size_t length = std::min<std::size_t>(input[at + 1], size - at - 2);
        std::string content(reinterpret_cast<const char*>(input + at + 2), length);
        at += 2 + length;
        if (unit.empty()) {
            if (selector % 2 == 0 && !content.empty() && content.find('/') == std::string::npos &&
                content.find('\0') == std::string::npos &&
                content != "." && content != "..") {
                unitName = content;
            }
            unit = root / "bus" / "scsi" / "devices" / unitName;
            fs::create_directories(unit / "scsi_generic" / "sg0");
            continue;
        }
        const std::size_t count = std::size(kFiles) + std::size(kHostFiles);
        const std::size_t which = selector % count;
        const fs::path file = which < std::size(kFiles) ? unit / kFiles[which]
                                                         : host / kHostFiles[which - std::size(kFiles)];
        std::ofstream(file, std::ios::binary) << content;
    }
    auto topology = harrow::machine::SysfsTopology::Read(root);
    topology.ReplaceHost(0, harrow::machine::SysfsTopology::ReadHost(root, 0));
    for (const auto& each : topology.Hosts()) {
        for (const auto channel : each.Channels()) {
            each.BusCount(channel);
        }
        for (const auto& listed : each.units) {
            harrow::machine::SysfsTopology::ReadSgName(root, listed.address);
        }
    }
    return 0;
}
