// mdrelay's two modes, each a whole program run, and their exit codes.
#pragma once

#include <string>
#include <vector>

namespace mdrelay {

enum ExitCode {
    ExitOk = 0,
    ExitUnflushed = 1, // the relay: records left unacknowledged; the reader: none read
    ExitUsage = 2,     // bad command line, or a file that cannot be read or written
    ExitNoBus = 3,     // no NATS server reachable, or the login refused
    ExitStream = 4,    // the stream differs, or could not be created or read
};

int RunRelay(const std::vector<std::string>& args);
int RunReader(const std::vector<std::string>& args);

} // namespace mdrelay
