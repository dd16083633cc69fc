// mdfront's command line, parsed into a FrontConfig.
#pragma once

#include "FrontConfig.h"

#include <string>
#include <vector>

namespace mdfront {

struct FrontOptions {
    FrontConfig config;
    bool verbose = false;
    bool help = false;
    std::string metrics;         // --metrics [HOST]:PORT; empty: none
    double duration_seconds = 0; // 0: until interrupted
};

// Parses the arguments after the program name. Returns false with a
// message for an unknown flag or a bad value.
bool ParseFrontOptions(const std::vector<std::string>& args, FrontOptions& out, std::string& error);

// The text of --help: usage and one entry per flag.
std::string FrontUsage();

// Every flag's name, without the leading dashes.
std::vector<std::string> FrontFlagNames();

// "au2612,IF2612@CFFEX" -> instruments; an id without "@EXCHANGE" gets the
// exchange its product usually trades on, else defaultExchange.
std::vector<InstrumentInfo> ParseInstrumentList(const std::string& text, const std::string& defaultExchange);

} // namespace mdfront
