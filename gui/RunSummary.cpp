#include "gui/RunSummary.h"

#include "frontend/TextFormat.h"

std::string RunSummary(const std::vector<const DeviceRecord*>& records)
{
    int passed = 0;
    int failed = 0;
    int aborted = 0;
    int skipped = 0;
    for (const DeviceRecord* record : records) {
        switch (record->state) {
        case TEST_PASSED: ++passed; break;
        case TEST_FAILED: ++failed; break;
        case TEST_ABORTED: ++aborted; break;
        case TEST_RUNNING: break;
        case TEST_NONE: ++skipped; break;
        }
    }
    std::string text = Format("%d passed, %d failed, %d aborted", passed, failed, aborted);
    if (skipped != 0) {
        text += Format(", %d skipped", skipped);
    }
    return text;
}
