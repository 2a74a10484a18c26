#include "cli/HarrowCli.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    HarrowCli program;
    return program.Run(std::vector<std::string>(argv, argv + argc));
}
