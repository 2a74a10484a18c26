#include "cli/RmaForm.h"

#include "frontend/RmaForm.h"
#include "platform/OutputFile.h"

#include <cstdio>
#include <string>

namespace {

constexpr std::size_t INPUT_BYTES = 80;

// One typed line with its line end. A longer line is cut to the field's size
// and its rest dropped, so it cannot spill into the next field; a line the
// input ended without gets a line end of its own.
std::string Ask(const char* prompt)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::string line;
    int c = 0;
    while ((c = std::getchar()) != EOF && c != '\n') {
        if (line.size() + 1 < INPUT_BYTES) {
            line.push_back(static_cast<char>(c));
        }
    }
    return line + "\n";
}

}  // namespace

int WriteRmaForm(const DeviceRecord& record)
{
    const std::string header = RmaHeader();
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(RMA_FILE_NAME, harrow::platform::OutputMode::Append, &reason);
    if (!file) {
        std::fprintf(stderr, "harrow: %s: %s\n", RMA_FILE_NAME, reason.c_str());
        std::printf("\nError opening RMA file rmalog.txt\n\n");
        return 1;
    }
    RmaContact contact;
    contact.name = Ask("\nEnter contact name : ");
    contact.phone = Ask("Enter contact phone number : ");
    contact.email = Ask("Enter contact email : ");
    if (!PrintRmaForm(file.get(), header, record, contact)) {
        std::printf("\nError writing RMA file rmalog.txt\n\n");
        return 1;
    }
    return 0;
}
