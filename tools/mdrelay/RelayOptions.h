// The command line of mdrelay's publishing mode.
#pragma once

#include "BusFlags.h"
#include "CaptureSettings.h"
#include "StreamSpec.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mdrelay {

// The front login's password, when no --password-file is given.
constexpr const char* FrontPasswordVariable = "MDRELAY_FRONT_PASSWORD";

struct RelayOptions {
    BusOptions bus;
    StreamSpec stream;
    MismatchPolicy mismatch = MismatchPolicy::Fail;

    std::vector<std::string> fronts;
    std::string broker;
    std::string user;
    std::string passwordFile;
    std::vector<std::string> instruments;
    std::string instrumentsFile;
    std::vector<std::string> forquote;
    int links = 0; // 0: the library's own client; 1 to 8: as mdcli --links
    mdtools::CaptureSettings capture;

    std::size_t queueRecords = 65536;
    std::size_t inFlight = 4096;
    std::int64_t ackWaitNs = 5'000'000'000;
    std::int64_t stallNs = 1'000'000'000;
    std::int64_t flushNs = 10'000'000'000;
    std::int64_t statusNs = 60'000'000'000;
    double durationSeconds = 0; // 0: until SIGINT or SIGTERM
    std::string metrics;        // --metrics [HOST]:PORT; empty: none
    bool help = false;
};

// Parses the arguments after the program name (and --publish, if given);
// fills the defaults that depend on other flags. False with a message.
bool ParseRelayOptions(const std::vector<std::string>& args, RelayOptions& out, std::string& error);

// Reads --instruments-file into instruments: ids separated by commas, spaces
// or line ends; '#' starts a comment.
bool LoadInstrumentsFile(RelayOptions& o, std::string& error);

std::string RelayUsage();

} // namespace mdrelay
