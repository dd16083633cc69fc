// What the soak reads about its own process and from the clients' log.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace soak {

struct ProcessFigures {
    std::uint64_t residentBytes = 0;
    std::uint64_t heapInUseBytes = 0; // what the allocator has handed out and not had back
    int descriptors = 0;
    int threads = 0;
};

// Resident memory (after giving freed heap back to the system, so that what
// is counted is what is in use), open descriptors and threads (Linux /proc).
ProcessFigures ReadProcess();

// Sums of the counts in the err records the library writes when an
// application callback throws, by callback name, over every log file in dir.
struct ThrowRecords {
    std::map<std::string, std::uint64_t> byCallback;
    std::uint64_t total = 0;
    std::uint64_t lines = 0;
};
ThrowRecords ReadThrowRecords(const std::string& dir);

// Parses one log line; false when it is not such a record.
bool ParseThrowRecord(const std::string& line, std::string& callback, std::uint64_t& count);

} // namespace soak
