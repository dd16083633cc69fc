// mdcap: looks into, checks, cuts and merges capture files
// (docs/capture-format.md). The commands are in Commands.cpp and Merge.cpp.
#include "CapOptions.h"
#include "Commands.h"

#include <cstdio>
#include <iostream>

int main(int argc, char** argv)
{
    mdcap::CapOptions options;
    std::string error;
    if (!mdcap::ParseCapOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "mdcap: %s (try --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(mdcap::CapUsage().c_str(), stdout);
        return 0;
    }
    std::ios::sync_with_stdio(false);
    return mdcap::Run(options, std::cout, std::cerr);
}
