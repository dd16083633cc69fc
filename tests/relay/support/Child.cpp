#include "Child.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace relaytest {

namespace {

long StatusKiB(pid_t pid, const char* key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return 0;
}

} // namespace

Child::~Child()
{
    Kill();
}

bool Child::Start(const std::vector<std::string>& argv, const std::string& outputFile,
                  const std::vector<std::string>& env)
{
    outputFile_ = outputFile;
    status_ = -1;
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> envText;
    for (char** e = environ; *e; ++e)
        envText.push_back(*e);
    envText.insert(envText.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (const std::string& e : envText)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        pid_ = -1;
    return rc == 0;
}

bool Child::Running()
{
    return Wait(std::chrono::milliseconds(0)) == -1 && pid_ > 0;
}

void Child::Signal(int sig)
{
    if (pid_ > 0)
        kill(pid_, sig);
}

int Child::Wait(std::chrono::milliseconds limit)
{
    if (pid_ <= 0)
        return status_;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
            return status_;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10)); // polling a child's exit
    }
}

void Child::Kill()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = 128 + SIGKILL;
    pid_ = -1;
}

std::string Child::Output() const
{
    std::ifstream in(outputFile_);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

long Child::ResidentKiB() const
{
    return pid_ > 0 ? StatusKiB(pid_, "VmRSS:") : 0;
}

long Child::PeakResidentKiB() const
{
    return pid_ > 0 ? StatusKiB(pid_, "VmHWM:") : 0;
}

} // namespace relaytest
