// The command line of mdrelay's reading mode (mdrelay --read).
#pragma once

#include "BusConsumer.h"
#include "BusFlags.h"
#include "CaptureSettings.h"

#include <string>
#include <vector>

namespace mdrelay {

struct ReadOptions {
    BusOptions bus;
    std::vector<std::string> instruments; // none: everything in the stream
    std::vector<std::string> forquote;
    ReadStart start;
    std::string durable;
    std::string csv;
    mdtools::CaptureSettings capture;
    double durationSeconds = 0;
    bool toEnd = false;
    bool quiet = false;
    bool help = false;
};

bool ParseReadOptions(const std::vector<std::string>& args, ReadOptions& out, std::string& error);

// The consumers' subject filters for the options.
std::vector<std::string> ReadFilters(const ReadOptions& o);

std::string ReadUsage();

} // namespace mdrelay
