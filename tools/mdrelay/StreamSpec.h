// The stream mdrelay publishes into, as its options describe it, and how an
// existing stream differs from that description. No bus here: StreamSetup
// reads and writes the server's view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mdrelay {

enum class Storage { File, Memory };

struct StreamSpec {
    std::string name = "MD";
    std::vector<std::string> subjects; // default: "<prefix>.>"
    Storage storage = Storage::File;
    std::int64_t maxAgeNs = 24LL * 3600 * 1'000'000'000; // 0: no limit
    std::int64_t maxBytes = 0;                           // 0: no limit
    int replicas = 1;
    std::int64_t duplicateWindowNs = 120LL * 1'000'000'000;
};

// What to do when the stream exists and differs from the options.
enum class MismatchPolicy {
    Fail,   // report the differences and exit
    Use,    // report them and publish into the stream as it is
    Update, // report them and change the stream to the options
};

// One line per member that differs: "replicas: the stream has 1, the
// options say 3". Empty when they agree.
std::vector<std::string> StreamDifferences(const StreamSpec& options, const StreamSpec& stream);

const char* StorageName(Storage s);

} // namespace mdrelay
