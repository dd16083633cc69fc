// Receivers in a child process: the low-latency mode is chosen by the
// environment when the library's loop starts, once per process, and a
// system-call count must see the receiver alone.
#include "Receivers.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace bench {

namespace {

const char* const Names[] = {"raw", "naive", "library", "low-latency", "raw-epoll", "raw-poll"};
constexpr int NameCount = sizeof Names / sizeof Names[0];

} // namespace

const char* Name(Receiver receiver)
{
    return Names[static_cast<int>(receiver)];
}

bool FromName(const std::string& name, Receiver& receiver)
{
    for (int i = 0; i < NameCount; ++i) {
        if (name == Names[i]) {
            receiver = static_cast<Receiver>(i);
            return true;
        }
    }
    return false;
}

std::vector<std::int64_t> ChildLatency(Receiver receiver, int port, long frames, long warmup,
                                       const std::vector<std::string>& wrapper)
{
    char path[] = "/tmp/bench_e2e_samples_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("cannot create a file for the child's samples");
    close(fd);

    // /proc/self/exe names this program only in this process, not in a wrapper.
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        throw std::runtime_error("cannot find this program");
    self[n] = '\0';
    std::vector<std::string> args(wrapper);
    for (const std::string& a :
         {std::string(self), std::string("--child"), std::string(Name(receiver)), std::to_string(port),
          std::to_string(frames), std::to_string(warmup), std::string(path)})
        args.push_back(a);

    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        env.emplace_back(*e);
    if (receiver == Receiver::LowLatency) {
        env.push_back("MDLINK_LOOP_POLL=1");
        env.push_back("MDLINK_LOOP_CPU=" + std::to_string(PollCpu()));
    }
    std::vector<char*> argv, envp;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    for (std::string& e : env)
        envp.push_back(&e[0]);
    envp.push_back(nullptr);

    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        throw std::runtime_error(std::string("cannot start ") + argv[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::vector<std::int64_t> samples;
    {
        std::ifstream in(path, std::ios::binary);
        std::int64_t v;
        while (in.read(reinterpret_cast<char*>(&v), sizeof v))
            samples.push_back(v);
    }
    std::remove(path);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(std::string("the ") + Name(receiver) + " receiver's process failed");
    return samples;
}

int RunChild(const std::string& name, int port, long frames, long warmup, const std::string& path)
{
    Receiver receiver;
    if (!FromName(name, receiver))
        return 2;
    const bool library = receiver == Receiver::Library || receiver == Receiver::LowLatency;
    const std::vector<std::int64_t> samples =
        library ? LibraryLatency(port, frames, warmup) : PlainLatency(receiver, port, frames, warmup);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(samples.data()),
              static_cast<std::streamsize>(samples.size() * sizeof samples[0]));
    return out ? 0 : 1;
}

} // namespace bench
