// bench_lifecycle: what creating and releasing clients costs the loop thread,
// which every client of the process shares.
//
// N clients are created, each Init'ed to a loopback listener that accepts
// and holds the connections, then all are released, back to back. For each
// Init the loop thread's own CPU time is read around the work it does for
// the call (Init is called from a function the loop runs, so the work is
// done right there); for each Release, around the call from this thread,
// with every client idle. The thread CPU clock leaves out the time the
// shared machine keeps the loop thread waiting.
//
//   bench_lifecycle [--clients N] [--rounds R]
#include "KelvoBase.h"
#include "MdApi.h"

#include <asio.hpp>

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>
#include <thread>
#include <vector>

namespace {

// Accepts and holds every connection until stopped.
class Listener {
public:
    Listener() : acceptor_(io_, {asio::ip::make_address("127.0.0.1"), 0})
    {
        Accept();
        thread_ = std::thread([this] { io_.run(); });
    }
    ~Listener()
    {
        io_.stop();
        thread_.join();
    }
    unsigned short Port() const { return acceptor_.local_endpoint().port(); }

private:
    void Accept()
    {
        acceptor_.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket s) {
            if (!ec)
                held_.push_back(std::move(s));
            Accept();
        });
    }

    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
    std::list<asio::ip::tcp::socket> held_;
    std::thread thread_;
};

class CountingSpi final : public CThostFtdcMdSpi {
public:
    std::atomic<int> connected{0};
    void OnFrontConnected() override { connected.fetch_add(1); }
};

double CpuMicros(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

clockid_t LoopClock()
{
    clockid_t clock{};
    Kelvo_LOOP_Call([](void* p) { pthread_getcpuclockid(pthread_self(), static_cast<clockid_t*>(p)); },
                    &clock);
    return clock;
}

struct InitCall {
    CThostFtdcMdApi* api;
    double micros;
};

void Report(const char* what, std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    const double median = samples[samples.size() / 2];
    std::printf("%-8s median %8.1f us   max %8.1f us   (%zu calls)\n", what, median, samples.back(),
                samples.size());
}

} // namespace

int main(int argc, char** argv)
{
    int clients = 64;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--clients") == 0)
            clients = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::atoi(argv[i + 1]);
    }
    Listener listener;
    std::string front = "tcp://127.0.0.1:" + std::to_string(listener.Port());
    const clockid_t loop = LoopClock();
    std::vector<double> inits;
    std::vector<double> releases;
    for (int round = 0; round < rounds; ++round) {
        CountingSpi spi;
        std::vector<CThostFtdcMdApi*> apis;
        for (int i = 0; i < clients; ++i) {
            CThostFtdcMdApi* api = CThostFtdcMdApi::CreateFtdcMdApi("", false, false);
            api->RegisterSpi(&spi);
            api->RegisterFront(&front[0]);
            InitCall call{api, 0};
            Kelvo_LOOP_Call(
                [](void* p) {
                    auto* c = static_cast<InitCall*>(p);
                    timespec ts{};
                    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
                    const double start = static_cast<double>(ts.tv_sec) * 1e6 + ts.tv_nsec / 1e3;
                    c->api->Init();
                    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
                    c->micros = static_cast<double>(ts.tv_sec) * 1e6 + ts.tv_nsec / 1e3 - start;
                },
                &call);
            inits.push_back(call.micros);
            apis.push_back(api);
        }
        while (spi.connected.load() < clients)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        for (CThostFtdcMdApi* api : apis) {
            const double start = CpuMicros(loop);
            api->Release();
            releases.push_back(CpuMicros(loop) - start);
        }
    }
    std::printf("%d clients, %d rounds; loop thread CPU time per call\n", clients, rounds);
    Report("Init", inits);
    Report("Release", releases);
    return 0;
}
