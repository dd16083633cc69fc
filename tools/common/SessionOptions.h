// What a client tool's front session needs to know: where to connect, the
// login, what to subscribe and over how many links. mdcli's command line
// fills it from its flags, mdrelay's from its own.
#pragma once

#include <string>
#include <vector>

namespace mdtools {

struct SessionOptions {
    std::vector<std::string> fronts; // tcp://HOST:PORT, in failover order
    std::string user;
    std::string password;
    std::string password_file;   // read by ResolvePassword
    bool password_given = false; // the password was given as it is (mdcli --password)
    std::string broker;
    std::vector<std::string> instruments;
    std::vector<std::string> forquote;
    // 0: the client CreateFtdcMdApi gives (MDLINK_LINKS decides); 1 to 8:
    // that many links, whatever MDLINK_LINKS says.
    int links = 0;
};

// Settles the password: as given, else the first line of the password_file
// file, else `environment` (the value of the tool's variable, null when
// unset), else empty. False with a message when both a password and a file
// were given, the file cannot be read, or the password is longer than the
// login record holds.
bool ResolvePassword(SessionOptions& options, const char* environment, std::string& error);

} // namespace mdtools
