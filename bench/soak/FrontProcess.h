// The fronts run in a child process of their own, so that the soak's
// process holds only the clients: its resident memory, descriptors and
// threads are the library's and the application's, not the simulator's
// queues. The child runs the FrontPool (kills and restarts on its own
// schedule) and answers the parent's questions over a socket pair.
//
//   parent                         child
//   ------                         -----
//   Start: fork  ---------------->  FrontPool::Start
//                <----------------  ports
//   Figures(run, session) ------->  FrontPool::Figures
//                <----------------  lookup, figures
//   Stop  ----------------------->  FrontPool::Stop
//   Exit  ----------------------->
//                <----------------  fault counts; exits
//
// Start must be called while the process has one thread: fork copies only
// the calling thread.
#pragma once

#include "Fronts.h"
#include "Options.h"

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace soak {

struct FrontCounts {
    std::array<std::uint64_t, static_cast<int>(Fault::Count_)> connections{};
    std::uint64_t runs = 0;
    std::uint64_t kills = 0;
    std::uint64_t drainedKills = 0;
    std::uint64_t failedStarts = 0;
};

class FrontProcess {
public:
    FrontProcess(const Options& options, std::uint64_t seed);
    ~FrontProcess();
    FrontProcess(const FrontProcess&) = delete;
    FrontProcess& operator=(const FrontProcess&) = delete;

    void Start();
    std::vector<std::string> Addresses() const { return addresses_; }
    std::vector<std::vector<std::string>> Pairs() const { return pairs_; }
    std::string ProbeAddress() const { return probe_; }
    FrontPool::Lookup Figures(int frontId, int session, ConnFigures& out);
    // Ends every run; figures stay available.
    void Stop();
    // Ends the child; returns what it counted.
    FrontCounts Exit();

private:
    [[noreturn]] void Child();

    const Options& opt_;
    const std::uint64_t seed_;
    int fd_ = -1;
    pid_t pid_ = -1;
    std::vector<std::string> addresses_;
    std::vector<std::vector<std::string>> pairs_;
    std::string probe_;
};

} // namespace soak
