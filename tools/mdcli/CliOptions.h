// mdcli's command line.
#pragma once

#include <string>
#include <vector>

namespace mdcli {

struct CliOptions {
    std::vector<std::string> fronts; // tcp://HOST:PORT, in failover order
    std::string user;
    std::string password;
    std::string broker;
    std::vector<std::string> instruments;
    std::vector<std::string> forquote;
    std::string csv;
    double duration_seconds = 0; // 0: until Ctrl-C
    // 0: the client CreateFtdcMdApi gives (MDLINK_LINKS decides); 1 to 8:
    // that many links, whatever MDLINK_LINKS says.
    int links = 0;
    bool quiet = false;
    bool help = false;
};

// Parses the arguments after the program name; false with a message for
// an unknown flag, a bad value or a missing --front.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& out, std::string& error);

std::string CliUsage();

// "a,b,,c" -> {"a", "b", "c"}
std::vector<std::string> SplitList(const std::string& text);

} // namespace mdcli
