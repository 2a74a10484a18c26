#pragma once

#include <string>

// What the health options of the command line asked for.
struct HealthRequest {
    std::string selfTestAction;  // short, extended or abort
    std::string metricsFile;
    std::string problem;  // why the command line is refused; empty when it is not
};
