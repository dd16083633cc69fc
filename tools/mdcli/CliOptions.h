// mdcli's command line.
#pragma once

#include <string>
#include <vector>

namespace mdcli {

struct CliOptions {
    std::vector<std::string> fronts; // tcp://HOST:PORT, in failover order
    std::string user;
    std::string password;
    std::string password_file; // --password-file; read by ResolvePassword
    bool password_given = false; // --password was on the command line
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

// The environment variable a password is read from when no flag gives one.
constexpr const char* PasswordVariable = "MDCLI_PASSWORD";

// Settles the password, after ParseCliOptions: --password as given, else the
// first line of the --password-file file, else `environment` (the value of
// PasswordVariable, null when unset), else empty. False with a message when
// both flags were given, the file cannot be read, or the password is longer
// than the login record holds.
bool ResolvePassword(CliOptions& options, const char* environment, std::string& error);

std::string CliUsage();

// "a,b,,c" -> {"a", "b", "c"}
std::vector<std::string> SplitList(const std::string& text);

} // namespace mdcli
