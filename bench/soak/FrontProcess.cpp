#include "FrontProcess.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace soak {

namespace {

// Messages are plain structs in sequenced packets: both ends are this
// program on this machine.
enum : std::int32_t { AskFigures = 1, AskStop = 2, AskExit = 3 };

struct Question {
    std::int32_t kind = 0;
    std::int32_t frontId = 0;
    std::int32_t session = 0;
};

struct Answer {
    std::int32_t lookup = 0;
    std::int32_t final = 0;
    std::int32_t acknowledged = 0;
    std::uint64_t wholeBeforeFault = 0;
};

constexpr int MaxFronts = 256; // the probe front included

struct Ports {
    std::int32_t count = 0; // -1: the fronts could not start
    std::uint16_t port[MaxFronts] = {};
};

void SendAll(int fd, const void* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(size))
            return;
        if (n < 0 && errno == EINTR)
            continue;
        throw std::runtime_error("front process: send failed");
    }
}

// False at the end of the stream.
bool Receive(int fd, void* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = recv(fd, data, size, 0);
        if (n == static_cast<ssize_t>(size))
            return true;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return false;
        throw std::runtime_error("front process: short or failed receive");
    }
}

} // namespace

FrontProcess::FrontProcess(const Options& options, std::uint64_t seed) : opt_(options), seed_(seed)
{
    if (opt_.fronts + 2 * opt_.Pairs() >= MaxFronts)
        throw std::runtime_error("at most 256 fronts, pairs counted");
}

FrontProcess::~FrontProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0)
        close(fd_);
}

void FrontProcess::Start()
{
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::runtime_error("front process: socketpair failed");
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("front process: fork failed");
    if (pid == 0) {
        close(fds[0]);
        fd_ = fds[1];
        Child();
    }
    close(fds[1]);
    fd_ = fds[0];
    pid_ = pid;
    Ports ports;
    const int all = opt_.fronts + 2 * opt_.Pairs();
    if (!Receive(fd_, &ports, sizeof ports) || ports.count != all + 1)
        throw std::runtime_error("the fronts did not start");
    auto address = [&ports](int i) { return "tcp://127.0.0.1:" + std::to_string(ports.port[i]); };
    for (int i = 0; i < opt_.fronts; ++i)
        addresses_.push_back(address(i));
    for (int i = opt_.fronts; i < all; i += 2)
        pairs_.push_back({address(i), address(i + 1)});
    probe_ = address(all);
}

FrontPool::Lookup FrontProcess::Figures(int frontId, int session, ConnFigures& out)
{
    Question q;
    q.kind = AskFigures;
    q.frontId = frontId;
    q.session = session;
    SendAll(fd_, &q, sizeof q);
    Answer a;
    if (!Receive(fd_, &a, sizeof a))
        throw std::runtime_error("the front process ended early");
    out.final = a.final != 0;
    out.wholeBeforeFault = a.wholeBeforeFault;
    out.acknowledged = a.acknowledged != 0;
    return static_cast<FrontPool::Lookup>(a.lookup);
}

void FrontProcess::Stop()
{
    Question q;
    q.kind = AskStop;
    SendAll(fd_, &q, sizeof q);
    Answer a;
    if (!Receive(fd_, &a, sizeof a))
        throw std::runtime_error("the front process ended early");
}

FrontCounts FrontProcess::Exit()
{
    Question q;
    q.kind = AskExit;
    SendAll(fd_, &q, sizeof q);
    FrontCounts counts;
    if (!Receive(fd_, &counts, sizeof counts))
        throw std::runtime_error("the front process ended early");
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return counts; // the socket closes with this object, after the soak's last count of descriptors
}

void FrontProcess::Child()
{
    prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive the soak
    int status = 0;
    try {
        FrontPool pool(opt_, seed_);
        Ports ports;
        try {
            pool.Start();
            const std::vector<std::uint16_t> bound = pool.Ports();
            ports.count = static_cast<std::int32_t>(bound.size());
            for (std::size_t i = 0; i < bound.size(); ++i)
                ports.port[i] = bound[i];
        } catch (const std::exception& e) {
            std::fprintf(stderr, "soak: fronts: %s\n", e.what());
            ports.count = -1;
        }
        SendAll(fd_, &ports, sizeof ports);
        bool stopped = false;
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            const int ready = poll(&p, 1, 100);
            if (!stopped)
                pool.Step(Clock::now());
            if (ready <= 0)
                continue;
            Question q;
            if (!Receive(fd_, &q, sizeof q))
                break; // the soak is gone
            if (q.kind == AskStop) {
                pool.Stop();
                stopped = true;
                const Answer done;
                SendAll(fd_, &done, sizeof done);
                continue;
            }
            if (q.kind == AskExit) {
                FrontCounts counts;
                counts.connections = pool.Connections();
                counts.runs = pool.runs;
                counts.kills = pool.kills;
                counts.drainedKills = pool.drainedKills;
                counts.failedStarts = pool.failedStarts;
                SendAll(fd_, &counts, sizeof counts);
                break;
            }
            ConnFigures fig;
            Answer a;
            a.lookup = static_cast<std::int32_t>(pool.Figures(q.frontId, q.session, fig));
            a.final = fig.final ? 1 : 0;
            a.wholeBeforeFault = fig.wholeBeforeFault;
            a.acknowledged = fig.acknowledged ? 1 : 0;
            SendAll(fd_, &a, sizeof a);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak: fronts: %s\n", e.what());
        status = 1;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

} // namespace soak
