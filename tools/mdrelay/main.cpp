// mdrelay: the feed into NATS JetStream (the default mode), and read back
// from it (--read).
#include "Modes.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    // Its output is a log that others follow: each line as it is written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--read") != args.end())
        return mdrelay::RunReader(args);
    return mdrelay::RunRelay(args);
}
