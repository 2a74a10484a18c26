// Takes arbitrary bytes as a target's REPORT LUNS answer and lays the LUNs it
// names out as a port's bus list; the first input line also goes through the
// iSCSI address parser.
#include "machine/PortLayout.h"
#include "machine/iscsi/LunReport.h"
#include "machine/iscsi/IscsiTarget.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    using namespace harrow::machine;
    const std::string text(reinterpret_cast<const char*>(input), size);
    try {
        ParseIscsiTargets(text.substr(0, text.find('\n')));
    } catch (const std::invalid_argument&) {
    } catch (const std::runtime_error&) {
    }
    std::vector<std::string> notes;
    ListedPort port;
    for (const unsigned lun : LunsFromReport(std::span<const std::uint8_t>(input, size), &notes)) {
        if (lun > 255) {
            std::abort();
        }
        ListedUnit unit;
        unit.lun = static_cast<UCHAR>(lun);
        port.units.push_back(unit);
    }
    BuildBusInfo(port);
    return 0;
}
