#include "cli/HarrowCli.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Each line reaches a file or pipe as it is written, so a run stopped by
    // Ctrl+C keeps what it printed and a reader sees the progress live.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    HarrowCli program;
    return program.Run(std::vector<std::string>(argv, argv + argc));
}
