// A program the tests start and stop: its output (stdout and stderr) goes
// to a file, it can be signalled, waited for with a bound, and its memory
// read. A child still running when the object goes is killed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace relaytest {

class Child {
public:
    Child() = default;
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // argv[0] is the program's path; env entries ("NAME=value") are added
    // to this process's environment.
    bool Start(const std::vector<std::string>& argv, const std::string& outputFile,
               const std::vector<std::string>& env = {});
    bool Running();
    void Signal(int sig);
    // The exit status (128 + the signal when one ended it), or -1 when it
    // is still running after `limit`.
    int Wait(std::chrono::milliseconds limit);
    // SIGKILL, then reaped.
    void Kill();

    pid_t Pid() const { return pid_; }
    std::string Output() const;
    // VmRSS and VmHWM of /proc/PID/status; 0 when it cannot be read.
    long ResidentKiB() const;
    long PeakResidentKiB() const;

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string outputFile_;
};

} // namespace relaytest
