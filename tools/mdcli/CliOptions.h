// mdcli's command line.
#pragma once

#include "CaptureSettings.h"
#include "SessionOptions.h"

#include <string>
#include <vector>

namespace mdcli {

// The session's part: --front, --user, --password (password_given),
// --password-file, --broker, --instruments, --forquote, --links.
struct CliOptions : mdtools::SessionOptions {
    std::string csv;
    mdtools::CaptureSettings capture;
    double duration_seconds = 0; // 0: until Ctrl-C
    bool quiet = false;
    std::string metrics; // --metrics [HOST]:PORT; empty: none
    bool help = false;
};

// Parses the arguments after the program name; false with a message for
// an unknown flag, a bad value or a missing --front.
bool ParseCliOptions(const std::vector<std::string>& args, CliOptions& out, std::string& error);

// The environment variable a password is read from when no flag gives one;
// after ParseCliOptions, mdtools::ResolvePassword settles the password.
constexpr const char* PasswordVariable = "MDCLI_PASSWORD";

std::string CliUsage();

} // namespace mdcli
