#include "cli/RmaForm.h"

#include "frontend/RmaForm.h"
#include "platform/OutputFile.h"

#include <cstdio>
#include <optional>
#include <string>

namespace {

constexpr std::size_t kInputBytes = 80;

// One typed line with its line end. A longer line is cut to the field's size
// and its rest dropped, so it cannot spill into the next field; a line the
// input ended without gets a line end of its own. Nothing when the input had
// already ended: no line was typed.
std::optional<std::string> Ask(const char* prompt)
{
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    std::string line;
    int c = std::getchar();
    if (c == EOF) {
        return std::nullopt;
    }
    for (; c != EOF && c != '\n'; c = std::getchar()) {
        if (line.size() + 1 < kInputBytes) {
            line.push_back(static_cast<char>(c));
        }
    }
    return line + "\n";
}

constexpr int kExitNoInput = 1;

}  // namespace

int WriteRmaForm(const DeviceRecord& record)
{
    const std::string header = RmaHeader();
    std::string reason;
    const harrow::platform::OutputFile file =
        harrow::platform::OpenOutputFile(kRmaFileName, harrow::platform::OutputMode::Append, &reason);
    if (!file) {
        std::fprintf(stderr, "harrow: %s: %s\n", kRmaFileName, reason.c_str());
        std::printf("\nError opening RMA file rmalog.txt\n\n");
        return 1;
    }
    const auto name = Ask("\nEnter contact name : ");
    const auto phone = name ? Ask("Enter contact phone number : ") : std::nullopt;
    const auto email = phone ? Ask("Enter contact email : ") : std::nullopt;
    if (!email) {
        std::fflush(stdout);
        std::fprintf(stderr, "HarrowCLI: -r reads the contact name, phone number and email from standard input, "
                             "which ended before them; no form was written\n");
        return kExitNoInput;
    }
    RmaContact contact;
    contact.name = *name;
    contact.phone = *phone;
    contact.email = *email;
    if (!PrintRmaForm(file.get(), header, record, contact)) {
        std::printf("\nError writing RMA file rmalog.txt\n\n");
        return 1;
    }
    return 0;
}
